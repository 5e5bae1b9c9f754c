#include "remote/command.h"
#include "remote/httphead.h"
#include "remote/listenaddress.h"
#include "remote/zones.h"

#include <QtTest>

// The pure parts of the remote control: requests to commands, the listen
// address, the token comparison.
class TestCommand : public QObject
{
    Q_OBJECT

private slots:
    void routes_data();
    void routes();
    void listenAddress_data();
    void listenAddress();
    void token_data();
    void token();
    void hostNamesServer_data();
    void hostNamesServer();
    void head_data();
    void head();
    void timeOfDay_data();
    void timeOfDay();
    void zone_data();
    void zone();
    void zonesFile_data();
    void zonesFile();
};

void TestCommand::routes_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("kind"); // remotecmd::Route::Kind
    QTest::addColumn<int>("status");

    using K = remotecmd::Route::Kind;
    QTest::newRow("display-page") << QByteArray("GET") << QByteArray("/") << QByteArray()
                                  << int(K::DisplayPage) << 200;
    QTest::newRow("page-with-query") << QByteArray("GET") << QByteArray("/?kiosk=1") << QByteArray()
                                     << int(K::DisplayPage) << 200;
    QTest::newRow("control-page") << QByteArray("GET") << QByteArray("/control") << QByteArray()
                                  << int(K::ControlPage) << 200;
    QTest::newRow("state") << QByteArray("GET") << QByteArray("/api/state") << QByteArray()
                           << int(K::State) << 200;
    QTest::newRow("trailing-slash")
        << QByteArray("GET") << QByteArray("/api/state/") << QByteArray() << int(K::None) << 404;
    QTest::newRow("case-matters") << QByteArray("GET") << QByteArray("/API/STATE") << QByteArray()
                                  << int(K::None) << 404;
    QTest::newRow("head-method") << QByteArray("HEAD") << QByteArray("/api/state") << QByteArray()
                                 << int(K::None) << 405;
    QTest::newRow("run") << QByteArray("POST") << QByteArray("/api/run") << QByteArray()
                         << int(K::Command) << 200;
    QTest::newRow("run-whitespace-body") << QByteArray("POST") << QByteArray("/api/run")
                                         << QByteArray(" \r\n") << int(K::Command) << 200;
    // The remote's range is one day less a second, both ways, to the second.
    QTest::newRow("nudge-whole-day-down")
        << QByteArray("POST") << QByteArray("/api/nudge") << QByteArray(R"({"seconds":-86399})")
        << int(K::Command) << 200;
    QTest::newRow("nudge-whole-day-up")
        << QByteArray("POST") << QByteArray("/api/nudge") << QByteArray(R"({"seconds":86399})")
        << int(K::Command) << 200;
    QTest::newRow("nudge-past-range") << QByteArray("POST") << QByteArray("/api/nudge")
                                      << QByteArray(R"({"seconds":86400})") << int(K::None) << 400;
    QTest::newRow("nudge-past-range-down")
        << QByteArray("POST") << QByteArray("/api/nudge") << QByteArray(R"({"seconds":-86400})")
        << int(K::None) << 400;
    QTest::newRow("time-last-second-of-day")
        << QByteArray("POST") << QByteArray("/api/time") << QByteArray(R"({"time":"23:59:59"})")
        << int(K::Command) << 200;
    QTest::newRow("time-hours-24") << QByteArray("POST") << QByteArray("/api/time")
                                   << QByteArray(R"({"time":"24:00:00"})") << int(K::None) << 400;
    QTest::newRow("time-hours-99") << QByteArray("POST") << QByteArray("/api/time")
                                   << QByteArray(R"({"time":"99:59:59"})") << int(K::None) << 400;
    QTest::newRow("parts-hours-23") << QByteArray("POST") << QByteArray("/api/time")
                                    << QByteArray(R"({"hours":23})") << int(K::Command) << 200;
    QTest::newRow("parts-hours-24") << QByteArray("POST") << QByteArray("/api/time")
                                    << QByteArray(R"({"hours":24})") << int(K::None) << 400;
    QTest::newRow("nudge-null") << QByteArray("POST") << QByteArray("/api/nudge")
                                << QByteArray(R"({"seconds":null})") << int(K::None) << 400;
    QTest::newRow("time-extra-fields")
        << QByteArray("POST") << QByteArray("/api/time")
        << QByteArray(R"({"time":"00:00:05","x":1})") << int(K::Command) << 200;
    QTest::newRow("time-parts-partial") << QByteArray("POST") << QByteArray("/api/time")
                                        << QByteArray(R"({"minutes":5})") << int(K::Command) << 200;
    QTest::newRow("time-text-sign") << QByteArray("POST") << QByteArray("/api/time")
                                    << QByteArray(R"({"time":"+1:00:00"})") << int(K::None) << 400;
    QTest::newRow("time-text-space") << QByteArray("POST") << QByteArray("/api/time")
                                     << QByteArray(R"({"time":"01:00: 0"})") << int(K::None) << 400;
    QTest::newRow("time-text-other-digits")
        << QByteArray("POST") << QByteArray("/api/time")
        << QString::fromUtf8(R"({"time":"٠١:٠٠:٠٠"})").toUtf8() << int(K::None) << 400;
    QTest::newRow("time-negative-part") << QByteArray("POST") << QByteArray("/api/time")
                                        << QByteArray(R"({"minutes":-1})") << int(K::None) << 400;
    QTest::newRow("until-hour-24") << QByteArray("POST") << QByteArray("/api/time")
                                   << QByteArray(R"({"until":"24:00:00"})") << int(K::None) << 400;
    QTest::newRow("until-second-60")
        << QByteArray("POST") << QByteArray("/api/time") << QByteArray(R"({"until":"23:59:60"})")
        << int(K::None) << 400;
    QTest::newRow("until-no-seconds") << QByteArray("POST") << QByteArray("/api/time")
                                      << QByteArray(R"({"until":"20:00"})") << int(K::None) << 400;
    QTest::newRow("until-number") << QByteArray("POST") << QByteArray("/api/time")
                                  << QByteArray(R"({"until":72000})") << int(K::None) << 400;
    QTest::newRow("until-and-time")
        << QByteArray("POST") << QByteArray("/api/time")
        << QByteArray(R"({"until":"20:00:00","time":"00:01:00"})") << int(K::None) << 400;
    QTest::newRow("run-at-empty") << QByteArray("POST") << QByteArray("/api/run")
                                  << QByteArray(R"({"at":""})") << int(K::None) << 400;
    QTest::newRow("run-at-hour-99") << QByteArray("POST") << QByteArray("/api/run")
                                    << QByteArray(R"({"at":"99:00:00"})") << int(K::None) << 400;
    QTest::newRow("run-at-trailing") << QByteArray("POST") << QByteArray("/api/run")
                                     << QByteArray(R"({"at":"19:30:00Z"})") << int(K::None) << 400;
    QTest::newRow("disarm-get") << QByteArray("GET") << QByteArray("/api/disarm") << QByteArray()
                                << int(K::None) << 405;
    QTest::newRow("body-too-large") << QByteArray("POST") << QByteArray("/api/run")
                                    << QByteArray(4097, ' ') << int(K::None) << 413;
    QTest::newRow("rundown-get") << QByteArray("GET") << QByteArray("/api/rundown") << QByteArray()
                                 << int(K::Rundown) << 200;
    QTest::newRow("rundown-put") << QByteArray("PUT") << QByteArray("/api/rundown")
                                 << QByteArray("title,duration") << int(K::RundownPut) << 200;
    QTest::newRow("rundown-post") << QByteArray("POST") << QByteArray("/api/rundown")
                                  << QByteArray() << int(K::None) << 405;
    QTest::newRow("cue-step") << QByteArray("POST") << QByteArray("/api/cue")
                              << QByteArray(R"({"step":-1,"run":true})") << int(K::Command) << 200;
    QTest::newRow("cue-step-zero") << QByteArray("POST") << QByteArray("/api/cue")
                                   << QByteArray(R"({"step":0})") << int(K::None) << 400;
    QTest::newRow("cue-index-and-step")
        << QByteArray("POST") << QByteArray("/api/cue") << QByteArray(R"({"index":2,"step":1})")
        << int(K::None) << 400;
    QTest::newRow("cue-index-zero") << QByteArray("POST") << QByteArray("/api/cue")
                                    << QByteArray(R"({"index":0})") << int(K::None) << 400;
    QTest::newRow("cue-run-text") << QByteArray("POST") << QByteArray("/api/cue")
                                  << QByteArray(R"({"index":1,"run":"yes"})") << int(K::None)
                                  << 400;
}

