#include "countdown/timedstart.h"
#include "support/fakesockets.h"
#include "support/roomsfixture.h"

#include <QtTest>

// The armed start with a fake wall clock in UTC, alone and as the composition
// point wires it into the window; and the countdown counting to an instant.
class TestTimedStart : public QObject
{
    Q_OBJECT
private slots:
    void check_data();
    void check();
    void wired_data();
    void wired();
    void countTo_data();
    void countTo();
};

namespace {

// 2026-06-01, a time of day on it in UTC: "HH:mm:ss.zzz", a "+1" suffix for the next day.
qint64 at(const QString &text)
{
    const bool nextDay = text.endsWith(QLatin1String("+1"));
    const QTime t = QTime::fromString(text.left(12), QStringLiteral("HH:mm:ss.zzz"));
    return QDateTime(QDate(2026, 6, nextDay ? 2 : 1), t, Qt::UTC).toMSecsSinceEpoch();
}

} // namespace

void TestTimedStart::check_data()
{
    QTest::addColumn<QString>("armedAt");
    QTest::addColumn<QString>("checkedAt");
    QTest::addColumn<int>("wait"); // the next wait, -1 when done
    QTest::addColumn<QString>("outcome");

    // clang-format off
    QTest::newRow("far-ahead") << "19:00:00.000" << "19:00:00.000" << 1000 << "armed";
    QTest::newRow("last-ms") << "19:59:58.000" << "19:59:59.999" << 1 << "armed";
    QTest::newRow("on-the-second") << "19:59:58.000" << "20:00:00.000" << -1 << "fired";
    QTest::newRow("late-within-grace") << "19:59:58.000" << "20:00:05.000" << -1 << "fired";
    QTest::newRow("slept-past-it") << "19:59:58.000" << "20:00:05.001" << -1 << "missed";
    QTest::newRow("clock-stepped-back") << "19:59:58.000" << "18:00:00.000" << 1000 << "armed";
    QTest::newRow("same-second-is-tomorrow") << "20:00:00.400" << "20:00:01.000" << 1000 << "armed";
    QTest::newRow("tomorrow-fires") << "20:00:00.400" << "20:00:00.000+1" << -1 << "fired";
    // clang-format on
}

void TestTimedStart::check()
{
    QFETCH(QString, armedAt);
    QFETCH(QString, checkedAt);
    QFETCH(int, wait);
    QFETCH(QString, outcome);

    QString result = QStringLiteral("armed");
    TimedStart start([&](const QString &who) { result = QStringLiteral("fired ") + who; },
                     [&](const QString &who, QTime) { result = QStringLiteral("missed ") + who; });
    qint64 now = at(armedAt);
    start.setClock([&now] { return now; });
    start.setOffsetAt([](qint64) { return 0; });
    QSignalSpy changed(&start, &TimedStart::changed);
    start.arm(QTime(20, 0), QStringLiteral("X"));
    QCOMPARE(start.text(), QStringLiteral("20:00:00"));
    QVERIFY(start.nextWaitMs() >= 0 && start.nextWaitMs() <= 1000);

    now = at(checkedAt);
    start.check();
    QCOMPARE(start.nextWaitMs(), wait);
    QCOMPARE(result, outcome == QLatin1String("armed") ? outcome : outcome + QStringLiteral(" X"));
    QCOMPARE(start.isArmed(), outcome == QLatin1String("armed"));
    QCOMPARE(start.text().isEmpty(), !start.isArmed());
    QCOMPARE(changed.size(), start.isArmed() ? 1 : 2);
}

void TestTimedStart::wired_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("armed");

    QTest::newRow("operator-run") << "click-run" << false;
    QTest::newRow("operator-reset") << "click-reset" << false;
    QTest::newRow("stop-at-zero") << "zero" << true;
    QTest::newRow("typed-time") << "type" << true;
    QTest::newRow("fires") << "fire" << false;
}

void TestTimedStart::wired()
{
    QFETCH(QString, action);
    QFETCH(bool, armed);

    FakeSocketFactory sockets;
    RoomsFixture f(sockets);
    TimedStart &start = *f.window.timedStart();
    qint64 now = at(QStringLiteral("19:00:00.000"));
    start.setClock([&now] { return now; });
    start.setOffsetAt([](qint64) { return 0; });
    f.set(QStringLiteral("00:00:01"));
    start.arm(QTime(19, 30), QStringLiteral("REMOTE 127.0.0.1"));
    const QString logBefore = f.log.text();

    if (action == QLatin1String("click-run")) {
        QTest::mouseClick(&f.swGo, Qt::LeftButton);
    } else if (action == QLatin1String("click-reset")) {
        QTest::mouseClick(&f.bReset, Qt::LeftButton);
    } else if (action == QLatin1String("zero")) {
        f.swGo.setChecked(true);
        f.countdown.TIM_REBOUR_Timer();
        QVERIFY(!f.swGo.isChecked());
    } else if (action == QLatin1String("type")) {
        f.set(QStringLiteral("00:05:00"));
    } else {
        now = at(QStringLiteral("19:30:00.003"));
        start.check();
        QVERIFY(f.swGo.isChecked());
        QCOMPARE(f.timRebour.interval(), 1000);
        QCOMPARE(f.log.text(), logBefore + f.logLine(QStringLiteral("REMOTE 127.0.0.1= RUN")));
    }
    QCOMPARE(start.isArmed(), armed);
}

void TestTimedStart::countTo_data()
{
    QTest::addColumn<bool>("running");
    QTest::addColumn<qint64>("msLeft");
    QTest::addColumn<QString>("fields");
    QTest::addColumn<int>("interval"); // of the tick timer, -1 when stopped

    QTest::newRow("stopped") << false << qint64(19400) << "00:00:20" << -1;
    QTest::newRow("running-moves-tick") << true << qint64(19400) << "00:00:20" << 400;
    QTest::newRow("running-on-phase") << true << qint64(20000) << "00:00:20" << 1000;
    QTest::newRow("hours") << false << qint64(5025000) << "01:23:45" << -1;
    QTest::newRow("held-at-most") << true << qint64(86400000) << "23:59:59" << 2000;
}

void TestTimedStart::countTo()
{
    QFETCH(bool, running);
    QFETCH(qint64, msLeft);
    QFETCH(QString, fields);
    QFETCH(int, interval);

    FakeSocketFactory sockets;
    RoomsFixture f(sockets);
    f.swGo.setChecked(running);
    f.countdown.countTo(msLeft);
    QCOMPARE(f.texts(), fields);
    QCOMPARE(f.timRebour.isActive() ? f.timRebour.interval() : -1, interval);
    if (running) {
        // The moved tick counts one second and puts the timer back on the second.
        f.countdown.TIM_REBOUR_Timer();
        QCOMPARE(f.timRebour.interval(), 1000);
    }
}

QTEST_MAIN(TestTimedStart)
#include "tst_timedstart.moc"
