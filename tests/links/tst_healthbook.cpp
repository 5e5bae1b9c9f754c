#include "support/fakesockets.h"
#include "support/roomsfixture.h"

#include <QtTest>

namespace {

const QDateTime kStart(QDate(2026, 12, 6), QTime(20, 10, 0));
const QString kRefused = QStringLiteral("Connection refused");

// The real window over fake sockets, with a clock the test moves.
struct Rig : FakeSocketFactory
{
    explicit Rig(const QStringList &entries)
    {
        console.log.setClock([this] { return now; });
        for (const QString &entry : entries)
            console.addEntry(entry);
    }

    // "T what": at T seconds after the start, one of: up, refused, close, tick, mark.
    void play(const QString &step, int socket = 0)
    {
        now = kStart.addSecs(step.section(' ', 0, 0).toInt());
        const QString what = step.section(' ', 1);
        FakeTcpEndpoint *s = tcp.at(socket);
        if (what == "up")
            s->fireConnected();
        else if (what == "refused")
            s->fireFailed(kRefused);
        else if (what == "close")
            s->fireClosedByPeer();
        else if (what == "tick")
            console.tick();
        else if (what == "mark")
            console.list.setMarked(socket, true);
        else
            QFAIL(qPrintable("unknown step " + step));
    }

    QDateTime now = kStart;
    RoomsFixture console{*this};
};

} // namespace

class TestHealthBook : public QObject
{
    Q_OBJECT
private slots:
    void transitions_data();
    void transitions();
    void recordsFollowDel();
    void entryToolTip_data();
    void entryToolTip();
    void lampToolTip();
};

void TestHealthBook::transitions_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("state");
    QTest::addColumn<int>("since"); // seconds after the start
    QTest::addColumn<int>("errors");
    QTest::addColumn<int>("recoveryAt"); // -1: none sent
    QTest::addColumn<int>("connects");
    QTest::addColumn<int>("losses");

    QTest::newRow("added") << QStringList{} << "connecting" << 0 << 0 << -1 << 0 << 0;
    QTest::newRow("connect") << QStringList{"5 up"} << "connected" << 5 << 0 << -1 << 1 << 0;
    QTest::newRow("refused-x3") << QStringList{"10 refused", "12 refused", "14 refused"}
                                << "failing" << 10 << 3 << -1 << 0 << 0;
    QTest::newRow("refused-x4") << QStringList{"10 refused", "12 refused", "14 refused",
                                               "16 refused"}
                                << "failing" << 10 << 1 << 16 << 0 << 0;
    QTest::newRow("close") << QStringList{"5 up", "30 close"} << "failing" << 30 << 0 << -1 << 1
                           << 1;
    QTest::newRow("error-when-up")
        << QStringList{"5 up", "30 refused"} << "failing" << 30 << 1 << -1 << 1 << 1;
    QTest::newRow("reconnect") << QStringList{"5 up", "30 close", "34 up"} << "connected" << 34 << 0
                               << -1 << 2 << 1;
    QTest::newRow("mark-by-hand") << QStringList{"5 mark", "6 tick"} << "marked" << 6 << 0 << -1
                                  << 0 << 0;
    QTest::newRow("hand-mark-goes-up")
        << QStringList{"5 mark", "6 tick", "8 up"} << "connected" << 8 << 0 << -1 << 1 << 0;
    // An hour on, only what happened within the last hour counts.
    QTest::newRow("hour-rolls-over") << QStringList{"0 up", "10 close", "20 up", "3615 tick"}
                                     << "connected" << 20 << 0 << -1 << 1 << 0;
    QTest::newRow("hour-keeps-last") << QStringList{"0 up", "10 close", "20 up", "3599 tick"}
                                     << "connected" << 20 << 0 << -1 << 2 << 1;
}

void TestHealthBook::transitions()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, state);
    QFETCH(int, since);
    QFETCH(int, errors);
    QFETCH(int, recoveryAt);
    QFETCH(int, connects);
    QFETCH(int, losses);

    Rig rig({QStringLiteral("192.0.2.10")});
    rig.console.window.show(); // tooltips are kept up to date while the list is on screen
    QVERIFY(QTest::qWaitForWindowExposed(&rig.console.window));
    for (const QString &step : steps)
        rig.play(step);

    const DisplayHealth h = rig.console.health.record(0);
    QCOMPARE(h.address, QStringLiteral("192.0.2.10"));
    QCOMPARE(displayhealth::stateName(h.state), state);
    QCOMPARE(h.since, kStart.addSecs(since));
    QCOMPARE(h.errorCount, errors);
    QCOMPARE(h.lastRecoveryAt, recoveryAt < 0 ? QDateTime() : kStart.addSecs(recoveryAt));
    QCOMPARE(h.connectsLastHour, connects);
    QCOMPARE(h.lossesLastHour, losses);
    if (state == "failing" && errors > 0)
        QCOMPARE(h.lastError, kRefused);
    // The entry's tooltip is the record's, as of the last event or tick.
    QCOMPARE(rig.console.lstIp.item(0)->toolTip(), HealthBook::entryToolTip(h, rig.now));
}