void TestCommand::routes()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, body);
    QFETCH(int, kind);
    QFETCH(int, status);
    const remotecmd::Route r = remotecmd::route(method, target, body);
    QCOMPARE(int(r.kind), kind);
    QCOMPARE(r.parsed.status, status);
    QCOMPARE(r.parsed.error.isEmpty(), status == 200);
    if (status == 405)
        QVERIFY(!r.allow.isEmpty());
    // Who may replace the running order is settled from the head, as for a command.
    if (status == 200)
        QCOMPARE(remotecmd::isCommand(method, target),
                 kind == int(remotecmd::Route::Kind::Command)
                     || kind == int(remotecmd::Route::Kind::RundownPut));
}

void TestCommand::listenAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("port");

    QTest::newRow("port-only") << "8080" << true << "127.0.0.1" << 8080;
    QTest::newRow("any-port") << "0" << true << "127.0.0.1" << 0;
    QTest::newRow("v4") << "192.168.1.5:9000" << true << "192.168.1.5" << 9000;
    QTest::newRow("v6") << "[::1]:8080" << true << "::1" << 8080;
    QTest::newRow("port-65536") << "65536" << false << "" << 0;
    QTest::newRow("negative") << "-1" << false << "" << 0;
    QTest::newRow("empty") << "" << false << "" << 0;
    QTest::newRow("missing-port") << "127.0.0.1:" << false << "" << 0;
    QTest::newRow("name") << "localhost:80" << false << "" << 0;
    QTest::newRow("scoped-v6") << "[fe80::1%eth0]:80" << false << "" << 0;
    // Not 10.0.0.5, as the short forms of inet_aton would make it.
    QTest::newRow("short-v4") << "10.5:8080" << false << "" << 0;
    QTest::newRow("bracketed-v4") << "[127.0.0.1]:8080" << false << "" << 0;
}

