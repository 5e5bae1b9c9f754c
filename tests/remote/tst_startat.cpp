#include "core/qtsockets.h"
#include "countdown/timeofday.h"
#include "remote/oscserver.h"
#include "remote/remotehub.h"
#include "remote/remoteserver.h"
#include "simulator/displaysimulator.h"
#include "support/roomsfixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QtTest>

#include <lo/lo.h>

#include <memory>

// Counting to a time of day and a start at a set time, end to end: HTTP and OSC
// on loopback into the real window, the simulator as the display, the real clock.
class TestStartAt : public QObject
{
    Q_OBJECT
private slots:
    void untilAndRunAtReachTheDisplay();
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
        QNetworkRequest req(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path)));
        req.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        QNetworkReply *reply = nam.post(req, body);
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

QTEST_MAIN(TestStartAt)
#include "tst_startat.moc"
