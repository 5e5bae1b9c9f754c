#include "core/qtendpoints.h"
#include "core/qtsockets.h"
#include "core/socketarray.h"
#include "support/loopback.h"

#include <QFile>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

#include <memory>

#include <netdb.h>
#include <netinet/in.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

// Marker bytes before digits are octal escapes ("\307" is 0xC7): an octal
// escape ends after three digits, so the digits can follow in one literal.

namespace {

struct EventSpies
{
    QSignalSpy connected;
    QSignalSpy closedByPeer;
    QSignalSpy failed;
    explicit EventSpies(TcpEndpoint *endpoint)
        : connected(endpoint, &TcpEndpoint::connected),
          closedByPeer(endpoint, &TcpEndpoint::closedByPeer), failed(endpoint, &TcpEndpoint::failed)
    {}
    int total() const { return connected.count() + closedByPeer.count() + failed.count(); }
};

qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() * 4096 : -1;
}

// How long the connection has gone without data from the peer, as the kernel counts it.
qint64 msSinceDataReceived(const QTcpSocket *socket)
{
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(int(socket->socketDescriptor()), IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
        return -1;
    return info.tcpi_last_data_recv;
}

} // namespace

class TestQtSockets : public QObject
{
    Q_OBJECT
private slots:
    void connectEvent_data();
    void connectEvent();
    void peerClose_data();
    void peerClose();
    void connectFails_data();
    void connectFails();
    void noEventAfterClose_data();
    void noEventAfterClose();
    void connectWhileConnectedIsIgnored();
    void sendData_data();
    void sendData();
    void sendWhenNotConnected_data();
    void sendWhenNotConnected();
    void floodingDisplayStaysBounded();
    void healthyIdleLinkSurvives();
    void roundTripTimeFromKernel();
    void udpDatagram_data();
    void udpDatagram();
    void udpBadHostFails();
    void arrayEventsCarryIndex();
    void arrayDestroyedElementIsSilent_data();
    void arrayDestroyedElementIsSilent();
    void arrayLimitsAndTemplate();
};

static bool resolvesToLoopback(const char *name)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo *found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0)
        return false;
    bool loopback = false;
    for (addrinfo *a = found; a; a = a->ai_next) {
        const auto *in = reinterpret_cast<const sockaddr_in *>(a->ai_addr);
        loopback = loopback || ntohl(in->sin_addr.s_addr) == INADDR_LOOPBACK;
    }
    freeaddrinfo(found);
    return loopback;
}

void TestQtSockets::connectEvent_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<SocketState>("stateRightAfter");
    // A name goes through the asynchronous look-up first ("localhost" is in the hosts file).
    QTest::newRow("address") << QStringLiteral("127.0.0.1") << SocketState::Connecting;
    QTest::newRow("name") << QStringLiteral("localhost") << SocketState::ResolvingHost;
}

void TestQtSockets::connectEvent()
{
    QFETCH(QString, host);
    QFETCH(SocketState, stateRightAfter);
    // Asked of the system directly: Qt's own look-up would cache the answer and
    // let the connect skip the resolving state.
    if (host == QLatin1String("localhost") && !resolvesToLoopback("localhost"))
        QSKIP("this machine does not resolve localhost to 127.0.0.1 (no hosts file entry)");
    LoopbackDisplay display;
    QtSocketFactory factory;
    auto endpoint = factory.createTcp();
    EventSpies spies(endpoint.get());

    endpoint->connectTo(host, display.port());
    QCOMPARE(spies.total(), 0); // never from inside the call
    QCOMPARE(endpoint->state(), stateRightAfter);
    QCOMPARE(endpoint->remoteHost(), host);

    QVERIFY(spies.connected.wait(5000));
    QCOMPARE(endpoint->state(), SocketState::Connected);
    QCOMPARE(spies.failed.count(), 0);
}

void TestQtSockets::peerClose_data()
{
    QTest::addColumn<QByteArray>("sentBeforeClose");
    QTest::newRow("plain") << QByteArray();
    QTest::newRow("after-data") << QByteArray("status\r\n");
}

