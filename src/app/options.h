#pragma once

#include <QString>
#include <QStringList>

// The console's command line. Started with none of these, it behaves as it
// always has: files in the current directory, nothing listening.
struct Options
{
    QString remote;          // --remote [ADDR:]PORT: HTTP + WebSocket remote control
    QString remoteToken;     // --remote-token TOKEN: required off loopback
    QStringList remoteNames; // --remote-name NAME (repeatable): Host names taken besides addresses
    QString osc;             // --osc [ADDR:]PORT: OSC over UDP
    QStringList oscAllow;    // --osc-allow CIDR (repeatable): OSC senders beyond loopback
    QString dir;             // --dir DIR: work in DIR instead of the current directory
    QString standby;         // --standby HOST:PORT: follow the main console whose remote is there
    bool dataDir = false; // --data-dir: work in the user's own data directory (the menu's choice)
};

struct ParsedOptions
{
    enum class Outcome { Run, ExitOk, ExitError };
    Outcome outcome = Outcome::Run;
    Options options;
    // What to print before exiting: help or version text (stdout), or the error (stderr).
    QString message;
    // For ExitError: whether the error stands whatever Qt's own options (-platform
    // NAME …) are, which only the application object takes out; false when an
    // unknown option may be one of them.
    bool final = true;
};

// Parses argv-style arguments (the program's name first). Never exits the process itself.
ParsedOptions parseOptions(const QStringList &arguments);
