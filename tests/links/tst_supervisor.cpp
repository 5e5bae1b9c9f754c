#include "core/frames.h"
#include "support/fakesockets.h"
#include "support/roomsfixture.h"

#include <QSignalSpy>
#include <QtTest>

namespace {
const QString kRefused = QStringLiteral("Connection refused");
}

class TestSupervisor : public QObject
{
    Q_OBJECT

private slots:
    void emptyListIsGreenAndConnectsNothing();
    void tickPerEntry_data();
    void tickPerEntry();
    void lampTurnsGreenAtTheTickAfterTheLastConnect();
    void connectMarksLogsResetsAndSendsTheTime();
    void peerCloseIsClosedNextTickAndRetriedAfter();
    void errorCounting_data();
    void errorCounting();
    void recoveryNamesTheEntryNotTheSocketHost();
    void recoveryThatCannotLeaveIsLogged();
    void panelOpensBeforeTheRecoveryLeaves();
};

// Brings socket `index` to a fresh connection attempt the way the ticks do:
// a tick closes whatever is left, the next one connects. A live connection
// is left as it is: its next event comes from the connected state.
static void attempt(RoomsFixture &f, FakeSocketFactory &sockets, int index)
{
    FakeTcpEndpoint *socket = sockets.tcp.at(index);
    if (f.list.isMarked(index))
        return;
    const int before = socket->connectCalls;
    for (int ticks = 0; ticks < 2 && socket->connectCalls == before; ++ticks)
        f.tick();
    QCOMPARE(socket->connectCalls, before + 1);
    QCOMPARE(socket->state(), SocketState::Connecting);
}

void TestSupervisor::emptyListIsGreenAndConnectsNothing()
{
    FakeSocketFactory sockets;
    RoomsFixture f(sockets);
    QCOMPARE(f.lamp(), RoomsFixture::red());
    for (int i = 0; i < 3; ++i) {
        f.tcpOk.setFillColor(RoomsFixture::red());
        f.tick();
        QCOMPARE(f.lamp(), RoomsFixture::green());
    }
    QVERIFY(sockets.tcp.isEmpty());
    QVERIFY(sockets.udp->sent.isEmpty());
    QVERIFY(f.log.text().isEmpty());
}

// One entry, its mark and its socket's state before a tick; what the tick does.
void TestSupervisor::tickPerEntry_data()
{
    QTest::addColumn<bool>("marked");
    QTest::addColumn<SocketState>("state");
    QTest::addColumn<int>("closes");
    QTest::addColumn<int>("connects");
    QTest::addColumn<QColor>("lamp");

    const QColor red = RoomsFixture::red();
    const QColor green = RoomsFixture::green();
    QTest::newRow("unmarked-closed") << false << SocketState::Closed << 0 << 1 << red;
    QTest::newRow("unmarked-resolving") << false << SocketState::ResolvingHost << 1 << 0 << red;
    QTest::newRow("unmarked-connecting") << false << SocketState::Connecting << 1 << 0 << red;
    QTest::newRow("unmarked-connected") << false << SocketState::Connected << 1 << 0 << red;
    QTest::newRow("unmarked-peerclosing") << false << SocketState::PeerClosing << 1 << 0 << red;
    QTest::newRow("unmarked-error") << false << SocketState::Error << 1 << 0 << red;
    QTest::newRow("marked-connected") << true << SocketState::Connected << 0 << 0 << green;
    // A mark set by hand counts, even though nothing is connected.
    QTest::newRow("marked-by-hand-closed") << true << SocketState::Closed << 0 << 0 << green;
    QTest::newRow("marked-error") << true << SocketState::Error << 0 << 0 << green;
}

void TestSupervisor::tickPerEntry()
{
    QFETCH(bool, marked);
    QFETCH(SocketState, state);
    QFETCH(int, closes);
    QFETCH(int, connects);
    QFETCH(QColor, lamp);

    FakeSocketFactory sockets;
    RoomsFixture f(sockets);
    f.supervisor.setDisplayPort(4321);
    f.addEntry(QStringLiteral("192.0.2.10"));
    FakeTcpEndpoint *socket = sockets.tcp.at(0);
    socket->setState(state);
    f.list.setMarked(0, marked);

    f.tick();

    QCOMPARE(socket->closeCalls, closes);
    QCOMPARE(socket->connectCalls, connects);
    if (connects) {
        QCOMPARE(socket->m_host, QStringLiteral("192.0.2.10"));
        QCOMPARE(socket->m_port, quint16(4321));
    }
    if (closes)
        QCOMPARE(socket->state(), SocketState::Closed);
    // The tick never touches a mark.
    QCOMPARE(f.list.isMarked(0), marked);
    QCOMPARE(f.lamp(), lamp);
}

