#include "app/options.h"

#include "standby/followed.h"

#include <QCommandLineParser>
#include <QCoreApplication>

ParsedOptions parseOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Operator console for RV-38T countdown displays.\n"
                       "Reads and writes LST_IP.CFG and TITLE.CFG in the current directory."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption remote(
        QStringLiteral("remote"),
        QStringLiteral(
            "Serve HTTP and WebSocket remote control on [ADDR:]PORT (default address 127.0.0.1)."),
        QStringLiteral("[ADDR:]PORT"));
    const QCommandLineOption token(
        QStringLiteral("remote-token"),
        QStringLiteral("Bearer token every control request must carry; required off loopback."),
        QStringLiteral("TOKEN"));
    const QCommandLineOption remoteName(
        QStringLiteral("remote-name"),
        QStringLiteral("Also take NAME in the Host field of remote requests (repeatable): the "
                       "show network's own name for this machine. Addresses and localhost are "
                       "always taken."),
        QStringLiteral("NAME"));
    const QCommandLineOption osc(
        QStringLiteral("osc"),
        QStringLiteral("Accept OSC commands over UDP on [ADDR:]PORT (default address 127.0.0.1)."),
        QStringLiteral("[ADDR:]PORT"));
    const QCommandLineOption oscAllow(
        QStringLiteral("osc-allow"),
        QStringLiteral("Also accept OSC senders from CIDR (repeatable); loopback only otherwise."),
        QStringLiteral("CIDR"));
    const QCommandLineOption dir(
        QStringLiteral("dir"),
        QStringLiteral("Keep LST_IP.CFG and TITLE.CFG in DIR instead of the current directory."),
        QStringLiteral("DIR"));
    const QCommandLineOption dataDir(
        QStringLiteral("data-dir"),
        QStringLiteral(
            "Keep the files in the user's own data directory (as the menu entry starts it)."));
    const QCommandLineOption standby(
        QStringLiteral("standby"),
        QStringLiteral("Follow the main console whose remote control listens at HOST:PORT, "
                       "and take over its displays if it dies. Needs --remote, and the main's "
                       "--remote-token to be fenced."),
        QStringLiteral("HOST:PORT"));
    parser.addOptions({remote, token, remoteName, osc, oscAllow, dir, dataDir, standby});

    ParsedOptions out;
    if (!parser.parse(arguments)) {
        out.outcome = ParsedOptions::Outcome::ExitError;
        out.message = parser.errorText() + QStringLiteral("\nTry '--help'.");
        // Qt's options are a dash and a word, which parse as unknown letters here;
        // an unknown option written as "--name" or "-n" can only be a mistake.
        QStringList ours;
        for (const QString &name : parser.unknownOptionNames()) {
            const QString dashed
                = (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
            for (const QString &a : arguments) {
                if ((a == dashed || a.startsWith(dashed + QLatin1Char('=')))
                    && !ours.contains(dashed))
                    ours.append(dashed);
            }
        }
        out.final = parser.unknownOptionNames().isEmpty() || !ours.isEmpty();
        if (!ours.isEmpty() && ours.size() < parser.unknownOptionNames().size()) // not Qt's letters
            out.message = QStringLiteral("Unknown option: %1\nTry '--help'.").arg(ours.join(", "));
        return out;
    }
    // --help-all too: Qt's own options are listed only by its application object,
    // which needs a display; the console must not start instead.
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        out.outcome = ParsedOptions::Outcome::ExitOk;
        out.message = parser.helpText();
        return out;
    }
    if (parser.isSet(version)) {
        out.outcome = ParsedOptions::Outcome::ExitOk;
        out.message = QCoreApplication::applicationName() + QLatin1Char(' ')
                      + QCoreApplication::applicationVersion() + QLatin1Char('\n');
        return out;
    }
    if (!parser.positionalArguments().isEmpty()) {
        out.outcome = ParsedOptions::Outcome::ExitError;
        out.message = QStringLiteral("Unexpected argument: %1\nTry '--help'.")
                          .arg(parser.positionalArguments().first());
        return out;
    }
    if (parser.isSet(dir) && parser.isSet(dataDir)) {
        out.outcome = ParsedOptions::Outcome::ExitError;
        out.message = QStringLiteral("--dir and --data-dir exclude each other.");
        return out;
    }
    if (parser.isSet(standby)) {
        followed::MainAddress main;
        QString error;
        if (!followed::parseMain(parser.value(standby), &main, &error)) {
            out.outcome = ParsedOptions::Outcome::ExitError;
            out.message = QStringLiteral("--standby ") + error;
            return out;
        }
        if (!parser.isSet(remote)) {
            out.outcome = ParsedOptions::Outcome::ExitError;
            out.message = QStringLiteral(
                "--standby needs --remote: fencing needs the main to be able to reach the "
                "standby's own remote control.");
            return out;
        }
    }
    Options &o = out.options;
    o.standby = parser.value(standby);
    o.remote = parser.value(remote);
    o.remoteToken = parser.value(token);
    o.remoteNames = parser.values(remoteName);
    o.osc = parser.value(osc);
    o.oscAllow = parser.values(oscAllow);
    o.dir = parser.value(dir);
    o.dataDir = parser.isSet(dataDir);
    return out;
}
