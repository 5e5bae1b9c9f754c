#include "support/remotefixture.h"

#include "countdown/countdown.h"
#include "support/loopback.h"
#include "support/tickwatch.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QtTest>

// The remote control over loopback against the real window: what each request
// does to the fields, the displays and the log, and what it refuses.
class TestRemoteServer : public QObject
{
    Q_OBJECT

private slots:
    void commands_data();
    void commands();
    void badInput_data();
    void badInput();
    void rawBadInput_data();
    void rawBadInput();
    void token_data();
    void token();
    void crossOriginCommandRefused();
    void hostile_data();
    void hostile();
    void deadlines_data();
    void deadlines();
    void perAddressCap();
    void placesGiveWay();
    void keepAliveEnds_data();
    void keepAliveEnds();
    void pushFollowsTick();
    void pushOnlyWhatChanged();
    void viewersCapped();
    void badHandshakesFreeTheirPlace();
    void slowViewerDropped();
    void overtime_data();
    void overtime();
};

// Reads until the end of a response head, serving the event loop meanwhile (the
// server lives in this thread). `step` bounds each read, so a viewer can stop
// right after its handshake.
static QByteArray readUntilBlankLine(QTcpSocket &socket, qint64 step)
{
    QByteArray got;
    QSignalSpy ready(&socket, &QTcpSocket::readyRead);
    while (!got.contains("\r\n\r\n")) {
        if (socket.bytesAvailable() == 0 && !ready.wait(5000))
            break;
        while (socket.bytesAvailable() > 0 && !got.contains("\r\n\r\n"))
            got += socket.read(step);
    }
    return got;
}

