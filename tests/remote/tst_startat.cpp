#include "core/qtsockets.h"
#include "countdown/timeofday.h"
#include "remote/oscserver.h"
#include "remote/remotehub.h"
#include "remote/remoteserver.h"
#include "simulator/displaysimulator.h"
#include "support/roomsfixture.h"
#include "support/testfiles.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QtTest>

#include <lo/lo.h>

#include <memory>

// Counting to a time of day, a start at a set time and the running order, end
// to end: HTTP and OSC on loopback into the real window, the simulator as the
// display, the real clock.
class TestStartAt : public QObject
{
    Q_OBJECT
private slots:
    void untilAndRunAtReachTheDisplay();
    void rundownCuesReachTheDisplay();
};

namespace {

qint64 wallMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// The local time of day `seconds` from now, as the commands take it.
QString inSeconds(int seconds)
{
    return QTime::currentTime().addSecs(seconds).toString(QStringLiteral("HH:mm:ss"));
}

struct Http
{
    QNetworkAccessManager nam;
    quint16 port = 0;
    QPair<int, QJsonObject> post(const QString &path, const QByteArray &body)
    {
        return send("POST", path, body);
    }
    QPair<int, QJsonObject> send(const QByteArray &method, const QString &path,
                                 const QByteArray &body,
                                 const QByteArray &type = QByteArrayLiteral("application/json"))
    {
        QNetworkRequest req(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path)));
        req.setHeader(QNetworkRequest::ContentTypeHeader, type);
        QNetworkReply *reply = nam.sendCustomRequest(req, method, body);
        QSignalSpy done(reply, &QNetworkReply::finished);
        if (!reply->isFinished())
            done.wait(5000);
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QJsonObject json = QJsonDocument::fromJson(reply->readAll()).object();
        reply->deleteLater();
        return {status, json};
    }
};

// {"key":"value"}
QByteArray body(const char *key, const QString &value)
{
    return QJsonDocument(QJsonObject{{QLatin1String(key), value}}).toJson(QJsonDocument::Compact);
}

void sendOsc(quint16 port, const char *path, const QString &text)
{
    lo_address to = lo_address_new("127.0.0.1", QByteArray::number(port).constData());
    lo_message m = lo_message_new();
    if (!text.isNull())
        lo_message_add_string(m, text.toUtf8().constData());
    lo_send_message(to, path, m);
    lo_message_free(m);
    lo_address_free(to);
}

} // namespace

