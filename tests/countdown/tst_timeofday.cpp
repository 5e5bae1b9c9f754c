#include "countdown/timeofday.h"

#include <QDateTime>
#include <QtTest>

#include <ctime>

// The wall-clock arithmetic in fixed zones, set in this process only: the
// machine's own zone never decides a result.
class TestTimeOfDay : public QObject
{
    Q_OBJECT
private slots:
    void cleanupTestCase();
    void nextOccurrence_data();
    void nextOccurrence();
    void until_data();
    void until();

private:
    QByteArray m_tz = qgetenv("TZ");
};

namespace {

void setZone(const QByteArray &zone)
{
    qputenv("TZ", zone);
    tzset();
}

qint64 instant(const QString &iso)
{
    const QDateTime t = QDateTime::fromString(iso, Qt::ISODateWithMs);
    return t.isValid() ? t.toMSecsSinceEpoch() : -1;
}

} // namespace

void TestTimeOfDay::cleanupTestCase()
{
    if (m_tz.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", m_tz);
    tzset();
}

// clang-format off
void TestTimeOfDay::nextOccurrence_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("now");
    QTest::addColumn<QString>("at");
    QTest::addColumn<QString>("expected");

    QTest::newRow("later-today") << QByteArray("UTC") << "2026-06-01T19:15:00.000Z" << "20:00:00" << "2026-06-01T20:00:00.000Z";
    QTest::newRow("before-midnight") << QByteArray("UTC") << "2026-06-01T23:59:58.500Z" << "00:00:00" << "2026-06-02T00:00:00.000Z";
    QTest::newRow("after-midnight") << QByteArray("UTC") << "2026-06-02T00:00:01.000Z" << "23:59:59" << "2026-06-02T23:59:59.000Z";
    QTest::newRow("passed-today") << QByteArray("UTC") << "2026-06-01T20:00:01.000Z" << "20:00:00" << "2026-06-02T20:00:00.000Z";
    QTest::newRow("exactly-now") << QByteArray("UTC") << "2026-06-01T20:00:00.000Z" << "20:00:00" << "2026-06-02T20:00:00.000Z";
    QTest::newRow("within-the-second") << QByteArray("UTC") << "2026-06-01T20:00:00.999Z" << "20:00:00" << "2026-06-02T20:00:00.000Z";
    QTest::newRow("last-ms-before") << QByteArray("UTC") << "2026-06-01T19:59:59.999Z" << "20:00:00" << "2026-06-01T20:00:00.000Z";
    QTest::newRow("local-not-utc") << QByteArray("Asia/Kolkata") << "2026-06-01T23:00:00.000+05:30" << "00:30:00" << "2026-06-02T00:30:00.000+05:30";
    // Spring forward (02:00 -> 03:00): a skipped time fires as the clock resumes.
    QTest::newRow("gap-same-night") << QByteArray("Europe/Berlin") << "2026-03-29T01:00:00.000+01:00" << "02:30:00" << "2026-03-29T03:00:00.000+02:00";
    QTest::newRow("gap-day-before") << QByteArray("Europe/Berlin") << "2026-03-28T22:00:00.000+01:00" << "02:30:00" << "2026-03-29T03:00:00.000+02:00";
    QTest::newRow("gap-start") << QByteArray("Europe/Berlin") << "2026-03-29T01:59:59.000+01:00" << "02:00:00" << "2026-03-29T03:00:00.000+02:00";
    QTest::newRow("gap-just-after") << QByteArray("Europe/Berlin") << "2026-03-29T01:59:59.000+01:00" << "03:00:00" << "2026-03-29T03:00:00.000+02:00";
    QTest::newRow("gap-new-york") << QByteArray("America/New_York") << "2026-03-08T00:00:00.000-05:00" << "02:30:00" << "2026-03-08T03:00:00.000-04:00";
    QTest::newRow("across-spring-23h") << QByteArray("Europe/Berlin") << "2026-03-28T20:00:00.500+01:00" << "20:00:00" << "2026-03-29T20:00:00.000+02:00";
    // Fall back (03:00 -> 02:00): the first reading still ahead.
    QTest::newRow("overlap-first") << QByteArray("Europe/Berlin") << "2026-10-25T01:00:00.000+02:00" << "02:30:00" << "2026-10-25T02:30:00.000+02:00";
    QTest::newRow("overlap-between") << QByteArray("Europe/Berlin") << "2026-10-25T02:45:00.000+02:00" << "02:30:00" << "2026-10-25T02:30:00.000+01:00";
    QTest::newRow("overlap-after-both") << QByteArray("Europe/Berlin") << "2026-10-25T02:45:00.000+01:00" << "02:30:00" << "2026-10-26T02:30:00.000+01:00";
    QTest::newRow("across-fall-25h") << QByteArray("Europe/Berlin") << "2026-10-24T20:00:00.000+02:00" << "20:00:00" << "2026-10-25T20:00:00.000+01:00";
    QTest::newRow("half-hour-change") << QByteArray("Australia/Lord_Howe") << "2026-10-04T01:00:00.000+10:30" << "02:15:00" << "2026-10-04T02:30:00.000+11:00";
    // A whole day skipped when the zone crossed the date line.
    QTest::newRow("skipped-day") << QByteArray("Pacific/Apia") << "2011-12-29T12:00:00.000-10:00" << "10:00:00" << "2011-12-31T00:00:00.000+14:00";
}
// clang-format on

void TestTimeOfDay::nextOccurrence()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, now);
    QFETCH(QString, at);
    QFETCH(QString, expected);
    setZone(zone);
    const qint64 nowMs = instant(now);
    QVERIFY(nowMs >= 0);
    // Compared as local texts with their offsets, which say what went wrong.
    const auto local = [](qint64 ms) {
        return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, timeofday::systemOffsetAt(ms))
            .toString(Qt::ISODateWithMs);
    };
    QCOMPARE(local(timeofday::nextOccurrence(nowMs, QTime::fromString(at, Qt::ISODate))),
             local(instant(expected)));
}

void TestTimeOfDay::until_data()
{
    QTest::addColumn<qint64>("msLeft");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<qint64>("firstTickMs");

    QTest::newRow("one-ms") << qint64(1) << 1 << qint64(1);
    QTest::newRow("part-second") << qint64(999) << 1 << qint64(999);
    QTest::newRow("one-second") << qint64(1000) << 1 << qint64(1000);
    QTest::newRow("just-over") << qint64(1001) << 2 << qint64(1);
    QTest::newRow("twenty-s") << qint64(19400) << 20 << qint64(400);
    QTest::newRow("largest-shown") << qint64(86399000) << 86399 << qint64(1000);
    QTest::newRow("held-a-moment") << qint64(86399001) << 86399 << qint64(1001);
    QTest::newRow("a-whole-day") << qint64(86400000) << 86399 << qint64(2000);
    QTest::newRow("fall-back-25h") << qint64(90000000) << 86399 << qint64(3602000);
}

void TestTimeOfDay::until()
{
    QFETCH(qint64, msLeft);
    QFETCH(int, seconds);
    QFETCH(qint64, firstTickMs);
    const timeofday::Until u = timeofday::until(msLeft);
    QCOMPARE(u.seconds, seconds);
    QCOMPARE(u.firstTickMs, firstTickMs);
    // Zero lands on the target, never before it.
    QCOMPARE(u.firstTickMs + qint64(u.seconds - 1) * 1000, msLeft);
}

QTEST_GUILESS_MAIN(TestTimeOfDay)
#include "tst_timeofday.moc"