void TestSupervisor::lampTurnsGreenAtTheTickAfterTheLastConnect()
{
    FakeSocketFactory sockets;
    RoomsFixture f(sockets);
    for (const char *host : {"192.0.2.10", "192.0.2.11", "192.0.2.12"})
        f.addEntry(QLatin1String(host));
    f.tick();
    sockets.tcp.at(0)->fireConnected();
    sockets.tcp.at(2)->fireConnected();
    f.tick(); // entry 1's attempt is still pending: closed here
    QCOMPARE(f.lamp(), RoomsFixture::red());
    QCOMPARE(sockets.tcp.at(1)->closeCalls, 1);
    f.tick();
    QCOMPARE(sockets.tcp.at(1)->connectCalls, 2);
    QCOMPARE(f.lamp(), RoomsFixture::red());

    sockets.tcp.at(1)->fireConnected();
    QVERIFY(f.list.isMarked(1));
    QCOMPARE(f.lamp(), RoomsFixture::red());
    f.tick();
    QCOMPARE(f.lamp(), RoomsFixture::green());
    // Marked entries are left alone.
    for (int i = 0; i < 3; ++i)
        QCOMPARE(sockets.tcp.at(i)->state(), SocketState::Connected);
}

void TestSupervisor::connectMarksLogsResetsAndSendsTheTime()
{
    FakeSocketFactory sockets;
    RoomsFixture f(sockets);
    f.addEntry(QStringLiteral("192.0.2.10"));
    f.addEntry(QStringLiteral("192.0.2.11"));
    f.tick();
    sockets.tcp.at(0)->fireConnected();
    f.setTime(QStringLiteral("01"), QStringLiteral("05"), QStringLiteral("30"));
    f.inpLog.clear();
    sockets.tcp.at(0)->sent.clear();
    f.tcp.setTag(1, QStringLiteral("2"));

    sockets.tcp.at(1)->fireConnected();

    QVERIFY(f.list.isMarked(1));
    QCOMPARE(f.log.text(), f.logLine(QStringLiteral("192.0.2.11= CONNECT")));
    QCOMPARE(f.tcp.tag(1), QStringLiteral("0"));
    const QByteArray frame = QByteArrayLiteral("\xC7"
                                               "010530");
    // The new display and every other marked one get the current time at once.
    QCOMPARE(sockets.tcp.at(1)->sent, QByteArrayList{frame});
    QCOMPARE(sockets.tcp.at(0)->sent, QByteArrayList{frame});
    QVERIFY(sockets.udp->sent.isEmpty());
}

void TestSupervisor::peerCloseIsClosedNextTickAndRetriedAfter()
{
    FakeSocketFactory sockets;
    RoomsFixture f(sockets);
    f.addEntry(QStringLiteral("192.0.2.10"));
    f.tick();
    FakeTcpEndpoint *socket = sockets.tcp.at(0);
    socket->fireConnected();
    f.tcp.setTag(0, QStringLiteral("0"));
    f.inpLog.clear();

    socket->fireClosedByPeer();
    QVERIFY(!f.list.isMarked(0));
    QCOMPARE(f.log.text(), f.logLine(QStringLiteral("192.0.2.10= CLOSE")));
    QCOMPARE(f.tcp.tag(0), QStringLiteral("0"));
    QCOMPARE(socket->closeCalls, 0);

    f.tick();
    QCOMPARE(socket->closeCalls, 1);
    QCOMPARE(socket->connectCalls, 1);
    QCOMPARE(f.lamp(), RoomsFixture::red());
    f.tick();
    QCOMPARE(socket->connectCalls, 2);
    QCOMPARE(socket->m_host, QStringLiteral("192.0.2.10"));
}

// A script of events on one socket, each preceded by the ticks that make a
// fresh attempt: 'e' error, 'c' connect, 'x' peer close (right after a connect).
void TestSupervisor::errorCounting_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("operatorClosesPanel");
    QTest::addColumn<int>("recoveries");
    QTest::addColumn<int>("panelOpens");
    QTest::addColumn<QString>("tag");

    QTest::newRow("3-errors") << "eee" << true << 0 << 0 << "3";
    QTest::newRow("4-errors") << "eeee" << true << 1 << 1 << "1";
    QTest::newRow("6-errors") << "eeeeee" << true << 1 << 1 << "3";
    QTest::newRow("10-errors") << "eeeeeeeeee" << true << 3 << 3 << "1";
    // With the panel still open the write changes nothing, the frame still leaves.
    QTest::newRow("7-errors-panel-left-open") << "eeeeeee" << false << 2 << 1 << "1";
    QTest::newRow("2-errors-connect-3-errors") << "eeceee" << true << 0 << 0 << "3";
    QTest::newRow("3-errors-connect-4-errors") << "eeeceeee" << true << 1 << 1 << "1";
    // A peer close counts for nothing.
    QTest::newRow("connect-close-3-errors") << "cxeee" << true << 0 << 0 << "3";
    QTest::newRow("connect-close-4-errors") << "cxeeee" << true << 1 << 1 << "1";
}

