#include "remote/oscserver.h"

#include "remote/remotehub.h"

#include <QNetworkDatagram>
#include <QStringDecoder>
#include <QUdpSocket>

#include <lo/lo_lowlevel.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

namespace oscmsg {
namespace {

struct MessageFree
{
    void operator()(lo_message m) const { lo_message_free(m); }
};
using Message = std::unique_ptr<std::remove_pointer_t<lo_message>, MessageFree>;

QByteArray serialise(const char *path, lo_message m)
{
    size_t size = 0;
    void *bytes = lo_message_serialise(m, path, nullptr, &size);
    QByteArray out
        = bytes ? QByteArray(static_cast<const char *>(bytes), static_cast<qsizetype>(size))
                : QByteArray();
    free(bytes);
    return out;
}

} // namespace

Decoded decode(const QByteArray &datagram)
{
    Decoded d;
    d.parsed = remotecmd::Parsed::fail(400, QStringLiteral("not an OSC message"));
    if (datagram.isEmpty() || datagram.size() > OscServer::kMaxDatagram || datagram.at(0) != '/')
        return d; // bundles ("#bundle") are not taken
    int result = 0;
    // liblo takes the data as writable; it is copied into the message.
    QByteArray copy = datagram;
    Message m(lo_message_deserialise(copy.data(), static_cast<size_t>(copy.size()), &result));
    if (!m || result != 0)
        return d;
    const char *rawPath = lo_get_path(copy.data(), static_cast<ssize_t>(copy.size()));
    if (!rawPath)
        return d;
    const QByteArray path(rawPath);
    const char *types = lo_message_get_types(m.get());
    const int argc = lo_message_get_argc(m.get());
    lo_arg **argv = lo_message_get_argv(m.get());
    QList<remotecmd::OscArg> args;
    for (int i = 0; i < argc && types && types[i]; ++i) {
        remotecmd::OscArg a;
        a.type = types[i];
        // liblo's argument pointers lie in the packed message, 4-byte aligned at best:
        // copied out, never read through the 8-byte-aligned lo_arg union.
        const char *raw = reinterpret_cast<const char *>(argv[i]);
        switch (types[i]) {
        case 'i': {
            std::int32_t v;
            std::memcpy(&v, raw, sizeof v);
            a.integer = v;
            break;
        }
        case 'h': {
            std::int64_t v;
            std::memcpy(&v, raw, sizeof v);
            a.integer = v;
            break;
        }
        case 'f': {
            float v;
            std::memcpy(&v, raw, sizeof v);
            a.real = v;
            break;
        }
        case 'd': {
            double v;
            std::memcpy(&v, raw, sizeof v);
            a.real = v;
            break;
        }
        case 's':
        case 'S': {
            a.type = 's';
            // Text that is not UTF-8 is refused, not shown with replacement marks.
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            a.text = utf8(QByteArrayView(raw));
            if (utf8.hasError())
                a.type = '?';
            break;
        }
        default:
            break;
        }
        args.append(a);
    }
    if (path == "/rv38t/feedback") {
        d.kind = Decoded::Kind::Feedback;
        if (args.isEmpty()) {
            d.replyPort = 0;
        } else if (args.size() == 1 && args[0].type == 'i' && args[0].integer >= -1
                   && args[0].integer <= 65535) {
            d.replyPort = static_cast<int>(args[0].integer);
        } else {
            d.kind = Decoded::Kind::Error;
            d.parsed = remotecmd::Parsed::fail(
                400,
                QStringLiteral("/rv38t/feedback takes one int32 port (0: the sender's, -1: stop)"));
        }
        return d;
    }
    d.parsed = remotecmd::parseOsc(path, args);
    d.kind = d.parsed.ok ? Decoded::Kind::Command : Decoded::Kind::Error;
    return d;
}

QByteArray timeMessage(const QString &time)
{
    Message m(lo_message_new());
    lo_message_add_string(m.get(), time.toUtf8().constData());
    return serialise("/rv38t/feedback/time", m.get());
}

QByteArray runningMessage(bool running)
{
    Message m(lo_message_new());
    lo_message_add_int32(m.get(), running ? 1 : 0);
    return serialise("/rv38t/feedback/running", m.get());
}

} // namespace oscmsg

OscServer::OscServer(RemoteHub &hub, QObject *parent)
    : QObject(parent), m_hub(hub), m_socket(new QUdpSocket(this))
{
    connect(m_socket, &QUdpSocket::readyRead, this, &OscServer::onReadyRead);
    connect(&m_hub, &RemoteHub::changed, this, &OscServer::onChanged);
}

