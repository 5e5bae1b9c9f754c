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
    m_gap.start();
    m_now = [this] { return m_gap.elapsed(); };
    m_replyTimer.setSingleShot(true);
    connect(&m_replyTimer, &QTimer::timeout, this, &OscServer::sendDue);
    connect(m_socket, &QUdpSocket::readyRead, this, &OscServer::onReadyRead);
    connect(&m_hub, &RemoteHub::changed, this, &OscServer::sendDue);
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
            // Replies go only to the asking sender's own address, never to a third one.
            ask(sender, d.replyPort == 0 ? senderPort : static_cast<quint16>(d.replyPort), who);
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

void OscServer::ask(const QHostAddress &sender, quint16 port, const QString &who)
{
    const qint64 now = m_now();
    auto known = std::find_if(m_targets.begin(), m_targets.end(), [&](const Target &t) {
        return t.address == sender && t.port == port;
    });
    if (known == m_targets.end()) {
        // A third port asked for by one address moves that address's oldest place.
        auto place = m_targets.end();
        int own = 0;
        for (auto t = m_targets.begin(); t != m_targets.end(); ++t) {
            if (t->address != sender)
                continue;
            ++own;
            if (place == m_targets.end() || t->leased < place->leased)
                place = t;
        }
        if (own < kMaxTargetsPerAddress && m_targets.size() < kMaxReplyTargets) {
            place = m_targets.insert(m_targets.end(), Target{});
        } else if (own < kMaxTargetsPerAddress) {
            // A full list keeps the targets whose leases run: a newcomer takes
            // the place of the oldest that has run out, or is refused.
            place = m_targets.end();
            for (auto t = m_targets.begin(); t != m_targets.end(); ++t) {
                if (now - t->leased >= kLeaseMs
                    && (place == m_targets.end() || t->leased < place->leased))
                    place = t;
            }
            if (place == m_targets.end()) {
                ++m_refused;
                emit refused(
                    who, QStringLiteral("feedback list full (%1 targets)").arg(kMaxReplyTargets));
                return;
            }
        }
        *place = Target();
        place->address = sender;
        place->port = port;
        known = place;
    }
    known->leased = now;
    known->whole = true; // asking again gets the whole state again, within the same gap
    sendDue();
}

void OscServer::sendDue()
{
    if (m_targets.isEmpty())
        return;
    const RemoteState s = m_hub.state();
    const qint64 now = m_gap.elapsed();
    qint64 next = -1;
    for (Target &t : m_targets) {
        const bool timeChanged = t.whole || s.time != t.sentTime;
        const bool runChanged = t.whole || int(s.running) != t.sentRunning;
        if (!timeChanged && !runChanged)
            continue;
        // A storm of changes gives each target at most one pair per gap, and
        // always the latest state in the end.
        if (t.sentAt >= 0 && now - t.sentAt < kReplyGapMs) {
            const qint64 due = t.sentAt + kReplyGapMs - now;
            next = next < 0 ? due : std::min(next, due);
            continue;
        }
        if (timeChanged)
            m_socket->writeDatagram(oscmsg::timeMessage(s.time), t.address, t.port);
        if (runChanged)
            m_socket->writeDatagram(oscmsg::runningMessage(s.running), t.address, t.port);
        t.sentTime = s.time;
        t.sentRunning = s.running;
        t.sentAt = now;
        t.whole = false;
    }
    if (next >= 0 && (!m_replyTimer.isActive() || m_replyTimer.remainingTime() > next))
        m_replyTimer.start(int(next));
}

#include "moc_oscserver.cpp"