void TestQtSockets::peerClose()
{
    QFETCH(QByteArray, sentBeforeClose);
    LoopbackDisplay display;
    QtTcpEndpoint endpoint;
    EventSpies spies(&endpoint);
    QTcpSocket *peer = display.connect(endpoint);
    QVERIFY(peer);

    if (!sentBeforeClose.isEmpty())
        peer->write(sentBeforeClose);
    peer->disconnectFromHost();
    QVERIFY(spies.closedByPeer.wait(5000));
    // QTcpSocket reports both an error and a disconnect, in one go: let any
    // second report through before counting.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QCOMPARE(spies.closedByPeer.count(), 1);
    QCOMPARE(spies.failed.count(), 0);
    QCOMPARE(endpoint.state(), SocketState::PeerClosing); // left for the supervisor to close

    endpoint.close();
    QCOMPARE(endpoint.state(), SocketState::Closed);
}

void TestQtSockets::connectFails_data()
{
    // Besides a refusal, only texts Qt rejects without asking a name server:
    // tests stay off the network.
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("refusedPort");
    QTest::newRow("refused") << QStringLiteral("127.0.0.1") << true;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("blank-inside") << QStringLiteral("a b") << false;
    QTest::newRow("punctuation") << QStringLiteral("bad host!") << false;
    QTest::newRow("dots-only") << QStringLiteral("..") << false;
}

void TestQtSockets::connectFails()
{
    QFETCH(QString, host);
    QFETCH(bool, refusedPort);
    QtTcpEndpoint endpoint;
    EventSpies spies(&endpoint);
    endpoint.connectTo(host, refusedPort ? unusedPort() : frames::kDisplayPort);
    QCOMPARE(spies.total(), 0);
    QVERIFY(endpoint.state() != SocketState::Closed);
    QVERIFY(spies.failed.wait(5000));
    QCoreApplication::processEvents();
    QCOMPARE(spies.total(), 1);
    QVERIFY(!spies.failed.first().first().toString().isEmpty());
    QCOMPARE(endpoint.state(), SocketState::Error);
    QCOMPARE(endpoint.remoteHost(), host);

    endpoint.close();
    QCOMPARE(endpoint.state(), SocketState::Closed);
    // Closed again, it connects anew.
    LoopbackDisplay display;
    QVERIFY(display.connect(endpoint));
}

void TestQtSockets::noEventAfterClose_data()
{
    // close() comes at the worst moment: right after the cause, before its
    // queued event is delivered, or before anything happened at all.
    QTest::addColumn<QString>("closeAt");
    QTest::newRow("at-once") << QStringLiteral("at-once");
    QTest::newRow("on-connected") << QStringLiteral("connected");
    QTest::newRow("on-peer-close") << QStringLiteral("disconnected");
    QTest::newRow("on-refused") << QStringLiteral("error");
    QTest::newRow("established") << QStringLiteral("established");
}

void TestQtSockets::noEventAfterClose()
{
    QFETCH(QString, closeAt);
    LoopbackDisplay display;
    QtTcpEndpoint endpoint;
    auto *qtSocket = endpoint.findChild<QTcpSocket *>();
    QVERIFY(qtSocket);
    EventSpies spies(&endpoint);
    const auto closeNow = [&endpoint] { endpoint.close(); };

    quint16 port = display.port();
    int before = 0;
    if (closeAt == QLatin1String("connected")) {
        connect(qtSocket, &QTcpSocket::connected, &endpoint, closeNow);
    } else if (closeAt == QLatin1String("error")) {
        connect(qtSocket, &QTcpSocket::errorOccurred, &endpoint, closeNow);
        port = unusedPort();
    } else if (closeAt == QLatin1String("disconnected")) {
        connect(qtSocket, &QTcpSocket::disconnected, &endpoint, closeNow);
        QTcpSocket *peer = display.connect(endpoint);
        QVERIFY(peer);
        before = spies.total();
        peer->disconnectFromHost();
        QTRY_COMPARE(endpoint.state(), SocketState::Closed);
        port = 0;
    } else if (closeAt == QLatin1String("established")) {
        QVERIFY(display.connect(endpoint));
        before = spies.total();
        endpoint.close();
        port = 0;
    }
    if (port != 0)
        endpoint.connectTo(QStringLiteral("127.0.0.1"), port);
    if (closeAt == QLatin1String("at-once"))
        endpoint.close();
    else if (port != 0)
        QTRY_COMPARE(endpoint.state(), SocketState::Closed);

    // The one bounded wait: nothing may arrive.
    QVERIFY(!spies.failed.wait(300));
    QCOMPARE(spies.total(), before);
    QCOMPARE(endpoint.state(), SocketState::Closed);
}

