#include "support/fakesockets.h"
#include "support/roomsfixture.h"

#include <QLocale>
#include <QtTest>

namespace {

QDateTime fixedNow()
{
    return QDateTime(QDate(2026, 12, 6), QTime(14, 3, 22));
}

// The log area with its room in the real window, under a fixed clock and a '/' separator.
struct Rig
{
    FakeSocketFactory factory;
    RoomsFixture console{factory};
    LogArea &inpLog = console.inpLog;
    EventLog &log = console.log;
};

const QString kStamp = QStringLiteral("06/12/26 14:03:22 ");

} // namespace

class TestEventLog : public QObject
{
    Q_OBJECT
private slots:
    void line_data();
    void line();
    void dateSeparator_data();
    void dateSeparator();
    void bound_data();
    void bound();
    void twoEventsInOneSecond();
    void markupShownAsIs();
    void doubleClickClears_data();
    void doubleClickClears();
};

void TestEventLog::line_data()
{
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("expected");

    QTest::newRow("connect") << fixedNow() << QChar('/') << "192.0.2.10= CONNECT"
                             << "06/12/26 14:03:22 192.0.2.10= CONNECT\r\n";
    QTest::newRow("padded-midnight")
        << QDateTime(QDate(2009, 1, 2), QTime(0, 0, 5)) << QChar('/') << "m"
        << "02/01/09 00:00:05 m\r\n";
    QTest::newRow("century-year") << QDateTime(QDate(2100, 10, 31), QTime(23, 59, 59)) << QChar('.')
                                  << "x"
                                  << "31.10.00 23:59:59 x\r\n";
    QTest::newRow("empty-message") << fixedNow() << QChar('-') << ""
                                   << "06-12-26 14:03:22 \r\n";
}

void TestEventLog::line()
{
    QFETCH(QDateTime, when);
    QFETCH(QChar, separator);
    QFETCH(QString, message);
    QFETCH(QString, expected);
    QCOMPARE(logtext::line(when, separator, message), expected);
}

void TestEventLog::dateSeparator_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QChar>("expected");

    QTest::newRow("en_GB") << QLocale(QLocale::English, QLocale::UnitedKingdom) << QChar('/');
    QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates) << QChar('/');
    QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany) << QChar('.');
    QTest::newRow("nl_NL") << QLocale(QLocale::Dutch, QLocale::Netherlands) << QChar('-');
    QTest::newRow("C") << QLocale::c() << QChar('/');
}

void TestEventLog::dateSeparator()
{
    QFETCH(QLocale, locale);
    QFETCH(QChar, expected);
    QCOMPARE(logtext::dateSeparator(locale), expected);
}

// The bound counts the old text (line ends as CR LF) and the message, nothing else.
void TestEventLog::bound_data()
{
    QTest::addColumn<QString>("before"); // as the widget holds it
    QTest::addColumn<int>("messageLength");
    QTest::addColumn<bool>("cleared");

    const QString text2990(2990, QLatin1Char('a'));
    QTest::newRow("2990+9-kept") << text2990 << 9 << false;
    QTest::newRow("2990+10-cleared") << text2990 << 10 << true;
    QTest::newRow("empty+2999-kept") << QString() << 2999 << false;
    QTest::newRow("empty+3000-cleared") << QString() << 3000 << true;
    QTest::newRow("short+5000-cleared") << "x" << 5000 << true;

    // 2980 characters and five line breaks count as 2990.
    QString typed = QString(2980, QLatin1Char('t'));
    for (int i = 1; i <= 5; ++i)
        typed.insert(i * 100, QLatin1Char('\n'));
    QTest::newRow("typed-breaks-kept") << typed << 9 << false;
    QTest::newRow("typed-breaks-cleared") << typed << 10 << true;
}

void TestEventLog::bound()
{
    QFETCH(QString, before);
    QFETCH(int, messageLength);
    QFETCH(bool, cleared);

    Rig rig;
    rig.inpLog.setPlainText(before);
    QString stored = before;
    stored.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    QCOMPARE(rig.log.text(), stored);
    QCOMPARE(logtext::storedLength(rig.inpLog.toPlainText()), stored.size());

    const QString message(messageLength, QLatin1Char('m'));
    rig.log.LOG_APPEND(message);

    const QString line = kStamp + message + QLatin1String("\r\n");
    QCOMPARE(rig.log.text(), cleared ? line : stored + line);
}

void TestEventLog::twoEventsInOneSecond()
{
    Rig rig;
    rig.log.LOG_APPEND("192.0.2.10= CONNECT");
    rig.log.LOG_APPEND("192.0.2.11= CLOSE");
    QCOMPARE(rig.log.text(), kStamp + "192.0.2.10= CONNECT\r\n" + kStamp + "192.0.2.11= CLOSE\r\n");
    // Appends never pile up in an undo history.
    QVERIFY(!rig.inpLog.document()->isUndoAvailable());
}

void TestEventLog::markupShownAsIs()
{
    Rig rig;
    const QString message = QStringLiteral("<b>host</b>= &amp; <br>");
    rig.log.LOG_APPEND(message);
    QCOMPARE(rig.log.text(), kStamp + message + "\r\n");
    QCOMPARE(rig.inpLog.document()->blockCount(), 2); // the line and the empty one after it
}

void TestEventLog::doubleClickClears_data()
{
    QTest::addColumn<int>("lines");
    QTest::newRow("empty-log") << 0;
    QTest::newRow("three-lines") << 3;
}

void TestEventLog::doubleClickClears()
{
    QFETCH(int, lines);

    Rig rig;
    for (int i = 0; i < lines; ++i)
        rig.log.LOG_APPEND(QStringLiteral("192.0.2.%1= CONNECT").arg(i));
    rig.console.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.console.window));
    QTest::mouseDClick(rig.inpLog.viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    QCOMPARE(rig.log.text(), QString());

    // The log goes on from empty.
    rig.log.LOG_APPEND("after");
    QCOMPARE(rig.log.text(), kStamp + "after\r\n");
}

QTEST_MAIN(TestEventLog)
#include "tst_eventlog.moc"