void TestStartAt::untilAndRunAtReachTheDisplay()
{
    SimulatorOptions options;
    options.listen = {QHostAddress(QHostAddress::LocalHost)};
    options.port = 0;
    options.udpAddress = QHostAddress(QHostAddress::LocalHost);
    options.udpPort = 0;
    DisplaySimulator simulator(options);
    QString error;
    if (!simulator.start(&error))
        QSKIP(qPrintable(QStringLiteral("no display on 127.0.0.1: ") + error));
    struct Seen
    {
        qint64 at;
        QString text;
    };
    QList<Seen> seen;
    connect(&simulator, &DisplaySimulator::frameReceived, this, [&seen](int, const QString &text) {
        seen.append({wallMs(), text});
    });
    const auto seenAfter = [&seen](qint64 from, const QString &text) {
        for (const Seen &s : seen) {
            if (s.at >= from && s.text == text)
                return s.at;
        }
        return qint64(-1);
    };

    QtSocketFactory factory(QStringLiteral("127.0.0.1"), simulator.udpPort());
    RoomsFixture rooms(factory);
    rooms.supervisor.setDisplayPort(simulator.port(0));
    rooms.addEntry(QStringLiteral("127.0.0.1"));
    rooms.tick();
    QTRY_VERIFY(rooms.list.isMarked(0));

    RemoteHub hub;
    wireRemote(rooms.window, hub);
    RemoteServer server(hub);
    OscServer osc(hub);
    QVERIFY(server.listen(QHostAddress::LocalHost, 0, &error));
    QVERIFY(osc.listen(QHostAddress::LocalHost, 0, &error));
    Http http;
    http.port = server.port();

    // Until, over HTTP, with Run on: zero reaches the display on the target second.
    // (Seconds not zero, so that no write on the way there sends a blank frame.)
    rooms.set(QStringLiteral("00:00:30"));
    QCOMPARE(http.post(QStringLiteral("/api/run"), QByteArray()).first, 200);
    const QString until = inSeconds(3);
    const qint64 asked = wallMs();
    QCOMPARE(http.post(QStringLiteral("/api/time"), body("until", until)).first, 200);
    const qint64 target = timeofday::nextOccurrence(asked, QTime::fromString(until, Qt::ISODate));
    QVERIFY(rooms.log.text().endsWith(
        rooms.logLine(QStringLiteral("REMOTE 127.0.0.1= UNTIL ") + until)));
    QTRY_VERIFY_WITH_TIMEOUT(seenAfter(asked, QStringLiteral("------")) > 0, 6000);
    const qint64 zero = seenAfter(asked, QStringLiteral("------"));
    QVERIFY2(zero >= target - 2 && zero < target + 1000,
             qPrintable(QStringLiteral("zero %1 ms after the target").arg(zero - target)));
    qInfo("zero reached the display %lld ms after the target", zero - target);
    QVERIFY(!rooms.swGo.isChecked());

    // Start at, over OSC: armed, shown in the state, and Run on at the second.
    QCOMPARE(http.post(QStringLiteral("/api/time"), body("time", QStringLiteral("00:00:05"))).first,
             200);
    qint64 switchedOn = -1;
    connect(&rooms.swGo, &QCheckBox::toggled, this, [&switchedOn](bool on) {
        if (on)
            switchedOn = wallMs();
    });
    const QString at = inSeconds(2);
    const qint64 armed = wallMs();
    sendOsc(osc.port(), "/rv38t/runat", at);
    QTRY_COMPARE(hub.state().startsAt, at);
    const qint64 start = timeofday::nextOccurrence(armed, QTime::fromString(at, Qt::ISODate));
    QTRY_VERIFY_WITH_TIMEOUT(switchedOn > 0, 5000);
    QVERIFY2(switchedOn >= start && switchedOn < start + 250,
             qPrintable(QStringLiteral("Run on %1 ms after the second").arg(switchedOn - start)));
    qInfo("Run switched on %lld ms after the second", switchedOn - start);
    QCOMPARE(hub.state().startsAt, QString());
    QVERIFY(rooms.log.text().endsWith(rooms.logLine(QStringLiteral("OSC 127.0.0.1= RUN AT ") + at)
                                      + rooms.logLine(QStringLiteral("OSC 127.0.0.1= RUN"))));
    // The first tick a second later reaches the display.
    QTRY_VERIFY_WITH_TIMEOUT(seenAfter(switchedOn, QStringLiteral("000004")) > 0, 3000);

    // A pause disarms; so does a disarm.
    const QString later = inSeconds(3600);
    QCOMPARE(http.post(QStringLiteral("/api/run"), body("at", later))
                 .second.value(QLatin1String("startsAt"))
                 .toString(),
             later);
    QCOMPARE(http.post(QStringLiteral("/api/pause"), QByteArray())
                 .second.value(QLatin1String("startsAt"))
                 .toString(),
             QString());
    sendOsc(osc.port(), "/rv38t/runat", later);
    QTRY_VERIFY(!hub.state().startsAt.isEmpty());
    QCOMPARE(http.post(QStringLiteral("/api/disarm"), QByteArray()).first, 200);
    QCOMPARE(hub.state().startsAt, QString());
    QVERIFY(!rooms.swGo.isChecked());
}

