#include "countdown/timemath.h"

#include <QtTest>

#include <cmath>

using timemath::Hms;

// The row tables read as tables, one row per line.
// clang-format off
class TestTimeMath : public QObject
{
    Q_OBJECT
private slots:
    void numericValue_data();
    void numericValue();
    void twoDigits_data();
    void twoDigits();
    void roundHalfEven_data();
    void roundHalfEven();
    void tick_data();
    void tick();
    void timeText_data();
    void timeText();
    void nudged_data();
    void nudged();
};

void TestTimeMath::numericValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("leading-zero") << "07" << 7.0;
    QTest::newRow("trailing-letter") << "7x" << 7.0;
    QTest::newRow("leading-space") << " 5" << 5.0;
    QTest::newRow("tab-newline") << "\t\n3" << 3.0;
    QTest::newRow("minus") << "-5" << -5.0;
    QTest::newRow("plus") << "+5" << 5.0;
    QTest::newRow("point-first") << ".5" << 0.5;
    QTest::newRow("minus-point") << "-.5" << -0.5;
    QTest::newRow("point-last") << "9." << 9.0;
    QTest::newRow("second-point-ends") << "1.2.3" << 1.2;
    QTest::newRow("letters") << "ab" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("lone-sign") << "-" << 0.0;
    QTest::newRow("lone-point") << "." << 0.0;
    QTest::newRow("sign-then-blank") << "- 5" << 0.0;
    QTest::newRow("carriage-return-not-blank") << "\r5" << 0.0;
    QTest::newRow("comma-not-point") << "1,5" << 1.0;
    QTest::newRow("inner-minus-ends") << "00-0100" << 0.0;
    QTest::newRow("six-digits") << "235959" << 235959.0;
    QTest::newRow("arabic-digit-not-digit") << QString(QChar(0x0665)) << 0.0;
}

void TestTimeMath::numericValue()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(timemath::numericValue(text), value);
}

void TestTimeMath::twoDigits_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0.0 << "00";
    QTest::newRow("five") << 5.0 << "05";
    QTest::newRow("twentythree") << 23.0 << "23";
    QTest::newRow("ninetynine") << 99.0 << "99";
    QTest::newRow("three-digits") << 123.0 << "123";
    QTest::newRow("minus-five") << -5.0 << "-05";
    QTest::newRow("minus-nine") << -9.0 << "-09";
    QTest::newRow("half-away-up") << 0.5 << "01";
    QTest::newRow("half-away-down") << -0.5 << "-01";
    QTest::newRow("nine-and-half") << 9.5 << "10";
    QTest::newRow("small-negative-no-sign") << -0.4 << "00";
    QTest::newRow("fraction-down") << 1.4 << "01";
    // Text a program wrote past the two-character limit must not overflow.
    QTest::newRow("huge-is-bounded") << 1e300 << "1000000000";
    QTest::newRow("nan-is-zero") << std::nan("") << "00";
}

void TestTimeMath::twoDigits()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(timemath::twoDigits(value), text);
}

void TestTimeMath::roundHalfEven_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("rounded");
    QTest::newRow("half") << 0.5 << 0;
    QTest::newRow("one-and-half") << 1.5 << 2;
    QTest::newRow("two-and-half") << 2.5 << 2;
    QTest::newRow("minus-half") << -0.5 << 0;
    QTest::newRow("minus-one-and-half") << -1.5 << -2;
    QTest::newRow("minus-two-and-half") << -2.5 << -2;
    QTest::newRow("above-half") << 0.6 << 1;
    QTest::newRow("below-half") << -0.4 << 0;
    QTest::newRow("whole") << 98.0 << 98;
    QTest::newRow("minus-ten") << -10.0 << -10;
}

void TestTimeMath::roundHalfEven()
{
    QFETCH(double, value);
    QFETCH(int, rounded);
    QCOMPARE(timemath::roundHalfEven(value), rounded);
}

// Fields as text, through the numeric value, as the tick reads them.
void TestTimeMath::tick_data()
{
    QTest::addColumn<QString>("h");
    QTest::addColumn<QString>("m");
    QTest::addColumn<QString>("s");
    QTest::addColumn<int>("hours");
    QTest::addColumn<int>("minutes");
    QTest::addColumn<int>("seconds");
    QTest::newRow("last-second") << "00" << "00" << "01" << 0 << 0 << 0;
    QTest::newRow("minute-borrow") << "00" << "01" << "00" << 0 << 0 << 59;
    QTest::newRow("hour-borrow") << "01" << "00" << "00" << 0 << 59 << 59;
    QTest::newRow("ten-hours") << "10" << "00" << "00" << 9 << 59 << 59;
    QTest::newRow("minutes-75") << "00" << "75" << "00" << 1 << 14 << 59;
    QTest::newRow("seconds-99") << "00" << "00" << "99" << 0 << 1 << 38;
    QTest::newRow("thirty-hours-drop-day") << "30" << "00" << "00" << 5 << 59 << 59;
    QTest::newRow("day-boundary") << "24" << "00" << "00" << 23 << 59 << 59;
    QTest::newRow("all-nines") << "99" << "99" << "99" << 4 << 40 << 38;
    QTest::newRow("letters-count-zero") << "ab" << "10" << "00" << 0 << 9 << 59;
    QTest::newRow("digit-then-letter") << "5x" << "00" << "00" << 4 << 59 << 59;
    QTest::newRow("negative-minutes") << "01" << "-5" << "00" << 0 << 54 << 59;
    QTest::newRow("half-second-stays") << "01" << "00" << ".5" << 1 << 0 << 0;
    QTest::newRow("one-and-half-seconds") << "00" << "00" << "1.5" << 0 << 0 << 0;
    QTest::newRow("half-hour-even") << ".5" << "00" << "10" << 0 << 0 << 9;
    QTest::newRow("single-digits") << "1" << "2" << "3" << 1 << 2 << 2;
    QTest::newRow("zero-stays-zero") << "00" << "00" << "00" << 0 << 0 << 0;
    QTest::newRow("empty-stays-zero") << "" << "" << "" << 0 << 0 << 0;
    QTest::newRow("negative-hours-zero") << "-9" << "00" << "00" << 0 << 0 << 0;
    QTest::newRow("negative-seconds-zero") << "00" << "00" << "-9" << 0 << 0 << 0;
    QTest::newRow("huge-text-bounded") << "999999999999" << "00" << "00" << 15 << 59 << 59;
}

