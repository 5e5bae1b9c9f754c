#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

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

// Whether an HTTP Host field names the server listening on `port`: an IP
// literal of this machine (loopback, or one `isOwn` takes), "localhost", or one
// of `names` (lower case), with the port (which only port 80 may leave out).
// Any other name may be a page that had its name rebound to this machine.
bool hostNamesServer(const QByteArray &host, quint16 port, const QByteArrayList &names,
                     const std::function<bool(const QHostAddress &)> &isOwn);

// A --remote-name: a DNS name ("show-console.local"), in lower case; not an
// address, no port.
bool parseName(const QString &text, QByteArray *out, QString *error);

using Subnet = QPair<QHostAddress, int>;
// "10.0.0.0/24", "192.168.1.7" (a single host), "fd00::/8".
bool parseSubnets(const QStringList &texts, QList<Subnet> *out, QString *error);
// Loopback always; otherwise only inside one of `allowed`.
bool senderAllowed(const QHostAddress &sender, const QList<Subnet> &allowed);

// Compares in time independent of where the texts differ and of their lengths.
bool tokenMatches(const QByteArray &expected, const QByteArray &given);

} // namespace listenaddress