void TestStartAt::rundownCuesReachTheDisplay()
{
    SimulatorOptions options;
    options.listen = {QHostAddress(QHostAddress::LocalHost)};
    options.port = 0;
    options.udpAddress = QHostAddress(QHostAddress::LocalHost);
    options.udpPort = 0;
    DisplaySimulator simulator(options);
    QString error;
    if (!simulator.start(&error))
        QSKIP(qPrintable(QStringLiteral("no display on 127.0.0.1: ") + error));
    QStringList seen;
    connect(&simulator, &DisplaySimulator::frameReceived, this,
            [&seen](int, const QString &text) { seen.append(text); });
    QtSocketFactory factory(QStringLiteral("127.0.0.1"), simulator.udpPort());
    RoomsFixture rooms(factory);
    rooms.supervisor.setDisplayPort(simulator.port(0));
    rooms.addEntry(QStringLiteral("127.0.0.1"));
    rooms.tick();
    QTRY_VERIFY(rooms.list.isMarked(0));
    RemoteHub hub;
    wireRemote(rooms.window, hub);
    RemoteServer server(hub);
    OscServer osc(hub);
    QVERIFY(server.listen(QHostAddress::LocalHost, 0, &error));
    QVERIFY(osc.listen(QHostAddress::LocalHost, 0, &error));
    Http http;
    http.port = server.port();
    const auto cue = [&hub] { return hub.stateJson(); };

    // A spreadsheet's file is saved as it came (bad rows: tst_rundown, the contract).
    const QByteArray csv = "\xEF\xBB\xBFtitle;duration;auto\r\nDoors;00:01;yes\r\n"
                           "Welcome;00:00:03;\r\nPanel;00:10:00;\r\n";
    QCOMPARE(http.send("PUT", QStringLiteral("/api/rundown"), csv, "text/csv; charset=utf-8").first,
             200);
    QCOMPARE(readAll(QStringLiteral("RUNDOWN.CSV")), csv);

    // The first segment loaded and run over HTTP; at its zero the next one loads and runs.
    const auto first = http.post(QStringLiteral("/api/cue"), R"({"index":1,"run":true})");
    QCOMPARE(first.first, 200);
    QCOMPARE(first.second.value(QLatin1String("cue")).toObject(),
             (QJsonObject{{QStringLiteral("index"), 1},
                          {QStringLiteral("count"), 3},
                          {QStringLiteral("title"), QStringLiteral("Doors")},
                          {QStringLiteral("next"), QStringLiteral("Welcome")},
                          {QStringLiteral("revision"), 1}}));
    QCOMPARE(rooms.inpTitle.text(), QStringLiteral("Doors"));
    QTRY_COMPARE(readAll(QStringLiteral("TITLE.CFG")), QByteArray("Doors\r\n"));
    QTRY_VERIFY_WITH_TIMEOUT(
        seen.indexOf(QStringLiteral("000003"),
                     seen.indexOf(QStringLiteral("------"), seen.indexOf(QStringLiteral("000001"))))
            > 0,
        4000);
    QVERIFY(rooms.swGo.isChecked());
    QVERIFY(rooms.log.text().contains(
        rooms.logLine(QStringLiteral("REMOTE 127.0.0.1= CUE 1/3 \"Doors\""))
        + rooms.logLine(QStringLiteral("AUTO= CUE 2/3 \"Welcome\""))));

    // OSC steps on, and Run stays as it is.
    sendOsc(osc.port(), "/rv38t/cue/next", QString());
    QTRY_VERIFY(seen.contains(QStringLiteral("001000")));
    QVERIFY(cue().contains(R"("index":3)"));
    QVERIFY(rooms.swGo.isChecked());

    // Past the end: a 400, a refused datagram, and nothing changes.
    const auto past = http.post(QStringLiteral("/api/cue"), R"({"step":1})");
    QCOMPARE(past.first, 400);
    QCOMPARE(past.second.value(QLatin1String("error")).toString(),
             QStringLiteral("no next segment after 3/3"));
    QSignalSpy refused(&osc, &OscServer::refused);
    lo_address to = lo_address_new("127.0.0.1", QByteArray::number(osc.port()).constData());
    lo_send(to, "/rv38t/cue", "i", 9);
    lo_address_free(to);
    QVERIFY(refused.wait(2000));
    QCOMPARE(refused.first().at(1).toString(), QStringLiteral("cue 9 out of range: 1-3"));
    QVERIFY(cue().contains(R"("index":3)"));
}

QTEST_MAIN(TestStartAt)
#include "tst_startat.moc"
