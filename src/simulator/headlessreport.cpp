#include "simulator/headlessreport.h"

#include "core/ansi.h"
#include "simulator/displaysimulator.h"

#include <QFileDevice>
#include <QIODevice>

HeadlessReport::HeadlessReport(DisplaySimulator &simulator, QIODevice *out, QObject *parent)
    : QObject(parent), m_simulator(simulator), m_out(out)
{
    connect(&simulator, &DisplaySimulator::ready, this, [this](int display) {
        line(m_simulator.displayName(display), QStringLiteral("not accepting"));
    });
    connect(&simulator, &DisplaySimulator::connectionOpened, this,
            [this](int display, const QString &peer) {
                line(m_simulator.displayName(display), QStringLiteral("connected ") + peer);
            });
    connect(&simulator, &DisplaySimulator::connectionClosed, this,
            [this](int display, const QString &peer) {
                line(m_simulator.displayName(display), QStringLiteral("closed ") + peer);
            });
    connect(&simulator, &DisplaySimulator::frameReceived, this,
            [this](int display, const QString &text) {
                line(m_simulator.displayName(display), QStringLiteral("frame ") + quoted(text));
            });
    connect(&simulator, &DisplaySimulator::recoveryReceived, this,
            [this](const QString &text, int display, const QString &from) {
                const QString named
                    = display < 0 ? QStringLiteral("none") : m_simulator.displayName(display);
                line(QStringLiteral("udp"),
                     QStringLiteral("recovery %1 for %2 from %3").arg(quoted(text), named, from));
            });
    connect(&simulator, &DisplaySimulator::datagramReceived, this,
            [this](const QByteArray &bytes, const QString &from) {
                line(QStringLiteral("udp"), QStringLiteral("datagram %1 from %2")
                                                .arg(QString::fromLatin1(bytes.toHex(' ')), from));
            });
}

void HeadlessReport::reportStarted()
{
    const SimulatorOptions &options = m_simulator.options();
    const QString state = options.refuse     ? QStringLiteral("refusing")
                          : options.noAccept ? QStringLiteral("filling its queue")
                                             : QStringLiteral("listening");
    for (int i = 0; i < m_simulator.displayCount(); ++i)
        line(m_simulator.displayName(i), state);
    if (options.udp)
        line(QStringLiteral("udp"),
             QStringLiteral("listening on port %1").arg(m_simulator.udpPort()));
}

QString HeadlessReport::quoted(const QString &text)
{
    QString out = QStringLiteral("\"");
    for (const char b : ansi::encode(text)) {
        const auto u = static_cast<unsigned char>(b);
        if (u >= 0x20 && u < 0x7F && u != '"' && u != '\\')
            out.append(QLatin1Char(b));
        else
            out.append(QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0')));
    }
    return out + QLatin1Char('"');
}

void HeadlessReport::line(const QString &subject, const QString &what)
{
    const QString text = m_clock().toString(QStringLiteral("HH:mm:ss.zzz")) + QLatin1Char(' ')
                         + subject + QLatin1Char(' ') + what + QLatin1Char('\n');
    m_out->write(text.toUtf8());
    // Flushed per line: the reader is usually a pipe.
    if (auto *file = qobject_cast<QFileDevice *>(m_out))
        file->flush();
}

#include "moc_headlessreport.cpp"