bool OscServer::listen(const QHostAddress &address, quint16 port, QString *error)
{
    if (m_socket->bind(address, port))
        return true;
    const QString where = QStringLiteral("%1:%2").arg(address.toString()).arg(port);
    switch (m_socket->error()) {
    case QAbstractSocket::AddressInUseError:
        *error = QStringLiteral("OSC %1 is in use by another program").arg(where);
        break;
    case QAbstractSocket::SocketAddressNotAvailableError:
        *error = QStringLiteral("OSC %1: the address is not on this machine").arg(where);
        break;
    default:
        *error = QStringLiteral("cannot receive OSC on %1: %2").arg(where, m_socket->errorString());
    }
    return false;
}

quint16 OscServer::port() const
{
    return m_socket->localPort();
}

void OscServer::onReadyRead()
{
    while (m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram dg = m_socket->receiveDatagram(kMaxDatagram + 1);
        const QHostAddress sender = dg.senderAddress();
        const QString who = listenaddress::plain(sender).toString();
        if (!listenaddress::senderAllowed(sender, m_allowed)) {
            ++m_refused;
            emit refused(who, QStringLiteral("sender not allowed"));
            continue;
        }
        const oscmsg::Decoded d = oscmsg::decode(dg.data());
        switch (d.kind) {
        case oscmsg::Decoded::Kind::Error:
            ++m_refused;
            emit refused(who, d.parsed.error);
            break;
        case oscmsg::Decoded::Kind::Feedback: {
            const auto senderPort = static_cast<quint16>(dg.senderPort());
            if (d.replyPort == -1) {
                // Only a target itself stops its replies: another program on
                // the same machine cannot silence QLab's.
                m_targets.removeIf(
                    [&](const Target &t) { return t.address == sender && t.port == senderPort; });
                break;
            }
            const quint16 port = d.replyPort == 0 ? senderPort : static_cast<quint16>(d.replyPort);
            const bool known
                = std::any_of(m_targets.cbegin(), m_targets.cend(), [&](const Target &t) {
                      return t.address == sender && t.port == port;
                  });
            if (!known) {
                // A full list keeps the targets it has: a newcomer cannot evict one.
                if (m_targets.size() >= kMaxReplyTargets) {
                    ++m_refused;
                    emit refused(
                        who,
                        QStringLiteral("feedback list full (%1 targets)").arg(kMaxReplyTargets));
                    break;
                }
                // Replies go only to the asking sender's own address, never to a third one.
                m_targets.append({sender, port});
            }
            const RemoteState s = m_hub.state();
            if (m_targets.size() == 1) {
                // The first target: what it is told now is what the next change is measured
                // against, or a change elsewhere in the state would send it the same time again.
                m_lastTime = s.time;
                m_lastRunning = s.running;
            }
            m_socket->writeDatagram(oscmsg::timeMessage(s.time), sender, port);
            m_socket->writeDatagram(oscmsg::runningMessage(s.running), sender, port);
            break;
        }
        case oscmsg::Decoded::Kind::Command:
            if (!m_hub.refusal().isEmpty()) {
                ++m_refused;
                emit refused(who, m_hub.refusal());
                break;
            }
            if (const QString why = m_hub.rejection(d.parsed.command); !why.isEmpty()) {
                ++m_refused;
                emit refused(who, why);
                break;
            }
            // A cue out of range is refused by the running order itself.
            if (const QString why = m_hub.execute(d.parsed.command, QStringLiteral("OSC ") + who);
                !why.isEmpty()) {
                ++m_refused;
                emit refused(who, why);
            }
            break;
        }
    }
}

void OscServer::onChanged()
{
    if (m_targets.isEmpty())
        return;
    const RemoteState s = m_hub.state();
    const bool timeChanged = s.time != m_lastTime;
    const bool runChanged = int(s.running) != m_lastRunning;
    m_lastTime = s.time;
    m_lastRunning = s.running;
    for (const Target &t : std::as_const(m_targets)) {
        if (timeChanged)
            m_socket->writeDatagram(oscmsg::timeMessage(s.time), t.address, t.port);
        if (runChanged)
            m_socket->writeDatagram(oscmsg::runningMessage(s.running), t.address, t.port);
    }
}

#include "moc_oscserver.cpp"