void TestCommand::listenAddress()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(QString, address);
    QFETCH(int, port);
    listenaddress::Where where;
    QString error;
    QCOMPARE(listenaddress::parse(text, &where, &error), ok);
    if (ok) {
        QCOMPARE(where.address, QHostAddress(address));
        QCOMPARE(int(where.port), port);
    } else {
        QVERIFY(!error.isEmpty());
    }
}

void TestCommand::token_data()
{
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QByteArray>("given");
    QTest::addColumn<bool>("match");

    QTest::newRow("same") << QByteArray("s3cret") << QByteArray("s3cret") << true;
    QTest::newRow("last-byte") << QByteArray("s3cret") << QByteArray("s3cres") << false;
    QTest::newRow("prefix") << QByteArray("s3cret") << QByteArray("s3c") << false;
    QTest::newRow("longer") << QByteArray("s3cret") << QByteArray("s3cret!") << false;
    QTest::newRow("empty-given") << QByteArray("s3cret") << QByteArray() << false;
    QTest::newRow("none-set") << QByteArray() << QByteArray() << false;
}

void TestCommand::token()
{
    QFETCH(QByteArray, expected);
    QFETCH(QByteArray, given);
    QFETCH(bool, match);
    QCOMPARE(listenaddress::tokenMatches(expected, given), match);
}

void TestCommand::hostNamesServer_data()
{
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<QString>("listening");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("names");

    QTest::newRow("loopback-v4") << QByteArray("127.0.0.1:8080") << "127.0.0.1" << 8080 << true;
    QTest::newRow("localhost") << QByteArray("localhost:8080") << "127.0.0.1" << 8080 << true;
    QTest::newRow("localhost-upper") << QByteArray("LocalHost:8080") << "127.0.0.1" << 8080 << true;
    QTest::newRow("v6-loopback") << QByteArray("[::1]:8080") << "::1" << 8080 << true;
    QTest::newRow("own-other-loopback")
        << QByteArray("127.0.0.5:8080") << "127.0.0.5" << 8080 << true;
    QTest::newRow("port-80-left-out") << QByteArray("localhost") << "127.0.0.1" << 80 << true;
    // A rebound name agrees with its own Origin: only the Host gives it away.
    QTest::newRow("rebound-name") << QByteArray("a.example:8080") << "127.0.0.1" << 8080 << false;
    QTest::newRow("other-port") << QByteArray("127.0.0.1:8081") << "127.0.0.1" << 8080 << false;
    QTest::newRow("port-left-out") << QByteArray("127.0.0.1") << "127.0.0.1" << 8080 << false;
    QTest::newRow("missing") << QByteArray() << "127.0.0.1" << 8080 << false;
    QTest::newRow("suffix-name") << QByteArray("localhost.a.example:8080") << "127.0.0.1" << 8080
                                 << false;
    QTest::newRow("userinfo") << QByteArray("127.0.0.1:8080@a.example") << "127.0.0.1" << 8080
                              << false;
    // An address written out cannot have been rebound; a name can, unless it is named.
    QTest::newRow("other-loopback-address")
        << QByteArray("127.0.0.2:8080") << "127.0.0.1" << 8080 << true;
    QTest::newRow("own-lan-address") << QByteArray("10.1.2.3:8080") << "10.1.2.3" << 8080 << true;
    QTest::newRow("other-lan-address")
        << QByteArray("10.1.2.4:8080") << "10.1.2.3" << 8080 << false;
    QTest::newRow("short-v4-form") << QByteArray("127.1:8080") << "127.0.0.1" << 8080 << false;
    QTest::newRow("v6-scope") << QByteArray("[fe80::1%25lo]:8080") << "::1" << 8080 << false;
    QTest::newRow("remote-name") << QByteArray("Show-Console.local:8080") << "10.1.2.3" << 8080
                                 << true;
    QTest::newRow("remote-name-other-port")
        << QByteArray("show-console.local:8081") << "10.1.2.3" << 8080 << false;
}

