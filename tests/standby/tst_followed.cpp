#include "standby/followed.h"

#include <QtTest>

// The standby's pure parts: where the main is, what its state says, and where
// its countdown would be now.
class TestFollowed : public QObject
{
    Q_OBJECT
private slots:
    void parseMain_data();
    void parseMain();
    void fromJson_data();
    void fromJson();
    void secondsNow_data();
    void secondsNow();
};

void TestFollowed::parseMain_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("logged"); // empty: refused
    QTest::newRow("ipv4") << "10.0.0.5:8080"
                          << "10.0.0.5:8080";
    QTest::newRow("ipv6") << "[fd00::5]:8080"
                          << "[fd00::5]:8080";
    QTest::newRow("ipv6-long-form") << "[fd00:0:0::5]:1"
                                    << "[fd00::5]:1";
    QTest::newRow("top-port") << "127.0.0.1:65535"
                              << "127.0.0.1:65535";
    QTest::newRow("name") << "main.local:8080"
                          << "";
    QTest::newRow("port-only") << "8080"
                               << "";
    QTest::newRow("no-port") << "10.0.0.5:"
                             << "";
    QTest::newRow("port-zero") << "10.0.0.5:0"
                               << "";
    QTest::newRow("port-too-big") << "10.0.0.5:65536"
                                  << "";
    QTest::newRow("port-signed") << "10.0.0.5:+80"
                                 << "";
    QTest::newRow("ipv6-bare") << "fd00::5:8080"
                               << "";
    QTest::newRow("ipv6-unclosed") << "[fd00::5:8080"
                                   << "";
    QTest::newRow("ipv4-in-brackets") << "[10.0.0.5]:8080"
                                      << "";
    QTest::newRow("short-ipv4") << "10.5:8080"
                                << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestFollowed::parseMain()
{
    QFETCH(QString, text);
    QFETCH(QString, logged);
    followed::MainAddress main;
    QString error;
    QCOMPARE(followed::parseMain(text, &main, &error), !logged.isEmpty());
    if (logged.isEmpty()) {
        QVERIFY(!error.isEmpty());
        return;
    }
    QCOMPARE(main.text, logged);
    QCOMPARE(main.port, logged.section(QLatin1Char(':'), -1).toUShort());
}

void TestFollowed::fromJson_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QStringList>("list");
    const QByteArray rest = R"(,"running":true,"title":"T","lamp":"green","role":"main",)"
                            R"("displays":[{"address":"10.0.0.7"},{"address":""}]})";
    QTest::newRow("plain") << QByteArray(R"({"time":"01:02:03")" + rest) << true
                           << QStringList{"01", "02", "03"} << QStringList{"10.0.0.7", ""};
    QTest::newRow("after-reset") << QByteArray(R"({"time":"::")" + rest) << true
                                 << QStringList{"", "", ""} << QStringList{"10.0.0.7", ""};
    // A field may hold a ':' itself: the first split into three short texts is taken.
    QTest::newRow("colon-in-field") << QByteArray(R"({"time":"1::::5")" + rest) << true
                                    << QStringList{"1", ":", ":5"} << QStringList{"10.0.0.7", ""};
    QTest::newRow("no-displays") << QByteArray(R"({"time":"00:00:09"})") << true
                                 << QStringList{"00", "00", "09"} << QStringList{};
    QTest::newRow("too-long") << QByteArray(R"({"time":"001:02:03"})") << false << QStringList{}
                              << QStringList{};
    QTest::newRow("no-time") << QByteArray(R"({"running":true})") << false << QStringList{}
                             << QStringList{};
    QTest::newRow("not-json") << QByteArray("HTTP/1.1 200") << false << QStringList{}
                              << QStringList{};
    QTest::newRow("array") << QByteArray("[1]") << false << QStringList{} << QStringList{};
}

void TestFollowed::fromJson()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, ok);
    QFETCH(QStringList, fields);
    QFETCH(QStringList, list);
    Followed f;
    f.title = QStringLiteral("untouched");
    QCOMPARE(followed::fromJson(json, &f), ok);
    if (!ok) {
        QCOMPARE(f.title, QStringLiteral("untouched"));
        return;
    }
    QCOMPARE(QStringList(f.fields.begin(), f.fields.end()), fields);
    QCOMPARE(f.list, list);
}

void TestFollowed::secondsNow_data()
{
    QTest::addColumn<int>("pushed");
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<int>("now");
    QTest::newRow("just-pushed") << 600 << qint64(0) << 600;
    QTest::newRow("under-a-second") << 600 << qint64(999) << 600;
    QTest::newRow("detection-time") << 600 << qint64(3400) << 597;
    QTest::newRow("reached-zero") << 2 << qint64(3500) << 0;
    QTest::newRow("exactly-zero") << 3 << qint64(3000) << 0;
    QTest::newRow("clock-went-back") << 600 << qint64(-5000) << 600;
}

void TestFollowed::secondsNow()
{
    QFETCH(int, pushed);
    QFETCH(qint64, ms);
    QFETCH(int, now);
    QCOMPARE(followed::secondsNow(pushed, ms), now);
}

QTEST_GUILESS_MAIN(TestFollowed)
#include "tst_followed.moc"
