#include "remote/listenaddress.h"

#include <QCryptographicHash>

namespace listenaddress {

bool parse(const QString &text, Where *out, QString *error)
{
    QString host = QStringLiteral("127.0.0.1");
    QString port = text.trimmed();
    bool bracketed = false;
    const qsizetype colon = port.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        host = port.left(colon);
        port = port.mid(colon + 1);
        bracketed = host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'));
        if (bracketed)
            host = host.mid(1, host.size() - 2);
        else if (host.contains(QLatin1Char(':'))) {
            *error = QStringLiteral("'%1': write an IPv6 address in brackets, e.g. [::1]:8080")
                         .arg(text);
            return false;
        }
    }
    bool ok = false;
    const uint p = port.toUInt(&ok);
    if (!ok || p > 65535 || port.isEmpty() || !port.front().isDigit()) {
        *error = QStringLiteral("'%1': the port must be a number from 0 to 65535").arg(text);
        return false;
    }
    QHostAddress address;
    // IPv4 as a dotted quad only ("10.5" would listen on 10.0.0.5), IPv6 in brackets only.
    const bool v6 = address.setAddress(host) && address.protocol() == QAbstractSocket::IPv6Protocol;
    if (address.isNull() || host.contains(QLatin1Char('%')) || bracketed != v6
        || (!v6 && host.count(QLatin1Char('.')) != 3)) {
        *error = QStringLiteral("'%1': '%2' is not an IP address").arg(text, host);
        return false;
    }
    out->address = address;
    out->port = static_cast<quint16>(p);
    return true;
}

bool isLoopback(const QHostAddress &address)
{
    return address.isLoopback();
}

QHostAddress plain(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(v4) : address;
}

bool hostNamesServer(const QByteArray &host, quint16 port, const QByteArrayList &names,
                     const std::function<bool(const QHostAddress &)> &isOwn)
{
    QByteArray name = host.toLower();
    const qsizetype colon = name.lastIndexOf(':');
    if (colon >= 0 && colon > name.lastIndexOf(']')) {
        if (name.mid(colon + 1) != QByteArray::number(port))
            return false;
        name.truncate(colon);
    } else if (port != 80) {
        return false;
    }
    if (name == "localhost" || names.contains(name))
        return true;
    // Only an address written out names this machine whatever a resolver says.
    QHostAddress a;
    if (name.startsWith('[') && name.endsWith(']')) {
        const QString inner = QString::fromLatin1(name.mid(1, name.size() - 2));
        if (inner.contains(QLatin1Char('%')) || !a.setAddress(inner)
            || a.protocol() != QAbstractSocket::IPv6Protocol)
            return false;
    } else if (!a.setAddress(QString::fromLatin1(name))
               || a.protocol() != QAbstractSocket::IPv4Protocol
               || a.toString().toLatin1() != name) {
        return false; // a name, or an address in a form no browser sends ("127.1")
    }
    a = plain(a);
    return a.isLoopback() || (isOwn && isOwn(a));
}

bool parseName(const QString &text, QByteArray *out, QString *error)
{
    const QByteArray name = text.trimmed().toLower().toLatin1();
    bool ok = !name.isEmpty() && name.size() <= 253 && text.trimmed().size() == name.size();
    bool letter = false;
    for (const QByteArray &label : name.split('.')) {
        ok = ok && !label.isEmpty() && label.size() <= 63 && !label.startsWith('-')
             && !label.endsWith('-');
        for (char c : label) {
            letter = letter || (c >= 'a' && c <= 'z');
            ok = ok && ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-');
        }
    }
    if (!ok || !letter) {
        *error = QStringLiteral("--remote-name '%1': give a host name such as show-console.local, "
                                "without a port")
                     .arg(text);
        return false;
    }
    *out = name;
    return true;
}

bool parseSubnets(const QStringList &texts, QList<Subnet> *out, QString *error)
{
    out->clear();
    for (const QString &t : texts) {
        Subnet s;
        if (t.contains(QLatin1Char('/'))) {
            s = QHostAddress::parseSubnet(t);
        } else if (QHostAddress a; a.setAddress(t)) {
            s = {a, a.protocol() == QAbstractSocket::IPv6Protocol ? 128 : 32};
        }
        if (s.first.isNull() || s.second < 0) {
            *error = QStringLiteral(
                         "--osc-allow '%1': not an address or CIDR block such as 192.168.1.0/24")
                         .arg(t);
            return false;
        }
        out->append(s);
    }
    return true;
}

bool senderAllowed(const QHostAddress &sender, const QList<Subnet> &allowed)
{
    if (sender.isNull())
        return false;
    // A v4 sender on a dual-stack socket arrives as ::ffff:a.b.c.d.
    const QHostAddress p = plain(sender);
    if (p.isLoopback())
        return true;
    for (const Subnet &s : allowed) {
        if (p.isInSubnet(s.first, s.second))
            return true;
    }
    return false;
}

bool tokenMatches(const QByteArray &expected, const QByteArray &given)
{
    // Equal-length digests, compared byte by byte without an early exit.
    const QByteArray a = QCryptographicHash::hash(expected, QCryptographicHash::Sha256);
    const QByteArray b = QCryptographicHash::hash(given, QCryptographicHash::Sha256);
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0 && !expected.isEmpty();
}

} // namespace listenaddress