void TestHealthBook::recordsFollowDel()
{
    Rig rig({"A", "B", "C"});
    rig.play("5 up", 0);
    rig.play("6 refused", 1);
    rig.play("7 refused", 2);
    rig.play("8 refused", 2);
    rig.console.lstIp.setCurrentRow(1);
    rig.console.bDel.click();

    QCOMPARE(rig.console.health.count(), 2);
    const DisplayHealth a = rig.console.health.record(0);
    const DisplayHealth c = rig.console.health.record(1);
    QCOMPARE(a.address, QStringLiteral("A"));
    QCOMPARE(a.connectsLastHour, 1);
    QVERIFY(a.lastError.isEmpty());
    QCOMPARE(c.address, QStringLiteral("C"));
    QCOMPARE(c.lastError, kRefused);
    QCOMPARE(c.lastErrorAt, kStart.addSecs(8));
    QCOMPARE(c.since, kStart.addSecs(7));
    QCOMPARE(c.errorCount, 1); // the count is the Tag, which stays with the socket's index

    // A new entry starts a record of its own.
    rig.now = kStart.addSecs(20);
    rig.console.addEntry("D");
    QCOMPARE(rig.console.health.record(2).address, QStringLiteral("D"));
    QCOMPARE(rig.console.health.record(2).since, kStart.addSecs(20));
    QVERIFY(rig.console.health.record(2).lastError.isEmpty());
}

void TestHealthBook::entryToolTip_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<qint64>("rtt");
    QTest::addColumn<QString>("expected");

    const QString tail = QStringLiteral("\nLast frame 00:12:30\nLast hour: 1 connect, 0 losses");
    const QString lastError = QStringLiteral("\nLast error 20:20:00 · Connection refused");
    QTest::newRow("connected")
        << int(DisplayHealth::State::Connected) << qint64(3200)
        << "10.0.0.2\nConnected since 20:14:03 (12 min) · 3.2 ms · 744 frames" + tail + lastError;
    QTest::newRow("connected-no-rtt")
        << int(DisplayHealth::State::Connected) << qint64(-1)
        << "10.0.0.2\nConnected since 20:14:03 (12 min) · rtt n/a · 744 frames" + tail + lastError;
    QTest::newRow("failing") << int(DisplayHealth::State::Failing) << qint64(-1)
                             << "10.0.0.2\nFailing since 20:14:03 · Connection refused · 3 errors "
                                "· recovery sent 20:20:11"
                                    + tail;
    QTest::newRow("marked") << int(DisplayHealth::State::MarkedByHand) << qint64(-1)
                            << "10.0.0.2\nMarked by hand since 20:14:03 · not connected" + tail
                                   + lastError;
}

void TestHealthBook::entryToolTip()
{
    QFETCH(int, state);
    QFETCH(qint64, rtt);
    QFETCH(QString, expected);
    DisplayHealth h;
    h.address = QStringLiteral("10.0.0.2");
    h.state = DisplayHealth::State(state);
    h.since = QDateTime(QDate(2026, 12, 6), QTime(20, 14, 3));
    h.rttMicros = rtt;
    h.framesSent = 744;
    h.lastFrameText = QStringLiteral("001230");
    h.connectsLastHour = 1;
    h.errorCount = 3;
    h.lastError = kRefused;
    h.lastErrorAt = QDateTime(QDate(2026, 12, 6), QTime(20, 20, 0));
    h.lastRecoveryAt = QDateTime(QDate(2026, 12, 6), QTime(20, 20, 11));
    QCOMPARE(HealthBook::entryToolTip(h, h.since.addSecs(12 * 60 + 30)), expected);
}

void TestHealthBook::lampToolTip()
{
    QCOMPARE(HealthBook::lampToolTip({}), QStringLiteral("No displays"));

    Rig rig({"10.0.0.1", "10.0.0.2", "10.0.0.3"});
    rig.play("1 up", 0);
    rig.play("2 refused", 1);
    rig.play("3 up", 2);
    rig.play("4 tick");
    QCOMPARE(rig.console.tcpOk.toolTip(),
             QStringLiteral("2 of 3 displays connected\n10.0.0.2 failing since 20:10:02"));
}

QTEST_MAIN(TestHealthBook)
#include "tst_healthbook.moc"
