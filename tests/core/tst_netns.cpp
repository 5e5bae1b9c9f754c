#include "core/frames.h"
#include "core/qtendpoints.h"
#include "core/qtsockets.h"
#include "support/loopback.h"
#include "support/roomsfixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

// Marker bytes before digits are octal escapes ("\307" is 0xC7): an octal
// escape ends after three digits, so the digits can follow in one literal.

// Checks that need a real network path: a broadcast that leaves a host, and a
// display that vanishes without closing. They run in two network namespaces
// of the test's own, joined by a veth pair, so nothing reaches a real network:
// the console side (this thread, for the whole run) and the display side
// (entered only to create the display's sockets, which stay there).
namespace {

const QString kConsoleAddress = QStringLiteral("10.77.0.1");
const QString kDisplayAddress = QStringLiteral("10.77.0.2");
const QString kConsoleLink = QStringLiteral("rvc0");
const QString kDisplayLink = QStringLiteral("rvd0");
const QString kNamePrefix = QStringLiteral("rv38t-netns-");

QString consoleNamespace()
{
    return kNamePrefix + QString::number(QCoreApplication::applicationPid()) + "-console";
}

QString displayNamespace()
{
    return kNamePrefix + QString::number(QCoreApplication::applicationPid()) + "-display";
}

bool ip(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("ip"), arguments);
    if (!process.waitForFinished(10000))
        return false;
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

int hostNamespaceFd = -1;

void removeNamespaces()
{
    static bool removed = false;
    if (removed)
        return;
    removed = true;
    // Back home first, so the process never sits in a namespace being removed.
    if (hostNamespaceFd >= 0)
        ::setns(hostNamespaceFd, CLONE_NEWNET);
    ip({"netns", "del", consoleNamespace()});
    ip({"netns", "del", displayNamespace()});
}

// Namespaces left by an earlier run that was killed before it could tidy up.
void removeStaleNamespaces()
{
    QProcess list;
    list.start(QStringLiteral("ip"), {"netns", "list"});
    list.waitForFinished(10000);
    const QStringList lines = QString::fromLocal8Bit(list.readAllStandardOutput()).split('\n');
    for (const QString &line : lines) {
        const QString name = line.section(' ', 0, 0);
        if (!name.startsWith(kNamePrefix))
            continue;
        const QString pid = name.mid(kNamePrefix.size()).section('-', 0, 0);
        if (!QDir(QStringLiteral("/proc/") + pid).exists())
            ip({"netns", "del", name});
    }
}

int openNamespace(const QString &name)
{
    return ::open(qPrintable(QStringLiteral("/var/run/netns/") + name), O_RDONLY | O_CLOEXEC);
}

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
    // Runs `create` inside the display's namespace: sockets made there stay there.
    template <typename F> void inDisplayNamespace(F create)
    {
        QVERIFY(::setns(m_displayFd, CLONE_NEWNET) == 0);
        create();
        QVERIFY(::setns(m_consoleFd, CLONE_NEWNET) == 0);
    }

    int m_consoleFd = -1;
    int m_displayFd = -1;
};

void TestNetns::initTestCase()
{
    if (::geteuid() != 0)
        QSKIP("needs root to make its own network namespaces (ip netns add); skipped");
    removeStaleNamespaces();
    hostNamespaceFd = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    if (hostNamespaceFd < 0 || !ip({"netns", "add", consoleNamespace()}))
        QSKIP("'ip netns add' does not work here; skipped");
    std::atexit(removeNamespaces);
    const QString console = consoleNamespace();
    const QString display = displayNamespace();
    const bool made
        = ip({"netns", "add", display}) && ip({"-n", console, "link", "set", "lo", "up"})
          && ip({"-n", display, "link", "set", "lo", "up"})
          && ip({"-n", console, "link", "add", kConsoleLink, "type", "veth", "peer", "name",
                 kDisplayLink, "netns", display})
          && ip({"-n", console, "addr", "add", kConsoleAddress + "/24", "dev", kConsoleLink})
          && ip({"-n", display, "addr", "add", kDisplayAddress + "/24", "dev", kDisplayLink})
          && ip({"-n", console, "link", "set", kConsoleLink, "up"})
          && ip({"-n", display, "link", "set", kDisplayLink, "up"})
          // The limited broadcast needs a route; this one ends in the display's namespace.
          && ip({"-n", console, "route", "add", "default", "dev", kConsoleLink});
    if (!made)
        QSKIP("could not build two namespaces joined by a veth pair here; skipped");
    m_consoleFd = openNamespace(console);
    m_displayFd = openNamespace(display);
    QVERIFY(m_consoleFd >= 0 && m_displayFd >= 0);
    QVERIFY(::setns(m_consoleFd, CLONE_NEWNET) == 0);
}

void TestNetns::cleanupTestCase()
{
    removeNamespaces();
    if (m_consoleFd >= 0)
        ::close(m_consoleFd);
    if (m_displayFd >= 0)
        ::close(m_displayFd);
}

void TestNetns::cleanup()
{
    ip({"-n", displayNamespace(), "addr", "replace", kDisplayAddress + "/24", "dev", kDisplayLink});
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
    QCOMPARE(datagram.data(), QByteArray("\376\377\00610.77.0.2"));
    QCOMPARE(datagram.senderAddress(), QHostAddress(kConsoleAddress));
    QVERIFY(!display.hasPendingDatagrams());
}

// A recovery datagram that cannot leave is not silence: the operator gets one
// log line naming the destination and the system's reason.
void TestNetns::broadcastWithNoRouteIsLogged()
{
    // The display's namespace has no route that covers the limited broadcast.
    QVERIFY(::setns(m_displayFd, CLONE_NEWNET) == 0);
    const auto back = qScopeGuard([this] { ::setns(m_consoleFd, CLONE_NEWNET); });
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
    QVERIFY(ip(
        {"-n", displayNamespace(), "addr", "del", kDisplayAddress + "/24", "dev", kDisplayLink}));
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
