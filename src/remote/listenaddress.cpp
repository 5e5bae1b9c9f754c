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

bool hostNamesServer(const QByteArray &host, const QHostAddress &listening, quint16 port)
{
    const QByteArray h = host.toLower();
    const QHostAddress own = plain(listening);
    const QByteArray ownName = own.protocol() == QAbstractSocket::IPv6Protocol
                                   ? '[' + own.toString().toLatin1() + ']'
                                   : own.toString().toLatin1();
    const QByteArray suffix = ':' + QByteArray::number(port);
    for (const QByteArray &name :
         {ownName, QByteArray("127.0.0.1"), QByteArray("localhost"), QByteArray("[::1]")}) {
        if (h == name + suffix || (port == 80 && h == name))
            return true;
    }
    return false;
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