void TestCommand::hostNamesServer()
{
    QFETCH(QByteArray, host);
    QFETCH(QString, listening);
    QFETCH(int, port);
    QFETCH(bool, names);
    QCOMPARE(listenaddress::hostNamesServer(
                 host, quint16(port), {QByteArray("show-console.local")},
                 [&](const QHostAddress &a) { return a == QHostAddress(listening); }),
             names);
}

void TestCommand::head_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("status"); // 0: parsed
    QTest::addColumn<bool>("keepAlive");
    QTest::addColumn<bool>("upgrade");

    QTest::newRow("http11") << QByteArray("GET / HTTP/1.1\r\nHost: a") << 0 << true << false;
    QTest::newRow("http11-close") << QByteArray("GET / HTTP/1.1\r\nConnection: close") << 0 << false
                                  << false;
    QTest::newRow("http10") << QByteArray("GET / HTTP/1.0") << 0 << false << false;
    QTest::newRow("http10-keep") << QByteArray("GET / HTTP/1.0\r\nConnection: Keep-Alive") << 0
                                 << true << false;
    QTest::newRow("upgrade") << QByteArray(
        "GET /api/ws HTTP/1.1\r\nConnection: keep-alive, Upgrade\r\nUpgrade: WebSocket")
                             << 0 << true << true;
    QTest::newRow("no-target") << QByteArray("GET HTTP/1.1") << 400 << false << false;
    QTest::newRow("absolute-target") << QByteArray("GET http://x/ HTTP/1.1") << 0 << true << false;
    QTest::newRow("absolute-userinfo")
        << QByteArray("GET http://u@x/ HTTP/1.1") << 400 << false << false;
    QTest::newRow("absolute-https")
        << QByteArray("GET https://x/ HTTP/1.1") << 400 << false << false;
    QTest::newRow("http2") << QByteArray("GET / HTTP/2") << 505 << false << false;
    QTest::newRow("http19") << QByteArray("GET / HTTP/1.9") << 505 << false << false;
    QTest::newRow("http11x") << QByteArray("GET / HTTP/1.1x") << 505 << false << false;
    QTest::newRow("not-http") << QByteArray("GET / HTTQ/1.1") << 400 << false << false;
    QTest::newRow("two-hosts") << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nhost: b") << 400 << false
                               << false;
    QTest::newRow("two-origins") << QByteArray("GET / HTTP/1.1\r\nOrigin: a\r\nOrigin: a") << 400
                                 << false << false;
    QTest::newRow("field-without-colon")
        << QByteArray("GET / HTTP/1.1\r\nHost") << 400 << false << false;
    QTest::newRow("space-in-name")
        << QByteArray("GET / HTTP/1.1\r\nBad Name: x") << 400 << false << false;
    QTest::newRow("negative-length")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length: -1") << 400 << false << false;
    QTest::newRow("signed-length")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length: +5") << 400 << false << false;
    QTest::newRow("chunked") << QByteArray("POST / HTTP/1.1\r\nTransfer-Encoding: chunked") << 501
                             << false << false;
    QByteArray many("GET / HTTP/1.1");
    for (int i = 0; i < 65; ++i)
        many += "\r\nX-" + QByteArray::number(i) + ": 1";
    QTest::newRow("65-fields") << many << 431 << false << false;
}

