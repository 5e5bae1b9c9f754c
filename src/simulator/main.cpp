// rv38t-display-sim: stands in for one or more RV-38T displays on this machine.
// Run it, and the console next to it, inside a private network namespace.

#include "simulator/displaysimulator.h"
#include "simulator/headlessreport.h"
#include "simulator/simoptions.h"
#include "simulator/simwindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <memory>

int main(int argc, char **argv)
{
    QCoreApplication::setApplicationName(QStringLiteral("rv38t-display-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0A"));
    // The command line is settled before a display server is asked for, so
    // help, version and a wrong option work in a terminal without one (ssh, a
    // console) instead of aborting in Qt.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    arguments = simoptions::withoutQtOptions(arguments);
    const SimCommandLine command = simoptions::parse(arguments);
    if (command.outcome == SimCommandLine::Outcome::Show) {
        // Qt's parser prints help or version, naming the program, and exits 0.
        const QCoreApplication core(argc, argv);
        QCommandLineParser parser;
        simoptions::addTo(parser);
        parser.process(arguments);
        return 0;
    }
    if (command.outcome == SimCommandLine::Outcome::ExitError) {
        std::fprintf(stderr, "rv38t-display-sim: %s\n", qPrintable(command.message));
        return command.exitCode;
    }

    // No window, no display server needed: a plain core application.
    std::unique_ptr<QCoreApplication> app;
    if (command.headless)
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);

    const SimulatorOptions &options = command.options;
    DisplaySimulator simulator(options);
    QFile out;
    std::unique_ptr<HeadlessReport> report;
    if (command.headless) {
        out.open(stdout, QIODevice::WriteOnly);
        report = std::make_unique<HeadlessReport>(simulator, &out);
    }
    QString error;
    if (!simulator.start(&error)) {
        std::fprintf(stderr, "rv38t-display-sim: %s\n", qPrintable(error));
        return 1;
    }
    if (report) {
        report->reportStarted();
        return app->exec();
    }
    SimWindow window(simulator);
    window.show();
    return app->exec();
}
