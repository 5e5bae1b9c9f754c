#include "core/frames.h"
#include "core/qtendpoints.h"
#include "core/qtsockets.h"
#include "support/loopback.h"
#include "support/netns.h"
#include "support/roomsfixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <optional>

// Marker bytes before digits are octal escapes ("\307" is 0xC7): an octal
// escape ends after three digits, so the digits can follow in one literal.

// Checks that need a real network path: a broadcast that leaves a host, and a
// display that vanishes without closing. They run in two network namespaces
// of the test's own, joined by a veth pair, so nothing reaches a real network.
namespace {
const QString kConsoleAddress = NamespacePair::kConsoleAddress;
const QString kDisplayAddress = NamespacePair::kDisplayAddress;
} // namespace

class TestNetns : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void broadcastReachesDisplay();
    void broadcastWithNoRouteIsLogged();
    void nameLookupKeepsLoopTurning();
    void vanishedDisplayIsNoticed_data();
    void vanishedDisplayIsNoticed();

private:
    void recoveryWithNoRoute();
    // Runs `create` inside the display's namespace: sockets made there stay there.
    template <typename F> void inDisplayNamespace(F create)
    {
        QVERIFY(m_namespaces->inDisplayNamespace(create));
    }
    bool displayAddress(const char *verb)
    {
        return NamespacePair::run("ip",
                                  {"-n", m_namespaces->displayNamespace(), "addr", verb,
                                   kDisplayAddress + "/24", "dev", NamespacePair::kDisplayLink});
    }

    std::optional<NamespacePair> m_namespaces;
};

void TestNetns::initTestCase()
{
    m_namespaces.emplace(QStringLiteral("rv38t-netns-"));
    if (!m_namespaces->isValid())
        QSKIP(qPrintable(m_namespaces->why() + QStringLiteral("; skipped")));
}

void TestNetns::cleanupTestCase()
{
    m_namespaces.reset();
}

void TestNetns::cleanup()
{
    if (m_namespaces && m_namespaces->isValid())
        displayAddress("replace");
}

void TestNetns::broadcastReachesDisplay()
{
    QUdpSocket display;
    inDisplayNamespace([&] { QVERIFY(display.bind(QHostAddress::AnyIPv4, frames::kDisplayPort)); });
    QtSocketFactory factory; // the real destination: 255.255.255.255:1024
    auto udp = factory.createUdp();

    QVERIFY(udp->sendData(frames::recoveryFrame(kDisplayAddress)));
    QTRY_VERIFY_WITH_TIMEOUT(display.hasPendingDatagrams(), 10000);
    const QNetworkDatagram datagram = display.receiveDatagram();
    QCOMPARE(datagram.data(), QByteArray("\376\377\006") + kDisplayAddress.toLatin1());
    QCOMPARE(datagram.senderAddress(), QHostAddress(kConsoleAddress));
    QVERIFY(!display.hasPendingDatagrams());
}

// A recovery datagram that cannot leave is not silence: the operator gets one
// log line naming the destination and the system's reason.
void TestNetns::broadcastWithNoRouteIsLogged()
{
    // The display's namespace has no route that covers the limited broadcast.
    inDisplayNamespace([this] { recoveryWithNoRoute(); });
}

void TestNetns::recoveryWithNoRoute()
{
    QtSocketFactory factory; // the real destination: 255.255.255.255:1024
    RoomsFixture console(factory);
    console.supervisor.setDisplayPort(unusedPort());
    console.addEntry(QStringLiteral("127.0.0.1"));
    console.tcp.setTag(0, QStringLiteral("3")); // the next error crosses the threshold
    QSignalSpy errors(&console.tcp, &TcpSocketArray::errorEvent);

    console.tick(); // refused
    QVERIFY(errors.wait(5000));

    const QStringList lines = console.log.text().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].startsWith(RoomsFixture::logStamp() + QStringLiteral("127.0.0.1= ")),
             qPrintable(lines[0]));
    const QString prefix = RoomsFixture::logStamp() + QStringLiteral("255.255.255.255= ");
    QVERIFY2(lines[1].startsWith(prefix) && lines[1].size() > prefix.size(), qPrintable(lines[1]));
    QVERIFY(console.swCfg.isChecked()); // the rest of the recovery went on
    QCOMPARE(console.tcp.tag(0), QStringLiteral("1"));
}

void TestNetns::nameLookupKeepsLoopTurning()
{
    // The name server is out of reach in here: the look-up hangs until the
    // resolver gives up, and the event loop must go on meanwhile.
    QtTcpEndpoint endpoint;
    QSignalSpy failed(&endpoint, &TcpEndpoint::failed);
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticker;
    ticker.setInterval(20);
    connect(&ticker, &QTimer::timeout, this,
            [&] { longestGap = qMax(longestGap, sinceTick.restart()); });

    QElapsedTimer call;
    call.start();
    endpoint.connectTo(QStringLiteral("display-7.invalid"), frames::kDisplayPort);
    QVERIFY2(call.elapsed() < 200, qPrintable(QString::number(call.elapsed())));
    QCOMPARE(endpoint.state(), SocketState::ResolvingHost);
    sinceTick.start();
    ticker.start();

    QVERIFY(failed.wait(60000));
    QCOMPARE(endpoint.state(), SocketState::Error);
    QVERIFY2(longestGap < 1000, qPrintable(QString::number(longestGap)));
}

void TestNetns::vanishedDisplayIsNoticed_data()
{
    QTest::addColumn<bool>("framePending");
    QTest::addColumn<int>("withinMs");
    QTest::newRow("frame-pending") << true << 10000;
    QTest::newRow("idle") << false << 15000;
}

void TestNetns::vanishedDisplayIsNoticed()
{
    QFETCH(bool, framePending);
    QFETCH(int, withinMs);
    QTcpServer server;
    inDisplayNamespace([&] { QVERIFY(server.listen(QHostAddress(kDisplayAddress), 0)); });
    QtTcpEndpoint endpoint;
    QSignalSpy connected(&endpoint, &TcpEndpoint::connected);
    QSignalSpy closedByPeer(&endpoint, &TcpEndpoint::closedByPeer);
    QSignalSpy failed(&endpoint, &TcpEndpoint::failed);
    endpoint.connectTo(kDisplayAddress, server.serverPort());
    QVERIFY(connected.wait(5000));
    QTRY_VERIFY(server.hasPendingConnections());
    QTcpSocket *peer = server.nextPendingConnection();
    QVERIFY(endpoint.sendData("\307000010"));
    QByteArray received;
    QVERIFY(readAtLeast(peer, received, 7));
    QCOMPARE(received, QByteArray("\307000010"));

    // The display drops off the wire without a word: what reaches its side is
    // thrown away there, unanswered, as if it had lost power.
    QVERIFY(displayAddress("del"));
    QElapsedTimer sinceCut;
    sinceCut.start();
    if (framePending)
        QVERIFY(endpoint.sendData("\307000009"));

    QVERIFY(failed.wait(withinMs + 5000));
    QVERIFY2(sinceCut.elapsed() <= withinMs, qPrintable(QString::number(sinceCut.elapsed())));
    QCOMPARE(closedByPeer.count(), 0);
    QCOMPARE(endpoint.state(), SocketState::Error);
    qInfo() << "noticed after" << sinceCut.elapsed() << "ms:" << failed.first().first().toString();
}

QTEST_MAIN(TestNetns)
#include "tst_netns.moc"