void TestRemoteServer::commands_data()
{
    QTest::addColumn<QString>("start"); // fields before, "HH:MM:SS"
    QTest::addColumn<bool>("running");  // Run before
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArrayList>("frames");
    QTest::addColumn<QString>("time"); // the state's time after
    QTest::addColumn<bool>("runningAfter");
    QTest::addColumn<QString>("logged");

    QTest::newRow("time-text") << "00:00:00" << false << QByteArray("/api/time")
                               << QByteArray(R"({"time":"00:01:30"})")
                               << QByteArrayList{frame("000100"), frame("000130")} << "00:01:30"
                               << false << "REMOTE 127.0.0.1= TIME 00:01:30";
    QTest::newRow("time-one-digit-parts")
        << "00:00:00" << false << QByteArray("/api/time") << QByteArray(R"({"time":"1:2:3"})")
        << QByteArrayList{frame("010000"), frame("010200"), frame("010203")} << "01:02:03" << false
        << "REMOTE 127.0.0.1= TIME 01:02:03";
    QTest::newRow("time-numbers") << "00:00:00" << false << QByteArray("/api/time")
                                  << QByteArray(R"({"hours":23,"minutes":59,"seconds":59})")
                                  << QByteArrayList{frame("230000"), frame("235900"),
                                                    frame("235959")}
                                  << "23:59:59" << false << "REMOTE 127.0.0.1= TIME 23:59:59";
    QTest::newRow("run") << "00:01:30" << false << QByteArray("/api/run") << QByteArray()
                         << QByteArrayList{} << "00:01:30" << true << "REMOTE 127.0.0.1= RUN";
    QTest::newRow("run-empty-object")
        << "00:01:30" << false << QByteArray("/api/run") << QByteArray("{}") << QByteArrayList{}
        << "00:01:30" << true << "REMOTE 127.0.0.1= RUN";
    QTest::newRow("pause") << "00:01:30" << true << QByteArray("/api/pause") << QByteArray()
                           << QByteArrayList{} << "00:01:30" << false << "REMOTE 127.0.0.1= PAUSE";
    QTest::newRow("reset") << "00:01:30" << true << QByteArray("/api/reset") << QByteArray()
                           << QByteArrayList{frame("000130"), frame("000030"), frame("------"),
                                             frame("------")}
                           << "::" << false << "REMOTE 127.0.0.1= RESET";
    QTest::newRow("nudge-plus-minute")
        << "00:01:30" << false << QByteArray("/api/nudge") << QByteArray(R"({"seconds":60})")
        << QByteArrayList{frame("000230")} << "00:02:30" << false << "REMOTE 127.0.0.1= NUDGE +60";
    QTest::newRow("nudge-minus-carries")
        << "01:00:30" << true << QByteArray("/api/nudge") << QByteArray(R"({"seconds":-60})")
        << QByteArrayList{frame("000030"), frame("005930")} << "00:59:30" << true
        << "REMOTE 127.0.0.1= NUDGE -60";
    QTest::newRow("nudge-clamps-at-zero")
        << "00:00:30" << false << QByteArray("/api/nudge") << QByteArray(R"({"seconds":-60})")
        << QByteArrayList{frame("------")} << "00:00:00" << false << "REMOTE 127.0.0.1= NUDGE -60";
    // Not 24:00:30, which the next tick would show as 00:00:29.
    QTest::newRow("nudge-clamps-at-a-day")
        << "23:59:30" << true << QByteArray("/api/nudge") << QByteArray(R"({"seconds":60})")
        << QByteArrayList{frame("235959")} << "23:59:59" << true << "REMOTE 127.0.0.1= NUDGE +60";
    // The presenter's view: no frame, the countdown as it was, one line each.
    QTest::newRow("zones") << "00:01:30" << false << QByteArray("/api/zones")
                           << QByteArray(R"({"warning":"0:10:00","danger":"00:02:00"})")
                           << QByteArrayList{} << "00:01:30" << false
                           << "REMOTE 127.0.0.1= ZONES 00:10:00 00:02:00";
    QTest::newRow("zones-danger-only")
        << "00:01:30" << false << QByteArray("/api/zones") << QByteArray(R"({"danger":"00:05:00"})")
        << QByteArrayList{} << "00:01:30" << false << "REMOTE 127.0.0.1= ZONES 00:05:00 00:05:00";
    QTest::newRow("message-quote-doubled")
        << "00:01:30" << true << QByteArray("/api/message")
        << QByteArray(R"({"text":"Say \"hi\"","visible":true})") << QByteArrayList{} << "00:01:30"
        << true << R"(REMOTE 127.0.0.1= MESSAGE "Say ""hi""")";
    const QString twoHundred(200, QChar(0x00E9)); // 400 bytes of UTF-8, 200 characters
    QTest::newRow("message-200-characters")
        << "00:01:30" << false << QByteArray("/api/message")
        << (R"({"text":")" + twoHundred.toUtf8() + "\"}") << QByteArrayList{} << "00:01:30" << false
        << "REMOTE 127.0.0.1= MESSAGE \"" + twoHundred + "\"";
    QTest::newRow("message-hidden")
        << "00:01:30" << false << QByteArray("/api/message") << QByteArray(R"({"visible":false})")
        << QByteArrayList{} << "00:01:30" << false << "REMOTE 127.0.0.1= MESSAGE HIDDEN";
    QTest::newRow("blackout") << "00:01:30" << true << QByteArray("/api/blackout")
                              << QByteArray(R"({"on":true})") << QByteArrayList{} << "00:01:30"
                              << true << "REMOTE 127.0.0.1= BLACKOUT ON";
    QTest::newRow("nudge-after-reset")
        << "::" << false << QByteArray("/api/nudge") << QByteArray(R"({"seconds":60})")
        << QByteArrayList{frame("------"), frame("000100"), frame("000100")} << "00:01:00" << false
        << "REMOTE 127.0.0.1= NUDGE +60";
}

void TestRemoteServer::commands()
{
    QFETCH(QString, start);
    QFETCH(bool, running);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, body);
    QFETCH(QByteArrayList, frames);
    QFETCH(QString, time);
    QFETCH(bool, runningAfter);
    QFETCH(QString, logged);

    RemoteFixture f;
    QVERIFY(f.listening);
    QVERIFY(f.display);
    const QStringList parts = start.split(QLatin1Char(':'));
    f.setFields(parts[0], parts[1], parts[2]);
    f.window->SW_GO->setChecked(running);
    f.window->TIM_REBOUR->stop(); // ticks are driven by hand elsewhere
    f.clearSent();

    const RemoteFixture::Answer a = f.request("POST", QString::fromLatin1(path), body);
    QCOMPARE(a.status, 200);
    QCOMPARE(f.frames(), frames);
    QCOMPARE(f.fields(), time);
    QCOMPARE(f.window->SW_GO->isChecked(), runningAfter);
    QCOMPARE(a.json.value(QLatin1String("time")).toString(), time);
    QCOMPARE(a.json.value(QLatin1String("running")).toBool(), runningAfter);
    QVERIFY2(f.log().endsWith(logged + QStringLiteral("\r\n")), qPrintable(f.log()));
    QCOMPARE(f.log().count(QStringLiteral("REMOTE")), 1);
}

void TestRemoteServer::badInput_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");

    QTest::newRow("malformed-json")
        << QByteArray("POST") << "/api/time" << QByteArray(R"({"time":)") << 400;
    QTest::newRow("not-an-object")
        << QByteArray("POST") << "/api/time" << QByteArray("[\"00:01:00\"]") << 400;
    QTest::newRow("time-wrong-type")
        << QByteArray("POST") << "/api/time" << QByteArray(R"({"time":90})") << 400;
    QTest::newRow("time-minutes-60")
        << QByteArray("POST") << "/api/time" << QByteArray(R"({"time":"00:60:00"})") << 400;
    QTest::newRow("time-hours-24")
        << QByteArray("POST") << "/api/time" << QByteArray(R"({"time":"24:00:00"})") << 400;
    QTest::newRow("hours-24") << QByteArray("POST") << "/api/time" << QByteArray(R"({"hours":24})")
                              << 400;
    QTest::newRow("nudge-past-a-day")
        << QByteArray("POST") << "/api/nudge" << QByteArray(R"({"seconds":86400})") << 400;
    QTest::newRow("time-three-digits")
        << QByteArray("POST") << "/api/time" << QByteArray(R"({"time":"100:00:00"})") << 400;
    QTest::newRow("time-two-parts")
        << QByteArray("POST") << "/api/time" << QByteArray(R"({"time":"01:30"})") << 400;
    QTest::newRow("time-signed") << QByteArray("POST") << "/api/time"
                                 << QByteArray(R"({"time":"-1:00:00"})") << 400;
    QTest::newRow("time-nothing") << QByteArray("POST") << "/api/time" << QByteArray("{}") << 400;
    QTest::newRow("hours-fraction")
        << QByteArray("POST") << "/api/time" << QByteArray(R"({"hours":1.5})") << 400;
    QTest::newRow("hours-string") << QByteArray("POST") << "/api/time"
                                  << QByteArray(R"({"hours":"1"})") << 400;
    QTest::newRow("until-hour-24")
        << QByteArray("POST") << "/api/time" << QByteArray(R"({"until":"24:00:00"})") << 400;
    QTest::newRow("run-at-minute-60")
        << QByteArray("POST") << "/api/run" << QByteArray(R"({"at":"19:60:00"})") << 400;
    QTest::newRow("nudge-non-numeric")
        << QByteArray("POST") << "/api/nudge" << QByteArray(R"({"seconds":"ten"})") << 400;
    QTest::newRow("nudge-fraction")
        << QByteArray("POST") << "/api/nudge" << QByteArray(R"({"seconds":0.5})") << 400;
    QTest::newRow("nudge-huge") << QByteArray("POST") << "/api/nudge"
                                << QByteArray(R"({"seconds":1e300})") << 400;
    QTest::newRow("nudge-missing")
        << QByteArray("POST") << "/api/nudge" << QByteArray(R"({"second":5})") << 400;
    QTest::newRow("run-garbage-body")
        << QByteArray("POST") << "/api/run" << QByteArray("go") << 400;
    QTest::newRow("body-over-4KiB")
        << QByteArray("POST") << "/api/time"
        << (QByteArray(R"({"time":"00:01:00","pad":")") + QByteArray(5000, 'x') + "\"}") << 413;
    QTest::newRow("unknown-path") << QByteArray("POST") << "/api/stop" << QByteArray() << 404;
    QTest::newRow("unknown-page") << QByteArray("GET") << "/index.html" << QByteArray() << 404;
    QTest::newRow("get-a-command") << QByteArray("GET") << "/api/run" << QByteArray() << 405;
    QTest::newRow("put-time") << QByteArray("PUT") << "/api/time"
                              << QByteArray(R"({"time":"00:01:00"})") << 405;
    QTest::newRow("post-state") << QByteArray("POST") << "/api/state" << QByteArray() << 405;
    QTest::newRow("ws-without-upgrade") << QByteArray("GET") << "/api/ws" << QByteArray() << 400;
    QTest::newRow("zones-malformed")
        << QByteArray("POST") << "/api/zones" << QByteArray(R"({"warning":"5 min"})") << 400;
    QTest::newRow("zones-minutes-60")
        << QByteArray("POST") << "/api/zones" << QByteArray(R"({"danger":"00:60:00"})") << 400;
    QTest::newRow("zones-number") << QByteArray("POST") << "/api/zones"
                                  << QByteArray(R"({"warning":300})") << 400;
    QTest::newRow("zones-nothing") << QByteArray("POST") << "/api/zones" << QByteArray("{}") << 400;
    QTest::newRow("zones-danger-above")
        << QByteArray("POST") << "/api/zones"
        << QByteArray(R"({"warning":"00:01:00","danger":"00:02:00"})") << 400;
    QTest::newRow("zones-danger-above-current")
        << QByteArray("POST") << "/api/zones" << QByteArray(R"({"danger":"00:05:01"})") << 400;
    QTest::newRow("zones-warning-below-current")
        << QByteArray("POST") << "/api/zones" << QByteArray(R"({"warning":"00:00:59"})") << 400;
    QTest::newRow("message-201-characters")
        << QByteArray("POST") << "/api/message"
        << (R"({"text":")" + QString(201, QChar(0x00E9)).toUtf8() + "\"}") << 400;
    QTest::newRow("message-line-feed")
        << QByteArray("POST") << "/api/message" << QByteArray(R"({"text":"a\nb"})") << 400;
    QTest::newRow("message-bell") << QByteArray("POST") << "/api/message"
                                  << QByteArray(R"({"text":"a\u0007"})") << 400;
    QTest::newRow("message-del") << QByteArray("POST") << "/api/message"
                                 << QByteArray(R"({"text":"a\u007f"})") << 400;
    QTest::newRow("message-line-separator")
        << QByteArray("POST") << "/api/message" << QByteArray(R"({"text":"a\u2028b"})") << 400;
    QTest::newRow("message-half-surrogate")
        << QByteArray("POST") << "/api/message" << QByteArray(R"({"text":"a\ud800"})") << 400;
    QTest::newRow("message-number")
        << QByteArray("POST") << "/api/message" << QByteArray(R"({"text":5})") << 400;
    QTest::newRow("message-visible-text")
        << QByteArray("POST") << "/api/message" << QByteArray(R"({"visible":"yes"})") << 400;
    QTest::newRow("message-nothing")
        << QByteArray("POST") << "/api/message" << QByteArray("{}") << 400;
    QTest::newRow("blackout-text")
        << QByteArray("POST") << "/api/blackout" << QByteArray(R"({"on":"true"})") << 400;
    QTest::newRow("blackout-nothing")
        << QByteArray("POST") << "/api/blackout" << QByteArray() << 400;
}

void TestRemoteServer::badInput()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(int, status);

    RemoteFixture f;
    QVERIFY(f.listening);
    f.setFields(QStringLiteral("00"), QStringLiteral("01"), QStringLiteral("30"));
    f.window->TIM_REBOUR->stop();
    f.clearSent();
    const QString logBefore = f.log();

    const RemoteFixture::Answer a = f.request(method, path, body);
    QCOMPARE(a.status, status);
    QVERIFY2(!a.json.value(QLatin1String("error")).toString().isEmpty(), a.body.constData());
    QCOMPARE(f.frames(), QByteArrayList());
    QCOMPARE(f.fields(), QStringLiteral("00:01:30"));
    QVERIFY(!f.window->SW_GO->isChecked());
    QCOMPARE(f.log(), logBefore);
    QCOMPARE(f.hub.state().startsAt, QString());
    QVERIFY(f.hub.presenter() == PresenterSettings{});
    QVERIFY(!QFile::exists(QStringLiteral("ZONES.CFG")));
}

// Requests QNetworkAccessManager will not make: sent byte for byte.
void TestRemoteServer::rawBadInput_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("statusLine");

    QTest::newRow("declared-body-too-large")
        << QByteArray("POST /api/time HTTP/1.1\r\nHost: HOST\r\nContent-Length: 999999999\r\n\r\n")
        << QByteArray("HTTP/1.1 413 ");
    QTest::newRow("head-too-large")
        << (QByteArray("GET /api/state HTTP/1.1\r\nX-Pad: ") + QByteArray(9000, 'a') + "\r\n\r\n")
        << QByteArray("HTTP/1.1 431 ");
    QTest::newRow("chunked-body") << QByteArray(
        "POST /api/nudge HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"
        "e\r\n{\"seconds\":60}\r\n0\r\n\r\n")
                                  << QByteArray("HTTP/1.1 501 ");
    QTest::newRow("bad-request-line") << QByteArray("HELLO\r\n\r\n") << QByteArray("HTTP/1.1 400 ");
    QTest::newRow("two-lengths") << QByteArray(
        "POST /api/run HTTP/1.1\r\nContent-Length: 0\r\nContent-Length: 5\r\n\r\n")
                                 << QByteArray("HTTP/1.1 400 ");
}

void TestRemoteServer::rawBadInput()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, statusLine);

    RemoteFixture f;
    QVERIFY(f.listening);
    f.setFields(QStringLiteral("00"), QStringLiteral("01"), QStringLiteral("30"));
    f.clearSent();
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, f.server->port());
    client.write(QByteArray(request).replace("HOST", f.host()));
    QSignalSpy closed(&client, &QTcpSocket::disconnected);
    const QByteArray answer = readUntilBlankLine(client, 1 << 20);
    QVERIFY2(answer.startsWith(statusLine), answer.left(80).constData());
    QVERIFY(answer.contains("{\"error\":"));
    // A refused request ends its connection: nothing more of it is read.
    QVERIFY(client.state() == QAbstractSocket::UnconnectedState || closed.wait(5000));
    QCOMPARE(f.frames(), QByteArrayList());
    QCOMPARE(f.fields(), QStringLiteral("00:01:30"));
}

void TestRemoteServer::token_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("authorization");
    QTest::addColumn<int>("status");

    QTest::newRow("command-no-token") << QByteArray("POST") << "/api/run" << QByteArray() << 401;
    QTest::newRow("command-wrong-token")
        << QByteArray("POST") << "/api/run" << QByteArray("Bearer s3cres") << 401;
    QTest::newRow("command-token-prefix")
        << QByteArray("POST") << "/api/run" << QByteArray("Bearer s3c") << 401;
    QTest::newRow("command-basic-scheme")
        << QByteArray("POST") << "/api/run" << QByteArray("Basic s3cret") << 401;
    QTest::newRow("bad-body-no-token") << QByteArray("POST") << "/api/nudge" << QByteArray() << 401;
    QTest::newRow("command-right-token")
        << QByteArray("POST") << "/api/run" << QByteArray("Bearer s3cret") << 200;
    QTest::newRow("state-no-token") << QByteArray("GET") << "/api/state" << QByteArray() << 200;
    QTest::newRow("page-no-token") << QByteArray("GET") << "/" << QByteArray() << 200;
}

void TestRemoteServer::token()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(QByteArray, authorization);
    QFETCH(int, status);

    RemoteFixture f("s3cret");
    QVERIFY(f.listening);
    f.setFields(QStringLiteral("00"), QStringLiteral("01"), QStringLiteral("30"));
    f.window->TIM_REBOUR->stop();
    const RemoteFixture::Answer a = f.request(method, path, QByteArray(), authorization);
    QCOMPARE(a.status, status);
    // Only the right token runs the countdown.
    QCOMPARE(f.window->SW_GO->isChecked(), status == 200 && path == QLatin1String("/api/run"));
}

void TestRemoteServer::crossOriginCommandRefused()
{
    RemoteFixture f;
    QVERIFY(f.listening);
    QNetworkRequest req(f.url(QStringLiteral("/api/run")));
    req.setRawHeader("Origin", "http://example.invalid");
    QNetworkReply *reply = f.nam.post(req, QByteArray());
    QSignalSpy done(reply, &QNetworkReply::finished);
    QVERIFY(done.wait(5000));
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 403);
    QVERIFY(!f.window->SW_GO->isChecked());
    reply->deleteLater();
}

// What a web page of another site, or a careless client, can send: refused
// with nothing changed, while the same request done right is taken.
void TestRemoteServer::hostile_data()
{
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<QByteArray>("request"); // HOST: this server's host and port
    QTest::addColumn<QByteArray>("statusLine");

    const QByteArray ws = "Upgrade: websocket\r\nConnection: Upgrade\r\n"
                          "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                          "Sec-WebSocket-Version: 13\r\n";
    // DNS rebinding: the page's own name, now pointing here; Host and Origin agree.
    QTest::newRow("rebound-command")
        << QByteArray()
        << QByteArray("POST /api/run HTTP/1.1\r\nHost: a.example:PORT\r\n"
                      "Origin: http://a.example:PORT\r\nContent-Length: 0\r\n\r\n")
        << QByteArray("HTTP/1.1 403 ");
    QTest::newRow("rebound-state")
        << QByteArray() << QByteArray("GET /api/state HTTP/1.1\r\nHost: a.example:PORT\r\n\r\n")
        << QByteArray("HTTP/1.1 403 ");
    QTest::newRow("rebound-page") << QByteArray()
                                  << QByteArray(
                                         "GET /control HTTP/1.1\r\nHost: a.example:PORT\r\n\r\n")
                                  << QByteArray("HTTP/1.1 403 ");
    QTest::newRow("rebound-upgrade")
        << QByteArray()
        << "GET /api/ws HTTP/1.1\r\nHost: a.example:PORT\r\nOrigin: http://a.example:PORT\r\n" + ws
               + "\r\n"
        << QByteArray("HTTP/1.1 403 ");
    QTest::newRow("no-host") << QByteArray()
                             << QByteArray("POST /api/run HTTP/1.1\r\nContent-Length: 0\r\n\r\n")
                             << QByteArray("HTTP/1.1 403 ");
    // A token guards the commands, not what a rebound page may read.
    QTest::newRow("token-foreign-host-reads")
        << QByteArray("s3cret")
        << QByteArray("GET /api/state HTTP/1.1\r\nHost: show-pc:PORT\r\n\r\n")
        << QByteArray("HTTP/1.1 403 ");
    QTest::newRow("token-foreign-host-page")
        << QByteArray("s3cret") << QByteArray("GET / HTTP/1.1\r\nHost: show-pc:PORT\r\n\r\n")
        << QByteArray("HTTP/1.1 403 ");
    QTest::newRow("token-foreign-host-upgrade")
        << QByteArray("s3cret")
        << "GET /api/ws HTTP/1.1\r\nHost: a.example:PORT\r\nOrigin: http://a.example:PORT\r\n" + ws
               + "\r\n"
        << QByteArray("HTTP/1.1 403 ");
    QTest::newRow("token-remote-name-reads")
        << QByteArray("s3cret")
        << QByteArray("GET /api/state HTTP/1.1\r\nHost: Show-Console.local:PORT\r\n\r\n")
        << QByteArray("HTTP/1.1 200 ");
    QTest::newRow("other-loopback-literal")
        << QByteArray() << QByteArray("GET /api/state HTTP/1.1\r\nHost: 127.0.0.9:PORT\r\n\r\n")
        << QByteArray("HTTP/1.1 200 ");
    // Which of two fields counts would be a guess, and a rebound page's chance.
    QTest::newRow("good-then-foreign-host")
        << QByteArray()
        << QByteArray("GET /api/state HTTP/1.1\r\nHost: HOST\r\nHost: a.example:PORT\r\n\r\n")
        << QByteArray("HTTP/1.1 400 ");
    // Which versions and duplicate fields are refused is tst_command's head table.
    QTest::newRow("version-1.9") << QByteArray()
                                 << QByteArray("GET /api/state HTTP/1.9\r\nHost: HOST\r\n\r\n")
                                 << QByteArray("HTTP/1.1 505 ");
    QTest::newRow("absolute-form")
        << QByteArray() << QByteArray("GET http://HOST/api/state HTTP/1.1\r\n\r\n")
        << QByteArray("HTTP/1.1 200 ");
    QTest::newRow("absolute-form-rebound")
        << QByteArray()
        << QByteArray("POST http://a.example:PORT/api/run HTTP/1.1\r\nHost: HOST\r\n"
                      "Content-Length: 0\r\n\r\n")
        << QByteArray("HTTP/1.1 403 ");
    // Any page may open a WebSocket to loopback: its Origin must be this server.
    QTest::newRow("foreign-origin-upgrade")
        << QByteArray()
        << "GET /api/ws HTTP/1.1\r\nHost: HOST\r\nOrigin: http://a.example\r\n" + ws + "\r\n"
        << QByteArray("HTTP/1.1 403 ");
    QTest::newRow("null-origin-upgrade")
        << QByteArray() << "GET /api/ws HTTP/1.1\r\nHost: HOST\r\nOrigin: null\r\n" + ws + "\r\n"
        << QByteArray("HTTP/1.1 403 ");
    QTest::newRow("token-foreign-origin-upgrade")
        << QByteArray("s3cret")
        << "GET /api/ws HTTP/1.1\r\nHost: HOST\r\nOrigin: http://a.example\r\n" + ws + "\r\n"
        << QByteArray("HTTP/1.1 403 ");
    QTest::newRow("own-origin-upgrade")
        << QByteArray()
        << "GET /api/ws HTTP/1.1\r\nHost: HOST\r\nOrigin: http://HOST\r\n" + ws + "\r\n"
        << QByteArray("HTTP/1.1 101 ");
    QTest::newRow("tool-upgrade") << QByteArray()
                                  << "GET /api/ws HTTP/1.1\r\nHost: HOST\r\n" + ws + "\r\n"
                                  << QByteArray("HTTP/1.1 101 ");
    // The token is settled before the client is asked for its body.
    QTest::newRow("token-before-continue")
        << QByteArray("s3cret")
        << QByteArray("POST /api/time HTTP/1.1\r\nHost: HOST\r\nExpect: 100-continue\r\n"
                      "Content-Length: 19\r\n\r\n")
        << QByteArray("HTTP/1.1 401 ");
}

void TestRemoteServer::hostile()
{
    QFETCH(QByteArray, token);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, statusLine);

    RemoteFixture f(token);
    QVERIFY(f.listening);
    f.server->setNames({"show-console.local"});
    f.setFields(QStringLiteral("00"), QStringLiteral("01"), QStringLiteral("30"));
    f.window->TIM_REBOUR->stop();
    f.clearSent();
    const QString logBefore = f.log();
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, f.server->port());
    client.write(
        request.replace("HOST", f.host()).replace("PORT", QByteArray::number(f.server->port())));
    QByteArray answer = readUntilBlankLine(client, 1 << 16);
    QVERIFY2(answer.startsWith(statusLine), answer.constData());
    QVERIFY2(!answer.contains("100 Continue"), answer.constData());
    QCOMPARE(f.frames(), QByteArrayList());
    QCOMPARE(f.fields(), QStringLiteral("00:01:30"));
    QVERIFY(!f.window->SW_GO->isChecked());
    QCOMPARE(f.log(), logBefore);
    if (statusLine.at(9) >= '4') {
        // The refusal says why, and the bytes after the head never become a viewer.
        QVERIFY(readUntil(&client, answer, [&] { return answer.contains("{\"error\":"); }));
        QCOMPARE(f.server->viewerCount(), 0);
    }
}

// A client that starts a request and never finishes it, or one that goes quiet
// between requests, gives its place back by the deadline.
void TestRemoteServer::deadlines_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("trickle");    // one byte of it every 50 ms, for ever
    QTest::addColumn<QByteArray>("statusLine"); // "" : closed without an answer
    QTest::addColumn<int>("closeMs"); // the request's limit is 600 ms, the idle one 1500 ms

    QTest::newRow("trickled-head") << QByteArray("GET / HTTP/1.1\r\n") << QByteArray(1000, 'X')
                                   << QByteArray("HTTP/1.1 408 ") << 600;
    QTest::newRow("trickled-body") << QByteArray("POST /api/time HTTP/1.1\r\nHost: HOST\r\n"
                                                 "Content-Length: 400\r\n\r\n")
                                   << QByteArray(400, ' ') << QByteArray("HTTP/1.1 408 ") << 600;
    QTest::newRow("idle-between-requests") << QByteArray() << QByteArray() << QByteArray() << 1500;
}

void TestRemoteServer::deadlines()
{
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, trickle);
    QFETCH(QByteArray, statusLine);
    QFETCH(int, closeMs);

    RemoteFixture f;
    QVERIFY(f.listening);
    RemoteServer::Limits limits;
    limits.requestMs = 600;
    limits.idleMs = 1500;
    f.server->setLimits(limits);
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, f.server->port());
    QVERIFY(client.waitForConnected(5000));
    QTRY_COMPARE_WITH_TIMEOUT(f.server->connectionCount(), 1, 5000);
    QElapsedTimer clock;
    clock.start();
    client.write(start.replace("HOST", f.host()));
    qsizetype sent = 0;
    QTimer drip;
    connect(&drip, &QTimer::timeout, &client, [&] {
        if (sent < trickle.size())
            client.write(trickle.mid(sent++, 1));
    });
    drip.start(50);
    QSignalSpy closed(&client, &QTcpSocket::disconnected);
    QVERIFY(closed.wait(5000));
    const QByteArray answer = client.readAll();
    // Bytes that keep coming do not push the deadline on; each limit is its own.
    QVERIFY2(clock.elapsed() > closeMs - 300 && clock.elapsed() < closeMs + 500,
             qPrintable(QString::number(clock.elapsed())));
    if (statusLine.isEmpty())
        QCOMPARE(answer, QByteArray());
    else
        QVERIFY2(answer.startsWith(statusLine) && answer.contains("{\"error\":"),
                 answer.constData());
    QTRY_COMPARE_WITH_TIMEOUT(f.server->connectionCount(), 0, 5000);
}

// One address holding its share is refused more at once, with an answer (a
// standby takes any answer for a sign of life), unless the request carries the
// token; another address, and the same one once a place is free, are served.
void TestRemoteServer::perAddressCap()
{
    RemoteFixture f("s3cret");
    QVERIFY(f.listening);
    RemoteServer::Limits limits;
    limits.maxPerAddress = 3;
    limits.overCapsMs = 300;
    f.server->setLimits(limits);
    const auto held = f.openClients(3, "GET / HTTP/1.1\r\n"); // and never the rest
    QTRY_COMPARE_WITH_TIMEOUT(f.server->connectionCount(), 3, 5000);
    const QByteArray full = f.stateFrom(QStringLiteral("127.0.0.1"));
    QVERIFY2(full.startsWith("HTTP/1.1 503 ") && full.contains("application/json"),
             full.constData());
    const QByteArray withToken
        = f.exchange(QStringLiteral("127.0.0.1"), "GET /api/state HTTP/1.1\r\nHost: " + f.host()
                                                      + "\r\nAuthorization: Bearer s3cret\r\n\r\n");
    QVERIFY2(withToken.startsWith("HTTP/1.1 200 "), withToken.constData());
    // One that says nothing is answered too, once its short wait is over.
    QVERIFY(f.exchange(QStringLiteral("127.0.0.1"), QByteArray()).startsWith("HTTP/1.1 503 "));
    QVERIFY(f.stateFrom(QStringLiteral("127.0.0.2")).startsWith("HTTP/1.1 200 "));
    held.front()->abort();
    QTRY_COMPARE_WITH_TIMEOUT(f.server->connectionCount(), 2, 5000);
    QVERIFY(f.stateFrom(QStringLiteral("127.0.0.1")).startsWith("HTTP/1.1 200 "));
}

// A full server: places merely held give way to a newcomer, the longest idle
// of the address that holds the most first.
void TestRemoteServer::placesGiveWay()
{
    RemoteFixture f;
    QVERIFY(f.listening);
    RemoteServer::Limits limits;
    limits.maxConnections = 4;
    f.server->setLimits(limits);
    const QByteArray get = "GET /api/state HTTP/1.1\r\nHost: " + f.host() + "\r\n\r\n";
    const auto first = f.openClients(1, get);
    QTRY_VERIFY_WITH_TIMEOUT(first[0]->bytesAvailable() > 0, 5000);
    const auto more = f.openClients(2, get);
    const auto other = f.openClients(1, get, QStringLiteral("127.0.0.2"));
    QTRY_VERIFY_WITH_TIMEOUT(more[0]->bytesAvailable() > 0 && more[1]->bytesAvailable() > 0
                                 && other[0]->bytesAvailable() > 0,
                             5000);
    QCOMPARE(f.server->connectionCount(), 4);
    QVERIFY(f.stateFrom(QStringLiteral("127.0.0.3")).startsWith("HTTP/1.1 200 "));
    QTRY_COMPARE_WITH_TIMEOUT(first[0]->state(), QAbstractSocket::UnconnectedState, 5000);
    QCOMPARE(more[0]->state(), QAbstractSocket::ConnectedState);
    QCOMPARE(other[0]->state(), QAbstractSocket::ConnectedState);
}

// However busy, a keep-alive connection is not held for ever: it closes after
// the answer that reaches its limit of requests or of life.
void TestRemoteServer::keepAliveEnds_data()
{
    QTest::addColumn<int>("maxRequests");
    QTest::addColumn<int>("lifeMs");
    QTest::addColumn<int>("answers"); // of five requests sent at once
    QTest::newRow("after-3-requests") << 3 << 600000 << 3;
    QTest::newRow("after-its-life") << 100 << 0 << 1;
}

void TestRemoteServer::keepAliveEnds()
{
    QFETCH(int, maxRequests);
    QFETCH(int, lifeMs);
    QFETCH(int, answers);
    RemoteFixture f;
    QVERIFY(f.listening);
    RemoteServer::Limits limits;
    limits.maxRequests = maxRequests;
    limits.lifeMs = lifeMs;
    f.server->setLimits(limits);
    const auto client = f.openClients(
        1, QByteArray("GET /api/state HTTP/1.1\r\nHost: " + f.host() + "\r\n\r\n").repeated(5));
    QSignalSpy closed(client[0].get(), &QTcpSocket::disconnected);
    QVERIFY(closed.wait(5000));
    const QByteArray got = client[0]->readAll();
    QCOMPARE(got.count("HTTP/1.1 200 "), answers);
    QCOMPARE(got.count("Connection: close\r\n"), 1);
}

void TestRemoteServer::pushFollowsTick()
{
    RemoteFixture f;
    QVERIFY(f.listening);
    f.setFields(QStringLiteral("00"), QStringLiteral("01"), QStringLiteral("00"));
    f.window->SW_GO->setChecked(true);
    f.window->TIM_REBOUR->stop();

    QWebSocket ws;
    QStringList messages;
    connect(&ws, &QWebSocket::textMessageReceived, &ws,
            [&](const QString &m) { messages.append(m); });
    ws.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/ws").arg(f.server->port())));
    QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 1, 5000);
    QCOMPARE(QJsonDocument::fromJson(messages[0].toUtf8())[QLatin1String("time")].toString(),
             QStringLiteral("00:01:00"));

    // 00:01:00 -> 00:00:59 writes all three fields: one push, not three.
    f.window->countdown()->TIM_REBOUR_Timer();
    QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 2, 5000);
    const QJsonObject s = QJsonDocument::fromJson(messages[1].toUtf8()).object();
    QCOMPARE(s.value(QLatin1String("time")).toString(), QStringLiteral("00:00:59"));
    QCOMPARE(s.value(QLatin1String("frame")).toString(), QStringLiteral("000059"));
    QCOMPARE(s.value(QLatin1String("running")).toBool(), true);
    // Each entry's health record, as the links room keeps it.
    const QJsonArray displays = s.value(QLatin1String("displays")).toArray();
    QCOMPARE(displays.size(), 1);
    QCOMPARE(displays[0][QLatin1String("address")].toString(), QStringLiteral("127.0.0.2"));
    QCOMPARE(displays[0][QLatin1String("state")].toString(), QStringLiteral("connected"));
    QVERIFY(displays[0].toObject().contains(QLatin1String("errorCount")));
    // A request answered after the push would have queued behind any second one.
    QCOMPARE(f.request("GET", QStringLiteral("/api/state")).status, 200);
    QCOMPARE(messages.size(), 2);

    // The title follows too.
    f.window->INP_TITLE->setText(QStringLiteral("Act two"));
    QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 3, 5000);
    QCOMPARE(QJsonDocument::fromJson(messages[2].toUtf8())[QLatin1String("title")].toString(),
             QStringLiteral("Act two"));
}

void TestRemoteServer::pushOnlyWhatChanged()
{
    RemoteFixture f;
    QVERIFY(f.listening);
    f.window->TIM_REBOUR->stop();
    // The title changes the state and sends no frame, so the state can come back byte for byte.
    f.window->INP_TITLE->setText(QStringLiteral("A"));
    const QUrl url(QStringLiteral("ws://127.0.0.1:%1/api/ws").arg(f.server->port()));
    auto titles = [](const QStringList &messages) {
        QStringList out;
        for (const QString &m : messages)
            out << QJsonDocument::fromJson(m.toUtf8())[QLatin1String("title")].toString();
        return out;
    };
    QStringList first;
    {
        QWebSocket ws;
        connect(&ws, &QWebSocket::textMessageReceived, &ws, [&](const QString &m) { first << m; });
        ws.open(url);
        QTRY_COMPARE_WITH_TIMEOUT(first.size(), 1, 5000);
        f.window->INP_TITLE->setText(QStringLiteral("B"));
        f.window->INP_TITLE->setText(QStringLiteral("A"));
        f.hub.notifyChanged();
        // A request answered after the pushes: nothing changed in the end, nothing was sent.
        QCOMPARE(f.request("GET", QStringLiteral("/api/state")).status, 200);
        QCOMPARE(titles(first), QStringList{QStringLiteral("A")});
        f.window->INP_TITLE->setText(QStringLiteral("B"));
        QTRY_COMPARE_WITH_TIMEOUT(titles(first), (QStringList{"A", "B"}), 5000);
        ws.close();
        QTRY_COMPARE_WITH_TIMEOUT(f.server->viewerCount(), 0, 5000);
    }
    // Unseen by anyone the title moves on; back to the last one pushed, the next viewer sees it.
    f.window->INP_TITLE->setText(QStringLiteral("C"));
    QWebSocket ws;
    QStringList second;
    connect(&ws, &QWebSocket::textMessageReceived, &ws, [&](const QString &m) { second << m; });
    ws.open(url);
    QTRY_COMPARE_WITH_TIMEOUT(second.size(), 1, 5000);
    f.window->INP_TITLE->setText(QStringLiteral("B"));
    QTRY_COMPARE_WITH_TIMEOUT(titles(second), (QStringList{"C", "B"}), 5000);
}

void TestRemoteServer::viewersCapped()
{
    RemoteFixture f("s3cret");
    QVERIFY(f.listening);
    RemoteServer::Limits limits;
    limits.maxPerAddress = 100; // every viewer here comes from 127.0.0.1
    f.server->setLimits(limits);
    const QUrl url(QStringLiteral("ws://127.0.0.1:%1/api/ws").arg(f.server->port()));
    std::vector<std::unique_ptr<QWebSocket>> viewers;
    int connected = 0;
    for (int i = 0; i < 64; ++i) {
        viewers.push_back(std::make_unique<QWebSocket>());
        connect(viewers.back().get(), &QWebSocket::connected, this, [&connected] { ++connected; });
        viewers.back()->open(url);
    }
    QTRY_COMPARE_WITH_TIMEOUT(connected, 64, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(f.server->viewerCount(), 64, 5000);

    QWebSocket extra;
    QSignalSpy extraConnected(&extra, &QWebSocket::connected);
    QSignalSpy extraError(&extra, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error));
    extra.open(url);
    QVERIFY(extraError.wait(5000));
    QCOMPARE(extraConnected.size(), 0);
    QCOMPARE(f.server->viewerCount(), 64);

    // A place freed is a place taken.
    viewers.front()->close();
    QTRY_COMPARE_WITH_TIMEOUT(f.server->viewerCount(), 63, 5000);
    QWebSocket again;
    QSignalSpy againConnected(&again, &QWebSocket::connected);
    again.open(url);
    QVERIFY(againConnected.wait(5000));

    // Full again: an address below its share, and the token, each take the
    // place of a viewer of the address that holds the most.
    auto gone = [&] {
        return std::count_if(viewers.cbegin(), viewers.cend(), [](const auto &v) {
            return v->state() == QAbstractSocket::UnconnectedState;
        });
    };
    const QByteArray upgrade = "GET /api/ws HTTP/1.1\r\nHost: " + f.host()
                               + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                 "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                 "Sec-WebSocket-Version: 13\r\n";
    const auto fewer = f.openClients(1, upgrade + "\r\n", QStringLiteral("127.0.0.2"));
    QVERIFY(readUntilBlankLine(*fewer[0], 1 << 16).startsWith("HTTP/1.1 101 "));
    QTRY_COMPARE_WITH_TIMEOUT(gone(), 2, 5000);
    const auto trusted = f.openClients(1, upgrade + "Authorization: Bearer s3cret\r\n\r\n");
    QVERIFY(readUntilBlankLine(*trusted[0], 1 << 16).startsWith("HTTP/1.1 101 "));
    QTRY_COMPARE_WITH_TIMEOUT(gone(), 3, 5000);
}

void TestRemoteServer::badHandshakesFreeTheirPlace()
{
    RemoteFixture f;
    QVERIFY(f.listening);
    RemoteServer::Limits limits;
    limits.maxPerAddress = 100;
    f.server->setLimits(limits);
    // Upgrades that cannot become viewers (no key) are refused and hold no place.
    const auto bad
        = f.openClients(70, "GET /api/ws HTTP/1.1\r\nHost: " + f.host()
                                + "\r\nUpgrade: websocket\r\n"
                                  "Connection: Upgrade\r\nSec-WebSocket-Version: 13\r\n\r\n");
    for (auto &s : bad) {
        const QByteArray a = readUntilBlankLine(*s, 1 << 16);
        QVERIFY2(a.startsWith("HTTP/1.1 4"), a.left(60).constData());
    }
    QTRY_COMPARE_WITH_TIMEOUT(f.server->viewerCount(), 0, 10000);
    QWebSocket good;
    QSignalSpy connected(&good, &QWebSocket::connected);
    good.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/ws").arg(f.server->port())));
    QVERIFY(connected.wait(5000));
}

void TestRemoteServer::slowViewerDropped()
{
    RemoteFixture f;
    QVERIFY(f.listening);
    QSignalSpy dropped(f.server.get(), &RemoteServer::viewerDropped);

    // A viewer that reads, and one that completes the handshake and then reads nothing.
    QWebSocket reader;
    int readerMessages = 0;
    connect(&reader, &QWebSocket::textMessageReceived, this,
            [&readerMessages] { ++readerMessages; });
    reader.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/ws").arg(f.server->port())));
    QTRY_COMPARE_WITH_TIMEOUT(readerMessages, 1, 5000);

    QTcpSocket stalled;
    stalled.connectToHost(QHostAddress::LocalHost, f.server->port());
    QTRY_COMPARE_WITH_TIMEOUT(stalled.state(), QAbstractSocket::ConnectedState, 5000);
    // A small fixed window, so the kernel does not soak up what Qt must bound.
    stalled.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    stalled.write("GET /api/ws HTTP/1.1\r\nHost: " + f.host()
                  + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: "
                    "13\r\n\r\n");
    const QByteArray handshake = readUntilBlankLine(stalled, 1);
    QVERIFY2(handshake.startsWith("HTTP/1.1 101"), handshake.constData());
    stalled.setReadBufferSize(1); // from here on the test never reads it
    QTRY_COMPARE_WITH_TIMEOUT(f.server->viewerCount(), 2, 5000);

    // The countdown runs on its real timer while large states are pushed.
    TickWatch watch(f.window->INP_DELAY[2]);
    f.setFields(QStringLiteral("01"), QStringLiteral("00"), QStringLiteral("00"));
    f.window->SW_GO->setChecked(true);
    QElapsedTimer clock;
    clock.start();
    const int ticksBefore = watch.ticks();
    const QString pad(16 * 1024, QLatin1Char('x'));
    int n = 0;
    while (clock.elapsed() < 15000 && (dropped.isEmpty() || watch.ticks() < ticksBefore + 4)) {
        f.window->INP_TITLE->setText(pad + QString::number(n++));
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    QCOMPARE(dropped.size(), 1);
    QCOMPARE(f.server->viewerCount(), 1);
    QVERIFY(reader.state() == QAbstractSocket::ConnectedState);
    QVERIFY2(watch.ticks() >= ticksBefore + 4, qPrintable(QString::number(watch.ticks())));
    QVERIFY2(watch.fault().isEmpty(), qPrintable(watch.fault()));
}

QTEST_MAIN(TestRemoteServer)
// A run that counts down to zero starts the overtime; any set, Run or Reset
// ends it, and a Run switched on at zero counts nothing down.
void TestRemoteServer::overtime_data()
{
    QTest::addColumn<QString>("seconds"); // the fields before Run: 00:00:SS
    QTest::addColumn<QByteArray>("path"); // the command once Run is off
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("zoneAtStop");
    QTest::addColumn<QString>("zoneAfter");

    QTest::newRow("set") << "01" << QByteArray("/api/time") << QByteArray(R"({"time":"00:00:30"})")
                         << "zero"
                         << "danger";
    QTest::newRow("set-same-text")
        << "01" << QByteArray("/api/time") << QByteArray(R"({"time":"00:00:00"})") << "zero"
        << "idle";
    QTest::newRow("run") << "01" << QByteArray("/api/run") << QByteArray() << "zero"
                         << "idle";
    QTest::newRow("reset") << "01" << QByteArray("/api/reset") << QByteArray() << "zero"
                           << "idle";
    QTest::newRow("run-at-zero") << "00" << QByteArray("/api/reset") << QByteArray() << "idle"
                                 << "idle";
}

void TestRemoteServer::overtime()
{
    QFETCH(QString, seconds);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, body);
    QFETCH(QString, zoneAtStop);
    QFETCH(QString, zoneAfter);

    RemoteFixture f;
    QVERIFY(f.listening);
    f.setFields(QStringLiteral("00"), QStringLiteral("00"), seconds);
    f.window->SW_GO->setChecked(true);
    f.window->TIM_REBOUR->stop();
    f.window->countdown()->TIM_REBOUR_Timer();
    QVERIFY(!f.window->SW_GO->isChecked());
    QJsonObject s = f.request("GET", QStringLiteral("/api/state")).json;
    QCOMPARE(s.value(QLatin1String("zone")).toString(), zoneAtStop);
    QCOMPARE(s.value(QLatin1String("overtime")).toString(),
             zoneAtStop == QLatin1String("zero") ? QStringLiteral("00:00:00") : QString());

    s = f.request("POST", QString::fromLatin1(path), body).json;
    QCOMPARE(s.value(QLatin1String("zone")).toString(), zoneAfter);
    QCOMPARE(s.value(QLatin1String("overtime")).toString(), QString());
}

#include "tst_remoteserver.moc"