void TestQtSockets::connectWhileConnectedIsIgnored()
{
    LoopbackDisplay display;
    LoopbackDisplay other;
    QtTcpEndpoint endpoint;
    EventSpies spies(&endpoint);
    QTcpSocket *peer = display.connect(endpoint);
    QVERIFY(peer);

    endpoint.connectTo(QStringLiteral("localhost"), other.port());
    QCOMPARE(endpoint.state(), SocketState::Connected);
    QCOMPARE(endpoint.remoteHost(), QStringLiteral("127.0.0.1"));
    QVERIFY(endpoint.sendData("\307000100"));
    QByteArray received;
    QVERIFY(readAtLeast(peer, received, 7));
    QCOMPARE(received, QByteArray("\307000100"));
    QVERIFY(!other.server.hasPendingConnections());
    QCOMPARE(spies.total(), 1);
}

void TestQtSockets::sendData_data()
{
    QTest::addColumn<QByteArrayList>("sends");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("time-frame") << QByteArrayList{"\307013000"} << QByteArray("\307013000");
    QByteArray everyByte;
    for (int b = 0; b < 256; ++b)
        everyByte.append(char(b));
    QTest::newRow("every-byte") << QByteArrayList{everyByte} << everyByte;
    // Frames follow one another with nothing between them.
    QTest::newRow("back-to-back") << QByteArrayList{"\307000002", "\307000001"}
                                  << QByteArray("\307000002\307000001");
}

void TestQtSockets::sendData()
{
    QFETCH(QByteArrayList, sends);
    QFETCH(QByteArray, expected);
    LoopbackDisplay display;
    QtTcpEndpoint endpoint;
    QTcpSocket *peer = display.connect(endpoint);
    QVERIFY(peer);

    for (const QByteArray &bytes : sends)
        QVERIFY(endpoint.sendData(bytes));
    QByteArray received;
    QVERIFY(readAtLeast(peer, received, expected.size()));
    QCOMPARE(received, expected);
}

void TestQtSockets::sendWhenNotConnected_data()
{
    QTest::addColumn<QString>("situation");
    QTest::newRow("never-connected") << QStringLiteral("never");
    QTest::newRow("closed-by-us") << QStringLiteral("closed");
    QTest::newRow("closed-by-peer") << QStringLiteral("peer");
    QTest::newRow("refused") << QStringLiteral("refused");
}

void TestQtSockets::sendWhenNotConnected()
{
    QFETCH(QString, situation);
    LoopbackDisplay display;
    QtTcpEndpoint endpoint;
    EventSpies spies(&endpoint);
    if (situation == QLatin1String("refused")) {
        endpoint.connectTo(QStringLiteral("127.0.0.1"), unusedPort());
        QVERIFY(spies.failed.wait(5000));
    } else if (situation != QLatin1String("never")) {
        QTcpSocket *peer = display.connect(endpoint);
        QVERIFY(peer);
        if (situation == QLatin1String("closed")) {
            endpoint.close();
        } else {
            peer->disconnectFromHost();
            QVERIFY(spies.closedByPeer.wait(5000));
        }
    }
    QVERIFY(!endpoint.sendData("\307000000"));
}

