#include "simulator/simoptions.h"

#include <QCoreApplication>
#include <QHostAddress>

namespace simoptions {
namespace {

QList<QCommandLineOption> options()
{
    return {
        {QStringLiteral("listen"),
         QStringLiteral("Listen as one display on ADDRESS (repeatable; default 127.0.0.1)."),
         QStringLiteral("ADDRESS")},
        {QStringLiteral("port"),
         QStringLiteral("TCP and UDP port (default 1024; 0 = any free TCP port)."),
         QStringLiteral("N")},
        {QStringLiteral("headless"),
         QStringLiteral(
             "No window: one line per connection, frame and datagram on standard output.")},
        {QStringLiteral("refuse"),
         QStringLiteral("Do not listen: the console's connects are refused.")},
        {QStringLiteral("close-after"),
         QStringLiteral("Close each connection SECONDS after it opened (fractions allowed)."),
         QStringLiteral("SECONDS")},
        {QStringLiteral("no-accept"), QStringLiteral("Listen but never accept; the queue is filled "
                                                     "first, so the console's connects hang.")},
        {QStringLiteral("flood"),
         QStringLiteral("Send bytes back on every connection without end.")},
        {QStringLiteral("no-udp"), QStringLiteral("Do not listen for recovery frames.")},
    };
}

SimCommandLine failure(int code, const QString &message)
{
    SimCommandLine out;
    out.outcome = SimCommandLine::Outcome::ExitError;
    out.exitCode = code;
    out.message = message;
    return out;
}

} // namespace

void addTo(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Simulated RV-38T displays: listens for the console on TCP, shows the time frames,\n"
        "and reports recovery frames heard on UDP."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions(options());
}

SimCommandLine parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    addTo(parser);
    if (!parser.parse(arguments))
        return failure(1, parser.errorText() + QStringLiteral("\nTry '--help'."));
    SimCommandLine out;
    for (const char *name : {"help", "help-all", "version"}) {
        if (parser.isSet(QLatin1String(name))) {
            out.outcome = SimCommandLine::Outcome::Show;
            return out;
        }
    }
    SimulatorOptions &o = out.options;
    if (parser.isSet(QStringLiteral("listen"))) {
        o.listen.clear();
        for (const QString &text : parser.values(QStringLiteral("listen"))) {
            const QHostAddress address(text);
            if (address.isNull())
                return failure(2, QStringLiteral("not an address: %1").arg(text));
            o.listen.append(address);
        }
    }
    if (parser.isSet(QStringLiteral("port"))) {
        const QString text = parser.value(QStringLiteral("port"));
        bool ok = false;
        const uint value = text.toUInt(&ok);
        if (!ok || value > 65535)
            return failure(2, QStringLiteral("not a port: %1").arg(text));
        o.port = quint16(value);
    }
    if (parser.isSet(QStringLiteral("close-after"))) {
        const QString text = parser.value(QStringLiteral("close-after"));
        bool ok = false;
        const double seconds = text.toDouble(&ok);
        if (!ok || seconds <= 0 || seconds > 86400)
            return failure(2, QStringLiteral("not a time in seconds: %1").arg(text));
        o.closeAfterMs = qMax(1, qRound(seconds * 1000));
    }
    o.refuse = parser.isSet(QStringLiteral("refuse"));
    o.noAccept = parser.isSet(QStringLiteral("no-accept"));
    o.flood = parser.isSet(QStringLiteral("flood"));
    o.udp = !parser.isSet(QStringLiteral("no-udp"));
    if (o.refuse && o.noAccept)
        return failure(2, QStringLiteral("--refuse and --no-accept exclude each other"));
    out.headless = parser.isSet(QStringLiteral("headless"));
    return out;
}

QStringList withoutQtOptions(const QStringList &arguments)
{
    QStringList valueTaking;
    for (const QCommandLineOption &o : options()) {
        if (!o.valueName().isEmpty())
            valueTaking.append(QStringLiteral("--") + o.names().first());
    }
    QStringList kept;
    bool valueNext = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        const bool qtOption = i > 0 && !valueNext && a.size() > 2 && a.startsWith(QLatin1Char('-'))
                              && a[1] != QLatin1Char('-');
        valueNext = !valueNext && valueTaking.contains(a);
        if (!qtOption)
            kept.append(a);
    }
    return kept;
}

} // namespace simoptions
