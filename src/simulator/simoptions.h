#pragma once

#include "simulator/displaysimulator.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

// The simulator's command line, settled before any display server is asked
// for: help, version and a wrong option work in a terminal without one.
struct SimCommandLine
{
    enum class Outcome {
        Run,
        Show,     // help or version was asked for: Qt's parser prints it and exits 0
        ExitError // `message` on standard error, exit with `exitCode`
    };
    Outcome outcome = Outcome::Run;
    int exitCode = 0; // 1: an unknown option or a missing value; 2: a wrong value
    QString message;
    SimulatorOptions options;
    bool headless = false;
};

namespace simoptions {

// Adds the simulator's options, help and version included, to `parser`.
void addTo(QCommandLineParser &parser);

// Parses argv-style arguments (the program's name first). Never exits the process.
SimCommandLine parse(const QStringList &arguments);

// The arguments without Qt's own options (-platform NAME, -display NAME …), which
// only the application object takes out: what can be parsed before it exists.
// Qt's options are a single dash and a word; the values of ours are kept.
QStringList withoutQtOptions(const QStringList &arguments);

} // namespace simoptions
