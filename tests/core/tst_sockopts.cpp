#include "core/sockopts.h"
#include "support/loopback.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

// The platform's socket options on a real loopback connection: what the
// kernel reports back, not what we meant to set.
class TestSockopts : public QObject
{
    Q_OBJECT
private slots:
    void armedOptionsReadBack_data();
    void armedOptionsReadBack();
    void roundTripTime();
};

namespace {

int readOption(qintptr fd, int level, int name)
{
    int value = -1;
    socklen_t size = sizeof value;
    return ::getsockopt(int(fd), level, name, &value, &size) == 0 ? value : -1;
}

} // namespace

void TestSockopts::armedOptionsReadBack_data()
{
    const sockopts::DeadPeerLimits limits = sockopts::deadPeerLimits();
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("name");
    QTest::addColumn<int>("expected");
    QTest::newRow("keep-alive") << int(SOL_SOCKET) << int(SO_KEEPALIVE) << 1;
    QTest::newRow("keep-idle") << int(IPPROTO_TCP) << int(TCP_KEEPIDLE) << limits.keepIdleSeconds;
    QTest::newRow("keep-interval")
        << int(IPPROTO_TCP) << int(TCP_KEEPINTVL) << limits.keepIntervalSeconds;
    QTest::newRow("keep-count") << int(IPPROTO_TCP) << int(TCP_KEEPCNT) << limits.keepCount;
    QTest::newRow("user-timeout") << int(IPPROTO_TCP) << int(TCP_USER_TIMEOUT)
                                  << limits.unackedTimeoutMs;
}

void TestSockopts::armedOptionsReadBack()
{
    QFETCH(int, level);
    QFETCH(int, name);
    QFETCH(int, expected);
    LoopbackDisplay display;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, display.port());
    QVERIFY(socket.waitForConnected(5000));
    QVERIFY(sockopts::armDeadPeerDetection(socket.socketDescriptor()));
    QCOMPARE(readOption(socket.socketDescriptor(), level, name), expected);
    // Within what the three cases the console must meet allow: a 5-s stall
    // ridden out, a death with frames pending noticed within 10 s, idle within 15 s.
    const sockopts::DeadPeerLimits limits = sockopts::deadPeerLimits();
    QVERIFY(limits.unackedTimeoutMs > 6200 && limits.unackedTimeoutMs <= 8500);
    QVERIFY(limits.keepIdleSeconds + limits.keepIntervalSeconds * limits.keepCount <= 14);
}

void TestSockopts::roundTripTime()
{
    LoopbackDisplay display;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, display.port());
    QVERIFY(socket.waitForConnected(5000));
    const qint64 rtt = sockopts::smoothedRttMicros(socket.socketDescriptor());
    // Loopback: some microseconds, never as much as a second.
    QVERIFY2(rtt >= 0 && rtt < 1000000, qPrintable(QString::number(rtt)));
    QCOMPARE(sockopts::smoothedRttMicros(-1), qint64(-1));
    QCOMPARE(sockopts::smoothedRttMicros(socket.socketDescriptor() + 1000), qint64(-1));
}

QTEST_GUILESS_MAIN(TestSockopts)
#include "tst_sockopts.moc"
