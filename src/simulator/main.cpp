// rv38t-display-sim: stands in for one or more RV-38T displays on this machine.
// Run it, and the console next to it, inside a private network namespace.

#include "simulator/displaysimulator.h"
#include "simulator/headlessreport.h"
#include "simulator/simwindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Headless runs and the help text need no display server: a terminal without
// one (ssh, a console) must still get them.
bool needsNoWindow(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        for (const char *option : {"--headless", "--help", "--help-all", "-h", "-?"}) {
            if (std::strcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    // No window, no display server needed: a plain core application.
    std::unique_ptr<QCoreApplication> app;
    if (needsNoWindow(argc, argv))
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rv38t-display-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated RV-38T displays: listens for the console on TCP, shows the time frames,\n"
        "and reports recovery frames heard on UDP."));
    parser.addHelpOption();
    const QCommandLineOption listen(
        QStringLiteral("listen"),
        QStringLiteral("Listen as one display on ADDRESS (repeatable; default 127.0.0.1)."),
        QStringLiteral("ADDRESS"));
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("TCP and UDP port (default 1024; 0 = any free TCP port)."),
        QStringLiteral("N"));
    const QCommandLineOption headless(
        QStringLiteral("headless"),
        QStringLiteral(
            "No window: one line per connection, frame and datagram on standard output."));
    const QCommandLineOption refuse(
        QStringLiteral("refuse"),
        QStringLiteral("Do not listen: the console's connects are refused."));
    const QCommandLineOption closeAfter(
        QStringLiteral("close-after"),
        QStringLiteral("Close each connection SECONDS after it opened (fractions allowed)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption noAccept(
        QStringLiteral("no-accept"),
        QStringLiteral(
            "Listen but never accept; the queue is filled first, so the console's connects hang."));
    const QCommandLineOption flood(
        QStringLiteral("flood"),
        QStringLiteral("Send bytes back on every connection without end."));
    const QCommandLineOption noUdp(QStringLiteral("no-udp"),
                                   QStringLiteral("Do not listen for recovery frames."));
    parser.addOptions({listen, port, headless, refuse, closeAfter, noAccept, flood, noUdp});
    parser.process(*app);

    SimulatorOptions options;
    if (parser.isSet(listen)) {
        options.listen.clear();
        for (const QString &text : parser.values(listen)) {
            const QHostAddress address(text);
            if (address.isNull()) {
                std::fprintf(stderr, "rv38t-display-sim: not an address: %s\n", qPrintable(text));
                return 2;
            }
            options.listen.append(address);
        }
    }
    if (parser.isSet(port)) {
        bool ok = false;
        const uint value = parser.value(port).toUInt(&ok);
        if (!ok || value > 65535) {
            std::fprintf(stderr, "rv38t-display-sim: not a port: %s\n",
                         qPrintable(parser.value(port)));
            return 2;
        }
        options.port = quint16(value);
    }
    if (parser.isSet(closeAfter)) {
        bool ok = false;
        const double seconds = parser.value(closeAfter).toDouble(&ok);
        if (!ok || seconds <= 0 || seconds > 86400) {
            std::fprintf(stderr, "rv38t-display-sim: not a time in seconds: %s\n",
                         qPrintable(parser.value(closeAfter)));
            return 2;
        }
        options.closeAfterMs = qMax(1, qRound(seconds * 1000));
    }
    options.refuse = parser.isSet(refuse);
    options.noAccept = parser.isSet(noAccept);
    options.flood = parser.isSet(flood);
    options.udp = !parser.isSet(noUdp);
    if (options.refuse && options.noAccept) {
        std::fprintf(stderr, "rv38t-display-sim: --refuse and --no-accept exclude each other\n");
        return 2;
    }

    DisplaySimulator simulator(options);
    QFile out;
    std::unique_ptr<HeadlessReport> report;
    if (parser.isSet(headless)) {
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