void TestSupervisor::errorCounting()
{
    QFETCH(QString, script);
    QFETCH(bool, operatorClosesPanel);
    QFETCH(int, recoveries);
    QFETCH(int, panelOpens);
    QFETCH(QString, tag);

    FakeSocketFactory sockets;
    RoomsFixture f(sockets);
    f.addEntry(QStringLiteral("192.0.2.10"));
    QSignalSpy toggled(&f.swCfg, &QCheckBox::toggled);
    FakeTcpEndpoint *socket = sockets.tcp.at(0);
    QString expectedLog;

    for (const QChar event : script) {
        if (event == QLatin1Char('x')) {
            socket->fireClosedByPeer();
            expectedLog += f.logLine(QStringLiteral("192.0.2.10= CLOSE"));
            continue;
        }
        attempt(f, sockets, 0);
        if (QTest::currentTestFailed())
            return;
        const int closesBefore = socket->closeCalls;
        if (event == QLatin1Char('c')) {
            socket->fireConnected();
            expectedLog += f.logLine(QStringLiteral("192.0.2.10= CONNECT"));
        } else {
            const qsizetype sentBefore = sockets.udp->sent.size();
            const bool panelBefore = f.swCfg.isChecked();
            socket->fireFailed(kRefused);
            // A recovery always leaves the panel open; otherwise it is left alone.
            QCOMPARE(f.swCfg.isChecked(),
                     sockets.udp->sent.size() > sentBefore ? true : panelBefore);
            expectedLog += f.logLine(QStringLiteral("192.0.2.10= ") + kRefused);
            QVERIFY(!f.list.isMarked(0));
            // The error handling leaves the socket to the next tick.
            QCOMPARE(socket->closeCalls, closesBefore);
        }
        if (operatorClosesPanel && f.swCfg.isChecked())
            f.swCfg.setChecked(false);
    }

    QCOMPARE(sockets.udp->sent.size(), recoveries);
    for (const QByteArray &datagram : std::as_const(sockets.udp->sent))
        QCOMPARE(datagram, QByteArrayLiteral("\xFE\xFF\x06"
                                             "192.0.2.10"));
    int opens = 0;
    for (const QList<QVariant> &args : std::as_const(toggled))
        opens += args.at(0).toBool() ? 1 : 0;
    QCOMPARE(opens, panelOpens);
    QCOMPARE(f.tcp.tag(0), tag);
    QCOMPARE(f.log.text(), expectedLog);
}

void TestSupervisor::recoveryNamesTheEntryNotTheSocketHost()
{
    FakeSocketFactory sockets;
    RoomsFixture f(sockets);
    f.addEntry(QStringLiteral("192.0.2.10"));
    f.addEntry(QStringLiteral("display-7"));
    f.tick();
    // Socket 1 now reports another host than its entry's text.
    f.tcp.setRemoteHost(1, QStringLiteral("198.51.100.7"));
    f.tcp.setTag(1, QStringLiteral("3"));
    f.inpLog.clear();

    sockets.tcp.at(1)->fireFailed(kRefused);

    QCOMPARE(sockets.udp->sent, QByteArrayList{QByteArrayLiteral("\xFE\xFF\x06"
                                                                 "display-7")});
    QCOMPARE(f.log.text(), f.logLine(QStringLiteral("198.51.100.7= ") + kRefused));
    QCOMPARE(f.tcp.tag(1), QStringLiteral("1"));
    // The other socket's count is its own.
    QCOMPARE(f.tcp.tag(0), QStringLiteral("0"));
}

void TestSupervisor::recoveryThatCannotLeaveIsLogged()
{
    FakeSocketFactory sockets;
    RoomsFixture f(sockets);
    f.addEntry(QStringLiteral("192.0.2.10"));
    f.tick();
    f.tcp.setTag(0, QStringLiteral("3"));
    sockets.udp->failure = QStringLiteral("Network unreachable");
    f.inpLog.clear();

    sockets.tcp.at(0)->fireFailed(kRefused);

    QCOMPARE(f.log.text(), f.logLine(QStringLiteral("192.0.2.10= ") + kRefused)
                               + f.logLine(QStringLiteral("255.255.255.255= Network unreachable")));
    QVERIFY(f.swCfg.isChecked());
    QCOMPARE(f.tcp.tag(0), QStringLiteral("1"));
}

void TestSupervisor::panelOpensBeforeTheRecoveryLeaves()
{
    FakeSocketFactory sockets;
    RoomsFixture f(sockets);
    f.addEntry(QStringLiteral("192.0.2.10"));
    f.tick();
    f.tcp.setTag(0, QStringLiteral("3"));
    qsizetype sentWhenOpened = -1;
    connect(&f.swCfg, &QCheckBox::toggled, this,
            [&](bool on) { sentWhenOpened = on ? sockets.udp->sent.size() : -2; });

    sockets.tcp.at(0)->fireFailed(kRefused);

    QVERIFY(f.swCfg.isChecked());
    QCOMPARE(sentWhenOpened, qsizetype(0));
    QCOMPARE(sockets.udp->sent.size(), qsizetype(1));
}

QTEST_MAIN(TestSupervisor)
#include "tst_supervisor.moc"