void TestQtSockets::floodingDisplayStaysBounded()
{
    constexpr qint64 kTotal = 64 * 1024 * 1024;
    const QByteArray chunk(256 * 1024, 'x');
    LoopbackDisplay display;
    QtTcpEndpoint endpoint;
    auto *qtSocket = endpoint.findChild<QTcpSocket *>();
    QVERIFY(qtSocket);
    EventSpies spies(&endpoint);
    QTcpSocket *peer = display.connect(endpoint);
    QVERIFY(peer);

    const qint64 rssBefore = residentBytes();
    qint64 queued = 0;
    qint64 mostBuffered = 0;
    // The display writes as fast as the connection takes it, keeping only a
    // little queued on its own side so the measure is the console's.
    const auto feed = [&] {
        mostBuffered = qMax(mostBuffered, qtSocket->bytesAvailable());
        while (queued < kTotal && peer->bytesToWrite() < chunk.size()) {
            peer->write(chunk);
            queued += chunk.size();
        }
        if (queued >= kTotal && peer->bytesToWrite() == 0)
            peer->disconnectFromHost();
    };
    connect(peer, &QTcpSocket::bytesWritten, peer, feed);
    connect(qtSocket, &QTcpSocket::readyRead, peer,
            [&] { mostBuffered = qMax(mostBuffered, qtSocket->bytesAvailable()); });
    feed();

    // The close arrives only after everything before it was read.
    QVERIFY(spies.closedByPeer.wait(30000));
    QCOMPARE(queued, kTotal);
    QVERIFY2(mostBuffered <= QtTcpEndpoint::kReadBufferSize,
             qPrintable(QString::number(mostBuffered)));
    const qint64 growth = residentBytes() - rssBefore;
    QVERIFY2(growth < 8 * 1024 * 1024, qPrintable(QString::number(growth)));
    QCOMPARE(spies.failed.count(), 0);
}

void TestQtSockets::healthyIdleLinkSurvives()
{
    // The probes that notice a vanished display must neither end a display
    // that answers them nor put anything into its stream.
    LoopbackDisplay display;
    QtTcpEndpoint endpoint;
    auto *qtSocket = endpoint.findChild<QTcpSocket *>();
    EventSpies spies(&endpoint);
    QTcpSocket *peer = display.connect(endpoint);
    QVERIFY(peer);

    // Past the point where a dead link would have been given up.
    QTRY_VERIFY_WITH_TIMEOUT(msSinceDataReceived(qtSocket) > 6000, 15000);
    QCOMPARE(spies.total(), 1);
    QCOMPARE(endpoint.state(), SocketState::Connected);
    QCOMPARE(peer->bytesAvailable(), 0);
    QVERIFY(endpoint.sendData("\307000005"));
    QByteArray received;
    QVERIFY(readAtLeast(peer, received, 7));
    QCOMPARE(received, QByteArray("\307000005"));
}

void TestQtSockets::udpDatagram_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("recovery-frame") << QByteArray("\376\377\006192.168.0.20");
    QTest::newRow("recovery-high-bytes") << QByteArray("\376\377\006Salle \xE9t\xE9");
    QTest::newRow("recovery-empty-entry") << QByteArray("\xFE\xFF\x06");
}

void TestQtSockets::udpDatagram()
{
    QFETCH(QByteArray, bytes);
    QUdpSocket listener;
    QVERIFY(listener.bind(QHostAddress::LocalHost, 0));
    QtSocketFactory factory(QStringLiteral("127.0.0.1"), listener.localPort());
    auto sender = factory.createUdp();
    QSignalSpy readyRead(&listener, &QUdpSocket::readyRead);

    QVERIFY(sender->sendData(bytes));
    QTRY_VERIFY(listener.hasPendingDatagrams());
    QCOMPARE(listener.receiveDatagram().data(), bytes);
    QVERIFY(!listener.hasPendingDatagrams()); // one datagram, not split
}

void TestQtSockets::udpBadHostFails()
{
    QtSocketFactory badFactory(QStringLiteral("not an address"), 1024);
    QVERIFY(!badFactory.createUdp()->sendData("\376\377\006x"));
}