void TestTimeMath::tick()
{
    QFETCH(QString, h);
    QFETCH(QString, m);
    QFETCH(QString, s);
    QFETCH(int, hours);
    QFETCH(int, minutes);
    QFETCH(int, seconds);
    const Hms got = timemath::tickDown(timemath::numericValue(h), timemath::numericValue(m),
                                       timemath::numericValue(s));
    QCOMPARE(got.hours, hours);
    QCOMPARE(got.minutes, minutes);
    QCOMPARE(got.seconds, seconds);
}

void TestTimeMath::timeText_data()
{
    QTest::addColumn<QString>("h");
    QTest::addColumn<QString>("m");
    QTest::addColumn<QString>("s");
    QTest::addColumn<QString>("text");
    QTest::newRow("single-digits") << "1" << "2" << "3" << "010203";
    QTest::newRow("last-second") << "00" << "00" << "01" << "000001";
    QTest::newRow("full") << "23" << "59" << "59" << "235959";
    QTest::newRow("out-of-range-as-typed") << "00" << "75" << "00" << "007500";
    QTest::newRow("negative-hours") << "-5" << "00" << "00" << "-050000";
    QTest::newRow("negative-minutes-is-zero") << "00" << "-1" << "00" << "------";
    QTest::newRow("negative-minutes-after-hours") << "01" << "-1" << "00" << "01-0100";
    QTest::newRow("all-zero") << "00" << "00" << "00" << "------";
    QTest::newRow("all-empty") << "" << "" << "" << "------";
    QTest::newRow("empty-zero-mix") << "" << "00" << "" << "------";
    QTest::newRow("zero-empty-mix") << "00" << "" << "0" << "------";
    QTest::newRow("letters") << "ab" << "xy" << "z" << "------";
    QTest::newRow("letters-then-value") << "ab" << "" << "7" << "000007";
    QTest::newRow("half-rounds-up") << "" << "" << ".5" << "000001";
    QTest::newRow("blank-before-digit") << " 1" << "\t2" << "3" << "010203";
}

void TestTimeMath::timeText()
{
    QFETCH(QString, h);
    QFETCH(QString, m);
    QFETCH(QString, s);
    QFETCH(QString, text);
    QCOMPARE(timemath::timeText(h, m, s), text);
}

void TestTimeMath::nudged_data()
{
    QTest::addColumn<double>("h");
    QTest::addColumn<double>("m");
    QTest::addColumn<double>("s");
    QTest::addColumn<int>("delta");
    QTest::addColumn<QString>("result");

    QTest::newRow("plus-minute") << 0.0 << 1.0 << 30.0 << 60 << "00:02:30";
    QTest::newRow("minus-minute-borrows-hour") << 1.0 << 0.0 << 30.0 << -60 << "00:59:30";
    QTest::newRow("clamped-at-zero") << 0.0 << 0.0 << 30.0 << -60 << "00:00:00";
    // At most a day less a second: the tick would turn 24:00:30 into 00:00:29.
    QTest::newRow("clamped-at-top") << 23.0 << 59.0 << 0.0 << 3600 << "23:59:59";
    QTest::newRow("up-to-top-exactly") << 23.0 << 59.0 << 58.0 << 1 << "23:59:59";
    QTest::newRow("minute-before-midnight") << 23.0 << 59.0 << 30.0 << 60 << "23:59:59";
    QTest::newRow("whole-range-down") << 23.0 << 59.0 << 59.0 << -86399 << "00:00:00";
    QTest::newRow("unnormalised-fields") << 0.0 << 75.0 << 90.0 << 0 << "01:16:30";
    QTest::newRow("typed-beyond-a-day") << 30.0 << 0.0 << 0.0 << -60 << "23:59:59";
    QTest::newRow("negative-field") << 0.0 << -5.0 << 0.0 << 60 << "00:00:00";
    QTest::newRow("half-to-even") << 0.0 << 0.0 << 2.5 << 0 << "00:00:02";
    QTest::newRow("far-beyond-top") << 1e9 << 0.0 << 0.0 << -60 << "23:59:59";
}

void TestTimeMath::nudged()
{
    QFETCH(double, h);
    QFETCH(double, m);
    QFETCH(double, s);
    QFETCH(int, delta);
    QFETCH(QString, result);
    const timemath::Hms t = timemath::nudged(h, m, s, delta);
    QCOMPARE(QStringLiteral("%1:%2:%3").arg(timemath::twoDigits(t.hours), timemath::twoDigits(t.minutes),
                                            timemath::twoDigits(t.seconds)),
             result);
}

QTEST_GUILESS_MAIN(TestTimeMath)
#include "tst_timemath.moc"
// clang-format on
