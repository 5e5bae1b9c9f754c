#include "standby/followed.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

// A whole state as a main sends it, with `changes` laid over it (null: removed).
QByteArray state(const QJsonObject &changes = {})
{
    QJsonObject o{{"time", "01:02:03"},
                  {"frame", "010203"},
                  {"running", true},
                  {"title", "T"},
                  {"lamp", "green"},
                  {"displays",
                   QJsonArray{QJsonObject{{"address", "10.0.0.7"}}, QJsonObject{{"address", ""}}}},
                  {"role", "main"},
                  {"following", ""},
                  {"startsAt", ""},
                  {"term", 2},
                  {"standbys", QJsonArray{}},
                  {"zones", QJsonObject{{"warning", "00:02:00"}, {"danger", "00:00:30"}}},
                  {"zone", "normal"},
                  {"message", QJsonObject{{"text", ""}, {"visible", true}}},
                  {"overtime", ""},
                  {"blackout", false},
                  {"length", ""},
                  {"cue", QJsonObject{{"index", 0}, {"revision", 0}}}};
    for (auto it = changes.begin(); it != changes.end(); ++it) {
        if (it.value().isNull())
            o.remove(it.key());
        else
            o.insert(it.key(), it.value());
    }
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QJsonArray entries(const QStringList &texts)
{
    QJsonArray a;
    for (const QString &t : texts)
        a.append(QJsonObject{{"address", t}});
    return a;
}

} // namespace

// The standby's pure parts: where the main is, what its state says, whom a
// driving console steps down for, and where its countdown would be now.
class TestFollowed : public QObject
{
    Q_OBJECT
private slots:
    void parseMain_data();
    void parseMain();
    void fromJson_data();
    void fromJson();
    void judge_data();
    void judge();
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
    QTest::addColumn<QStringList>("fields"); // empty: refused whole
    QTest::addColumn<QStringList>("list");
    QTest::addColumn<QString>("title");
    const QStringList list{"10.0.0.7", ""};
    QTest::newRow("plain") << state() << QStringList{"01", "02", "03"} << list << "T";
    QTest::newRow("after-reset") << state({{"time", "::"}}) << QStringList{"", "", ""} << list
                                 << "T";
    // A field may hold a ':' itself: the first split into three short texts is taken.
    QTest::newRow("colon-in-field")
        << state({{"time", "1::::5"}}) << QStringList{"1", ":", ":5"} << list << "T";
    // The title as typing leaves it: no control characters, cut to its field.
    QTest::newRow("title-crlf-controls") << state({{"title", "A\r\nB\x07\tC\u2028D"}})
                                         << QStringList{"01", "02", "03"} << list << "ABCD";
    QTest::newRow("title-too-long") << state({{"title", "0123456789ABCDEF"}})
                                    << QStringList{"01", "02", "03"} << list << "0123456789";
    // Hostile or partial: refused whole.
    QTest::newRow("time-alone") << QByteArray(R"({"time":"00:00:03"})") << QStringList() << list
                                << "";
    for (const char *member :
         {"time", "running", "title", "displays", "role", "term", "standbys", "following",
          "startsAt", "lamp", "frame", "zones", "message", "blackout", "cue"})
        QTest::newRow(qPrintable(QStringLiteral("no-%1").arg(member)))
            << state({{member, QJsonValue()}}) << QStringList() << list << "";
    QTest::newRow("entry-crlf") << state({{"displays", entries({"10.0.0.7\r\n10.0.0.8"})}})
                                << QStringList() << list << "";
    QTest::newRow("entry-too-long")
        << state({{"displays", entries({"10.0.0.7.10.0.0.8"})}}) << QStringList() << list << "";
    QStringList hundred;
    for (int i = 0; i < 100; ++i)
        hundred << QStringLiteral("10.0.0.%1").arg(i);
    QTest::newRow("hundred-entries")
        << state({{"displays", entries(hundred)}}) << QStringList() << list << "";
    QTest::newRow("entry-not-text")
        << state({{"displays", QJsonArray{QJsonObject{{"address", 7}}}}}) << QStringList() << list
        << "";
    QTest::newRow("running-text") << state({{"running", "yes"}}) << QStringList() << list << "";
    QTest::newRow("term-fraction") << state({{"term", 1.5}}) << QStringList() << list << "";
    QTest::newRow("term-negative") << state({{"term", -1}}) << QStringList() << list << "";
    QTest::newRow("cue-fraction") << state({{"cue", QJsonObject{{"index", 1.5}, {"revision", 1}}}})
                                  << QStringList() << list << "";
    QTest::newRow("role-other") << state({{"role", "boss"}}) << QStringList() << list << "";
    QTest::newRow("lamp-other") << state({{"lamp", "blue"}}) << QStringList() << list << "";
    QTest::newRow("time-control") << state({{"time", "0\r:00:00"}}) << QStringList() << list << "";
    QTest::newRow("time-too-long") << state({{"time", "001:02:03"}}) << QStringList() << list << "";
    QTest::newRow("starts-at-bad")
        << state({{"startsAt", "25:00:00"}}) << QStringList() << list << "";
    QTest::newRow("not-json") << QByteArray("HTTP/1.1 200") << QStringList() << list << "";
    QTest::newRow("array") << QByteArray("[1]") << QStringList() << list << "";
}

void TestFollowed::fromJson()
{
    QFETCH(QByteArray, json);
    QFETCH(QStringList, fields);
    QFETCH(QStringList, list);
    QFETCH(QString, title);
    followed::Rules rules;
    rules.titleLength = 10;
    rules.entryLength = 15;
    Followed f;
    f.title = QStringLiteral("untouched");
    QCOMPARE(followed::fromJson(json, rules, &f), !fields.isEmpty());
    if (fields.isEmpty()) {
        QCOMPARE(f.title, QStringLiteral("untouched"));
        return;
    }
    QCOMPARE(QStringList(f.fields.begin(), f.fields.end()), fields);
    QCOMPARE(f.list, list);
    QCOMPARE(f.title, title);
    QCOMPARE(f.term, qint64(2));
}

void TestFollowed::judge_data()
{
    QTest::addColumn<qint64>("own");
    QTest::addColumn<QString>("role");
    QTest::addColumn<qint64>("theirs");
    QTest::addColumn<int>("verdict");
    using V = followed::Verdict;
    QTest::newRow("main-higher") << qint64(0) << "main" << qint64(1) << int(V::StepDown);
    QTest::newRow("main-equal") << qint64(1) << "main" << qint64(1) << int(V::SameTerm);
    QTest::newRow("main-lower") << qint64(2) << "main" << qint64(1) << int(V::Keep);
    QTest::newRow("standby-higher") << qint64(0) << "standby" << qint64(5) << int(V::Keep);
    QTest::newRow("no-role") << qint64(0) << "" << qint64(5) << int(V::Keep);
}

void TestFollowed::judge()
{
    QFETCH(qint64, own);
    QFETCH(QString, role);
    QFETCH(qint64, theirs);
    QFETCH(int, verdict);
    QCOMPARE(int(followed::judge(own, role, theirs)), verdict);
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