void TestQtSockets::arrayEventsCarryIndex()
{
    LoopbackDisplay display;
    QtSocketFactory factory;
    TcpSocketArray array(factory);
    for (int i = 0; i < 3; ++i)
        QVERIFY(array.createElement());
    QSignalSpy connects(&array, &TcpSocketArray::connectEvent);
    QSignalSpy closes(&array, &TcpSocketArray::closeEvent);
    QSignalSpy errors(&array, &TcpSocketArray::errorEvent);

    array.connectTo(2, QStringLiteral("127.0.0.1"), display.port());
    array.connectTo(1, QStringLiteral("127.0.0.1"), unusedPort());
    QTRY_COMPARE(connects.count() + errors.count(), 2);
    QCOMPARE(connects.first().first().toInt(), 2);
    QCOMPARE(errors.first().first().toInt(), 1);
    QCOMPARE(array.state(0), SocketState::Closed);
    QCOMPARE(array.state(1), SocketState::Error);
    QCOMPARE(array.state(2), SocketState::Connected);

    QTcpSocket *peer = display.accepted();
    QVERIFY(peer);
    peer->disconnectFromHost();
    QVERIFY(closes.wait(5000));
    QCOMPARE(closes.first().first().toInt(), 2);
}

void TestQtSockets::arrayDestroyedElementIsSilent_data()
{
    QTest::addColumn<bool>("refused");
    QTest::newRow("pending-connect") << false;
    QTest::newRow("pending-error") << true;
}

void TestQtSockets::arrayDestroyedElementIsSilent()
{
    QFETCH(bool, refused);
    LoopbackDisplay display;
    QtSocketFactory factory;
    TcpSocketArray array(factory);
    QVERIFY(array.createElement());
    QSignalSpy connects(&array, &TcpSocketArray::connectEvent);
    QSignalSpy errors(&array, &TcpSocketArray::errorEvent);

    array.connectTo(0, QStringLiteral("127.0.0.1"), refused ? unusedPort() : display.port());
    array.destroyHighest();
    QCOMPARE(array.count(), 0);
    QVERIFY(!connects.wait(300));
    QCOMPARE(connects.count() + errors.count(), 0);
}

void TestQtSockets::arrayLimitsAndTemplate()
{
    QtSocketFactory factory;
    TcpSocketArray array(factory);
    QCOMPARE(array.tag(TcpSocketArray::kTemplateIndex), QStringLiteral("0"));
    for (int i = 0; i < TcpSocketArray::kMaxElements; ++i)
        QVERIFY(array.createElement());
    QVERIFY(!array.createElement());
    QCOMPARE(array.count(), 99);
    // A new element starts with the template's settings.
    QCOMPARE(array.tag(98), QStringLiteral("0"));
    QCOMPARE(array.remoteHost(98), QString());
    QCOMPARE(array.state(98), SocketState::Closed);
    array.destroyHighest();
    QCOMPARE(array.count(), 98);
    QCOMPARE(array.state(98), SocketState::Closed);
    QCOMPARE(array.tag(TcpSocketArray::kTemplateIndex), QStringLiteral("0"));
}

// The kernel's smoothed round-trip time of a live connection, for the
// display's health record; -1 once it is gone.
void TestQtSockets::roundTripTimeFromKernel()
{
#ifndef Q_OS_LINUX
    QSKIP("the round-trip time is read from TCP_INFO, which only Linux has here");
#endif
    LoopbackDisplay display;
    QtSocketFactory factory;
    auto endpoint = factory.createTcp();
    QCOMPARE(endpoint->roundTripMicros(), qint64(-1));
    QTcpSocket *peer = display.connect(*endpoint);
    QVERIFY(peer);
    QVERIFY(endpoint->sendData("\307000001"));
    QByteArray received;
    QVERIFY(readAtLeast(peer, received, 7));
    const qint64 rtt = endpoint->roundTripMicros();
    QVERIFY2(rtt > 0 && rtt < 1000000, qPrintable(QString::number(rtt)));
    endpoint->close();
    QCOMPARE(endpoint->roundTripMicros(), qint64(-1));
}

QTEST_GUILESS_MAIN(TestQtSockets)
#include "tst_qtsockets.moc"