void TestCommand::head()
{
    QFETCH(QByteArray, head);
    QFETCH(int, status);
    QFETCH(bool, keepAlive);
    QFETCH(bool, upgrade);
    HttpHead h;
    int got = 0;
    QString error;
    const bool ok = httphead::parse(head, &h, &got, &error);
    QCOMPARE(ok, status == 0);
    if (!ok) {
        QCOMPARE(got, status);
        return;
    }
    QCOMPARE(h.keepAlive, keepAlive);
    QCOMPARE(h.upgradeWebSocket, upgrade);
}

// What reaches the console: the parsed time of day, and the log text.
void TestCommand::timeOfDay_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("logText");

    QTest::newRow("until-padded") << QByteArray("/api/time") << QByteArray(R"({"until":"7:5:3"})")
                                  << "UNTIL 07:05:03";
    QTest::newRow("run-at") << QByteArray("/api/run") << QByteArray(R"({"at":"19:30:00"})")
                            << "RUN AT 19:30:00";
    QTest::newRow("run-other-keys")
        << QByteArray("/api/run") << QByteArray(R"({"x":"19:30:00"})") << "RUN";
    QTest::newRow("disarm") << QByteArray("/api/disarm") << QByteArray() << "DISARM";
}

void TestCommand::timeOfDay()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, body);
    QFETCH(QString, logText);
    const remotecmd::Parsed p = remotecmd::parseCommandBody(path, body);
    QVERIFY2(p.ok, qPrintable(p.error));
    QCOMPARE(p.command.logText(), logText);
}

// The thresholds and the time left to the zone, at and around each edge.
void TestCommand::zone_data()
{
    QTest::addColumn<int>("warning");
    QTest::addColumn<int>("danger");
    QTest::addColumn<int>("left");
    QTest::addColumn<bool>("reachedZero");
    QTest::addColumn<QString>("zone");

    QTest::newRow("above-warning") << 300 << 60 << 301 << false << "normal";
    QTest::newRow("at-warning") << 300 << 60 << 300 << false << "warning";
    QTest::newRow("above-danger") << 300 << 60 << 61 << false << "warning";
    QTest::newRow("at-danger") << 300 << 60 << 60 << false << "danger";
    QTest::newRow("last-second") << 300 << 60 << 1 << false << "danger";
    QTest::newRow("zero-reached") << 300 << 60 << 0 << true << "zero";
    QTest::newRow("zero-at-start") << 300 << 60 << 0 << false << "idle";
    QTest::newRow("empty-fields") << 300 << 60 << -1 << false << "idle";
    QTest::newRow("warning-off") << 0 << 60 << 300 << false << "normal";
    QTest::newRow("warning-off-danger") << 0 << 60 << 60 << false << "danger";
    QTest::newRow("danger-off") << 300 << 0 << 1 << false << "warning";
    QTest::newRow("both-off-zero") << 0 << 0 << 0 << true << "zero";
    QTest::newRow("equal-thresholds") << 60 << 60 << 60 << false << "danger";
}

void TestCommand::zone()
{
    QFETCH(int, warning);
    QFETCH(int, danger);
    QFETCH(int, left);
    QFETCH(bool, reachedZero);
    QFETCH(QString, zone);
    QCOMPARE(zones::name(zones::zoneOf({warning, danger}, left, reachedZero)), zone);
}

// "ZONES.CFG" as read: a bad line keeps its default and is named.
void TestCommand::zonesFile_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("warning");
    QTest::addColumn<int>("danger");
    QTest::addColumn<int>("problems");

    QTest::newRow("missing") << QStringList{} << 300 << 60 << 0;
    QTest::newRow("both") << QStringList{"00:10:00", "0:2:0"} << 600 << 120 << 0;
    QTest::newRow("off") << QStringList{"00:00:00", "00:00:00"} << 0 << 0 << 0;
    QTest::newRow("bad-warning") << QStringList{"10 min", "00:00:30"} << 300 << 30 << 1;
    QTest::newRow("danger-above") << QStringList{"00:01:00", "00:02:00"} << 300 << 60 << 1;
    QTest::newRow("one-line") << QStringList{"00:08:00"} << 480 << 60 << 0;
}

void TestCommand::zonesFile()
{
    QFETCH(QStringList, lines);
    QFETCH(int, warning);
    QFETCH(int, danger);
    QFETCH(int, problems);
    QStringList told;
    const zones::Thresholds t = zones::fromLines(lines, &told);
    QCOMPARE(t.warning, warning);
    QCOMPARE(t.danger, danger);
    QCOMPARE(told.size(), problems);
    if (problems == 0)
        QCOMPARE(zones::fromLines(zones::toLines(t), &told), t);
}

QTEST_GUILESS_MAIN(TestCommand)
#include "tst_command.moc"
