#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace listenaddress {

struct Where
{
    QHostAddress address;
    quint16 port = 0;
};

// "[ADDR:]PORT": PORT alone listens on 127.0.0.1; ADDR is an IPv4 address or a
// bracketed IPv6 one ("[::1]:8080"). Port 0 takes any free port. Names are refused:
// what listens must be stated, not looked up.
bool parse(const QString &text, Where *out, QString *error);

// True for 127.0.0.0/8, ::1 and the IPv4-mapped form of 127/8.
bool isLoopback(const QHostAddress &address);

// A peer as the log and the limits name it: an IPv4-mapped address as plain IPv4.
QHostAddress plain(const QHostAddress &address);

// Whether an HTTP Host field names the server listening at `listening`:`port`:
// that address, or 127.0.0.1, localhost or [::1], with the port (which only
// port 80 may leave out). Any other name is a page that had its name rebound.
bool hostNamesServer(const QByteArray &host, const QHostAddress &listening, quint16 port);

using Subnet = QPair<QHostAddress, int>;
// "10.0.0.0/24", "192.168.1.7" (a single host), "fd00::/8".
bool parseSubnets(const QStringList &texts, QList<Subnet> *out, QString *error);
// Loopback always; otherwise only inside one of `allowed`.
bool senderAllowed(const QHostAddress &sender, const QList<Subnet> &allowed);

// Compares in time independent of where the texts differ and of their lengths.
bool tokenMatches(const QByteArray &expected, const QByteArray &given);

} // namespace listenaddress
