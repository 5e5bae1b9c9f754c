#include "standby/follower.h"
#include "support/consoleprocess.h"
#include "standby/mainlink.h"
#include "support/remotefixture.h"
#include "countdown/timedstart.h"
#include "core/keyproof.h"
#include "standby/standbyroom.h"
#include "rundown/runningorder.h"

#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QNetworkRequest>
#include <QTcpServer>
#include <QWebSocket>
#include <QWebSocketServer>
#include <QtTest>

#include <lo/lo.h>

// The standby over the real window and the fake socket factory: a scripted
// link to the main and a clock of the test's own, so the 2-s and 1-s rules
// are checked to the poll without waiting for them.
namespace {

class FakeMainLink : public MainLink
{
    Q_OBJECT
public:
    void open() override { ++opens; }
    void abort() override { ++aborts; }
    void ping() override { ++pings; }
    void probe() override { ++probes; }
    void cancelProbe() override {}

    using MainLink::answered;
    using MainLink::closed;
    using MainLink::message;
    using MainLink::pong;
    using MainLink::refused;

    int opens = 0, aborts = 0, pings = 0, probes = 0;
};

QByteArray state(const char *time, bool running, const char *lamp = "green",
                 const QByteArray &startsAt = QByteArray(), const char *role = "main", int term = 0)
{
    return QByteArray(R"({"time":")") + time + R"(","frame":"","running":)"
           + (running ? "true" : "false") + R"(,"title":"SHOW","lamp":")" + lamp
           + R"(","displays":[{"address":"127.0.0.2"},{"address":"127.0.0.3"}],"role":")" + role
           + R"(","following":"","standbys":[],"term":)" + QByteArray::number(term)
           + R"(,"startsAt":")" + startsAt + R"(",)"
           + R"("zones":{"warning":"00:02:00","danger":"00:00:30"},"blackout":true,)"
           + R"("zone":"normal","overtime":"","length":"","cue":{"index":0,"revision":0},)"
           + R"("message":{"text":"Wrap up","visible":false}})";
}
// What the presenter's view follows from that state.
const PresenterSettings kFollowed{{120, 30}, QStringLiteral("Wrap up"), false, true};

// The remote fixture's window as a standby of 10.0.0.5:8080, or of a main on loopback.
struct StandbyFixture
{
    explicit StandbyFixture(const QString &mainText = QStringLiteral("10.0.0.5:8080"))
    {
        QString error;
        followed::parseMain(mainText, &main, &error);
        auto fake = std::make_unique<FakeMainLink>();
        link = fake.get();
        // The supervisor runs, as in the program, until the window becomes a standby.
        remote.window->TIM_IP_CON->start(1000);
        follower = wireStandby(*remote.window, main, std::move(fake), &remote.hub);
        follower->setClock([this] { return now; });
        follower->start();
    }
    // Polls every 50 ms up to `until`, answering the link as `script` says.
    void runTo(qint64 until, const std::function<void()> &script = {})
    {
        while (now < until && follower->state() != Follower::State::TakenOver) {
            now += 50;
            if (script)
                script();
            follower->poll();
        }
    }
    QStringList entries() const
    {
        QStringList out;
        for (int i = 0; i < remote.window->LST_IP->count(); ++i)
            out.append(remote.window->LST_IP->item(i)->text()
                       + (remote.window->LST_IP->item(i)->checkState() ? "*" : ""));
        return out;
    }
    int connects() const
    {
        int n = 0;
        for (const auto &s : remote.sockets.tcp)
            n += s ? s->connectCalls : 0;
        return n;
    }

    RemoteFixture remote; // with one display connected before it became a standby
    followed::MainAddress main;
    FakeMainLink *link = nullptr;
    Follower *follower = nullptr;
    qint64 now = 0;
};

} // namespace

class TestStandby : public QObject
{
    Q_OBJECT
private slots:
    void followsWithoutDrivingAnything();
    void detection_data();
    void detection();
    void takeover_data();
    void takeover();
    void commandsRefused();
    void stalledMainAsks_data();
    void stalledMainAsks();
    void fakeMain_data();
    void fakeMain();
    void announcement_data();
    void announcement();
    void probeVerdict_data();
    void probeVerdict();
    void nameStopsTheProgram_data();
    void nameStopsTheProgram();
    void followsTheRunningOrder();
};

void TestStandby::followsWithoutDrivingAnything()
{
    StandbyFixture f;
    MainWindow &w = *f.remote.window;
    const QByteArray listBefore = readAll(QStringLiteral("LST_IP.CFG"));
    const int connectsBefore = f.connects();
    const qsizetype sentBefore = f.remote.sockets.sendLog.size();
    QCOMPARE(f.link->opens, 1);
    QCOMPARE(f.entries(), QStringList()); // its own list is not the show's

    // A standby of a standby is no standby: nothing is taken from it.
    emit f.link->message(state("00:10:00", true, "green", "", "standby"));
    QVERIFY(!f.follower->hasFollowed());
    QCOMPARE(f.remote.fields(), QStringLiteral("00:00:00"));

    emit f.link->message(state("00:10:00", true));
    QCOMPARE(f.remote.fields(), QStringLiteral("00:10:00"));
    QVERIFY(w.SW_GO->isChecked());
    QVERIFY(!w.TIM_REBOUR->isActive()); // the main's pushes move it, not its own tick
    QCOMPARE(w.INP_TITLE->text(), QStringLiteral("SHOW"));
    QCOMPARE(f.entries(), (QStringList{"127.0.0.2", "127.0.0.3"}));
    QCOMPARE(w.TCP_OK->fillColor(), Supervisor::kLampGreen);
    QVERIFY(f.remote.hub.presenter() == kFollowed);
    // What the main sends is checked as typed input: a bell in the message is not shown.
    emit f.link->message(state("00:10:00", true).replace("Wrap up", "Wrap\\u0007up"));
    QVERIFY(f.remote.hub.presenter() == kFollowed);
    QVERIFY(f.remote.log().endsWith(
        f.remote.rooms->logLine(QStringLiteral("STANDBY 10.0.0.5:8080= FOLLOWING"))));
    for (QWidget *c : std::initializer_list<QWidget *>{w.INP_DELAY[0], w.INP_DELAY[2], w.INP_TITLE,
                                                       w.SW_GO, w.B_RESET, w.B_IP_ADD, w.B_IP_DEL})
        QVERIFY2(!c->isEnabled(), qPrintable(c->objectName()));

    // Its pushes come and go for a while: nothing connects, nothing is sent or saved.
    emit f.link->message(state("00:09:59", true, "red"));
    QCOMPARE(w.TCP_OK->fillColor(), Supervisor::kLampRed);
    // Not driving: the supervisor's timer is off, and a tick, were one to come, does nothing.
    QCOMPARE(w.standbyRoom()->role(), StandbyRoom::Role::Following);
    QVERIFY(!w.TIM_IP_CON->isActive());
    w.supervisor()->TIM_IP_CON_Timer();
    w.frameSender()->INP_DELAY_Change(0);
    f.runTo(1900, [&f] {
        if (f.now % 500 == 0)
            emit f.link->pong();
    });
    QVERIFY(f.link->pings >= 3);
    QCOMPARE(f.connects(), connectsBefore);
    QCOMPARE(f.remote.sockets.sendLog.size(), sentBefore);
    QCOMPARE(f.remote.sockets.udp->sent.size(), 0);
    QCOMPARE(readAll(QStringLiteral("LST_IP.CFG")), listBefore);
    QVERIFY(!QFile::exists(QStringLiteral("TITLE.CFG")));
    QVERIFY(!QFile::exists(QStringLiteral("ZONES.CFG")));
}

void TestStandby::detection_data()
{
    QTest::addColumn<qint64>("pongsUntil"); // the main answers pings until then
    QTest::addColumn<int>("closes");        // 0 not, 1 its push socket closes then, 2 says why
    QTest::addColumn<int>("probe");         // 0 never answers, 1 refused, 2 answers (503)
    QTest::addColumn<bool>("followed");     // its state came once
    QTest::addColumn<qint64>("takeoverAt"); // -1: none by 8 s
    // Killed: the socket closes, the probe asked at once is refused at once.
    QTest::newRow("killed") << qint64(1000) << 1 << 1 << true << qint64(1000);
    // Closed on purpose: it says so first, a planned hand-over.
    QTest::newRow("closed-on-purpose") << qint64(1000) << 2 << 0 << true << qint64(1000);
    // Frozen or unplugged: 2 s of silence, then a probe nobody answers within its second.
    QTest::newRow("frozen") << qint64(1000) << 0 << 0 << true << qint64(4000);
    QTest::newRow("unplugged-socket-closed") << qint64(1000) << 1 << 0 << true << qint64(4000);
    // Only the link failed: the main answers, whatever the status, and the standby stays.
    QTest::newRow("link-only") << qint64(1000) << 1 << 2 << true << qint64(-1);
    QTest::newRow("link-stalled") << qint64(1000) << 0 << 2 << true << qint64(-1);
    // Never followed: nothing to take over with, however dead the main looks.
    QTest::newRow("never-followed") << qint64(0) << 1 << 1 << false << qint64(-1);
    QTest::newRow("alive") << qint64(8000) << 0 << 1 << true << qint64(-1);
}

void TestStandby::detection()
{
    QFETCH(qint64, pongsUntil);
    QFETCH(int, closes);
    QFETCH(int, probe);
    QFETCH(bool, followed);
    QFETCH(qint64, takeoverAt);

    StandbyFixture f;
    if (followed)
        emit f.link->message(state("00:10:00", false));
    int probesSeen = 0;
    qint64 tookOverAt = -1;
    f.runTo(8000, [&] {
        if (f.now <= pongsUntil && f.link->pings > 0 && f.now % 500 == 0)
            emit f.link->pong();
        if (f.now == pongsUntil && closes > 0)
            emit f.link->closed(closes == 2);
        if (f.link->probes > probesSeen) {
            probesSeen = f.link->probes;
            if (probe == 1)
                emit f.link->refused();
            else if (probe == 2)
                emit f.link->answered(503, "{}", true);
        }
    });
    if (f.follower->state() == Follower::State::TakenOver)
        tookOverAt = f.now;
    // At the rule's very poll: 2 s of silence, then the probe's 1 s.
    QCOMPARE(tookOverAt, takeoverAt);
    if (!followed) {
        QCOMPARE(probesSeen, 0);
        QCOMPARE(f.link->opens, 5); // at 0, 2, 4, 6 and 8 s
    }
    if (probe == 2 && pongsUntil < 8000)
        QVERIFY(f.link->opens >= 2); // the push socket opened again
    const bool lost = f.remote.log().contains(QStringLiteral("STANDBY 10.0.0.5:8080= LOST"));
    QCOMPARE(lost, followed && pongsUntil < 8000 && closes < 2);
}

void TestStandby::takeover_data()
{
    QTest::addColumn<QByteArray>("time");
    QTest::addColumn<bool>("running");
    QTest::addColumn<qint64>("diesAt"); // the last push came at 0
    QTest::addColumn<QString>("fields");
    QTest::addColumn<bool>("runs");
    QTest::addColumn<QByteArray>("firstFrame");
    QTest::addColumn<QByteArray>("startsAt"); // the main's armed start; DUE: a second ago
    QTest::addColumn<QString>("armed");       // the armed start after the takeover
    QTest::newRow("armed-start-kept")
        << QByteArray("00:05:00") << false << qint64(3400) << QString("00:05:00") << false
        << frame("000500") << QByteArray("23:59:59") << QString("23:59:59");
    // Due while the death was being noticed: it fires now, not a day later.
    QTest::newRow("armed-start-fell-due")
        << QByteArray("00:05:00") << false << qint64(3400) << QString("00:05:00") << true
        << frame("000500") << QByteArray("DUE") << QString();
    QTest::newRow("running") << QByteArray("00:10:00") << true << qint64(3400)
                             << QString("00:09:57") << true << frame("000957") << QByteArray()
                             << QString();
    QTest::newRow("reached-zero") << QByteArray("00:00:02") << true << qint64(3500)
                                  << QString("00:00:00") << false << frame("------") << QByteArray()
                                  << QString();
    QTest::newRow("paused-as-typed")
        << QByteArray("01:x:5") << false << qint64(9000) << QString("01:x:5") << false
        << frame("010005") << QByteArray() << QString();
    QTest::newRow("hand-typed-wraps")
        << QByteArray("99:99:99") << true << qint64(2500) << QString("04:40:37") << true
        << frame("044037") << QByteArray() << QString();
}

void TestStandby::takeover()
{
    QFETCH(QByteArray, time);
    QFETCH(bool, running);
    QFETCH(qint64, diesAt);
    QFETCH(QString, fields);
    QFETCH(bool, runs);
    QFETCH(QByteArray, firstFrame);
    QFETCH(QByteArray, startsAt);
    QFETCH(QString, armed);

    StandbyFixture f;
    MainWindow &w = *f.remote.window;
    if (startsAt == "DUE")
        startsAt = QTime::currentTime().addSecs(-1).toString(QStringLiteral("HH:mm:ss")).toLatin1();
    emit f.link->message(state(time.constData(), running, "green", startsAt));
    // Pongs keep it live until 2 s before the death; the probe is then refused.
    int connectsBefore = -1;
    f.runTo(diesAt + 1000, [&] {
        if (f.now <= diesAt - 2000)
            emit f.link->pong();
        if (f.follower->state() == Follower::State::Probing) {
            connectsBefore = f.connects();
            emit f.link->refused();
        }
    });
    QCOMPARE(f.link->probes, 1);
    QCOMPARE(f.follower->state(), Follower::State::TakenOver);
    QVERIFY(f.remote.log().endsWith(
        f.remote.rooms->logLine(QStringLiteral("STANDBY 10.0.0.5:8080= TAKEOVER"))));
    QCOMPARE(f.remote.fields(), fields);
    QTRY_COMPARE_WITH_TIMEOUT(w.SW_GO->isChecked(), runs, 2000);
    QCOMPARE(w.timedStart()->text(), armed);
    QCOMPARE(w.TIM_REBOUR->isActive(), runs);
    if (running && runs) // on the main's second: its next tick where the main's would have come
        QCOMPARE(w.TIM_REBOUR->interval(), int(1000 - f.now % 1000));
    QCOMPARE(readAll(QStringLiteral("LST_IP.CFG")), QByteArray("127.0.0.2\r\n127.0.0.3\r\n"));
    QCOMPARE(readAll(QStringLiteral("TITLE.CFG")), QByteArray("SHOW\r\n"));
    QCOMPARE(readAll(QStringLiteral("ZONES.CFG")), QByteArray("00:02:00\r\n00:00:30\r\n"));
    QVERIFY(f.remote.hub.presenter() == kFollowed);
    for (QWidget *c : std::initializer_list<QWidget *>{w.INP_DELAY[1], w.INP_TITLE, w.SW_GO,
                                                       w.B_RESET, w.B_IP_ADD, w.LST_IP})
        QVERIFY2(c->isEnabled(), qPrintable(c->objectName()));
    QCOMPARE(w.windowTitle(), MainWindow::kCaption);
    QCOMPARE(f.remote.hub.refusal(), QString());
    const QJsonObject s = QJsonDocument::fromJson(f.remote.hub.stateJson()).object();
    QCOMPARE(s.value(QLatin1String("role")).toString(), QStringLiteral("main"));
    QCOMPARE(s.value(QLatin1String("following")).toString(), QString());

    // Both displays are being connected already, not at the next tick.
    QCOMPARE(f.connects() - connectsBefore, 2);
    QVERIFY(w.TIM_IP_CON->isActive());
    FakeTcpEndpoint *display = f.remote.sockets.tcp.last();
    display->fireConnected();
    QCOMPARE(display->sent, QByteArrayList{firstFrame});
}

void TestStandby::followsTheRunningOrder()
{
    // The main on loopback, whose list the standby fetches when its revision changes.
    RemoteFixture mainConsole;
    QVERIFY(mainConsole.listening);
    RunningOrder &mainOrder = *mainConsole.window->runningOrder();
    mainOrder.follow(rundown::parseCsv("title,duration\nDoors,10:00\nPanel,20:00\n", 100).segments,
                     2);
    StandbyFixture f(QStringLiteral("127.0.0.1:%1").arg(mainConsole.server->port()));
    RunningOrder &order = *f.remote.window->runningOrder();
    emit f.link->message(mainConsole.hub.stateJson());
    QTRY_COMPARE(order.segments(), mainOrder.segments());
    QCOMPARE(order.current(), 2);
    QCOMPARE(order.step(-1, false, QString()), QStringLiteral("a standby follows its main's cues"));
    QVERIFY(!QFile::exists(QStringLiteral("RUNDOWN.CSV")));

    // At the takeover the show's list is saved here, with its current segment.
    f.runTo(4000, [&f] {
        if (f.now <= 1000)
            emit f.link->pong();
        if (f.follower->state() == Follower::State::Probing)
            emit f.link->refused();
    });
    QCOMPARE(f.follower->state(), Follower::State::TakenOver);
    QCOMPARE(readAll(QStringLiteral("RUNDOWN.CSV")), rundown::toCsv(mainOrder.segments()));
    QCOMPARE(readAll(QStringLiteral("RUNDOWN.CUR")), QByteArray("2\r\nPanel\r\n"));
    QCOMPARE(order.step(-1, false, QString()), QString());
}

void TestStandby::commandsRefused()
{
    StandbyFixture f;
    emit f.link->message(state("00:10:00", false));
    const QString logBefore = f.remote.log();
    const RemoteFixture::Answer state = f.remote.request("GET", QStringLiteral("/api/state"));
    QCOMPARE(state.json.value(QLatin1String("role")).toString(), QStringLiteral("standby"));
    QCOMPARE(state.json.value(QLatin1String("following")).toString(),
             QStringLiteral("10.0.0.5:8080"));

    const RemoteFixture::Answer run = f.remote.request("POST", QStringLiteral("/api/run"), "{}");
    QCOMPARE(run.status, 409);
    QCOMPARE(run.json.value(QLatin1String("error")).toString(),
             QStringLiteral("standby: send commands to 10.0.0.5:8080"));

    QSignalSpy refused(f.remote.osc.get(), &OscServer::refused);
    lo_address to
        = lo_address_new("127.0.0.1", QByteArray::number(f.remote.osc->port()).constData());
    lo_send(to, "/rv38t/run", "");
    lo_address_free(to);
    QVERIFY(refused.wait(5000));
    QCOMPARE(refused.first().at(1).toString(),
             QStringLiteral("standby: send commands to 10.0.0.5:8080"));

    QVERIFY(!f.remote.window->SW_GO->isChecked());
    QCOMPARE(f.remote.log(), logBefore);
}

void TestStandby::stalledMainAsks_data()
{
    QTest::addColumn<QByteArray>("answer"); // "": silent, "refused", else the standby's state
    QTest::addColumn<bool>("proven");
    QTest::addColumn<QString>("logged"); // "": sends the time held back
    QTest::newRow("standby-answers")
        << state("00:10:00", true, "green", "", "standby") << true << QString();
    QTest::newRow("silent") << QByteArray() << true << "STANDBY 127.0.0.9:8081= NO ANSWER";
    QTest::newRow("refused") << QByteArray("refused") << true
                             << "STANDBY 127.0.0.9:8081= NO ANSWER";
    QTest::newRow("took-over") << state("00:09:57", true, "green", "", "main", 1) << true
                               << "STEP DOWN FOR 127.0.0.9:8081";
    // Only a console that proves the shared token makes this one step down.
    QTest::newRow("took-over-unproven")
        << state("00:09:57", true, "green", "", "main", 1) << false << QString();
}

void TestStandby::stalledMainAsks()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, proven);
    QFETCH(QString, logged);
    RemoteFixture r;
    StandbyRoom *room = r.window->standbyRoom();
    qint64 now = 0;
    room->setClock([&now] { return now; });
    QList<FakeMainLink *> links;
    room->setLinks([&links](const followed::MainAddress &) {
        auto link = std::make_unique<FakeMainLink>();
        links.append(link.get());
        return link;
    });
    r.setFields("00", "10", "00");
    r.window->SW_GO->setChecked(true);
    r.hub.standbyJoined(QStringLiteral("127.0.0.9:8081"));
    QCOMPARE(links.size(), 1);
    QVERIFY(r.log().contains(QStringLiteral("STANDBY 127.0.0.9:8081= JOINED")));
    QVERIFY(r.window->TCP_OK->toolTip().contains(QStringLiteral("STANDBY 127.0.0.9:8081 follows")));

    // Frozen for 1.5 s: its next tick sends nothing before the standby has had its say.
    now += 1500;
    r.clearSent();
    const qsizetype sentBefore = r.sockets.sendLog.size();
    r.window->countdown()->TIM_REBOUR_Timer();
    QCOMPARE(room->role(), StandbyRoom::Role::Checking);
    QCOMPARE(links[0]->probes, 1);
    QVERIFY(r.frames().isEmpty());
    const int connects = r.display->connectCalls;
    r.display->setState(SocketState::Closed);
    r.window->addressList()->setMarked(0, false);
    r.window->supervisor()->TIM_IP_CON_Timer();
    QCOMPARE(r.display->connectCalls, connects);
    r.display->setState(SocketState::Connected);
    r.window->addressList()->setMarked(0, true);

    if (answer.isEmpty()) {
        now += StandbyRoom::kAskMs;
        room->beat();
    } else if (answer == "refused") {
        emit links[0]->refused();
    } else {
        emit links[0]->answered(200, answer, proven);
    }
    if (logged.startsWith(QLatin1String("STEP DOWN"))) {
        QCOMPARE(room->role(), StandbyRoom::Role::Following);
        QCOMPARE(r.sockets.sendLog.size(), sentBefore);
        QCOMPARE(r.window->LST_IP->count(), 0); // its displays dropped
        QVERIFY(!r.window->SW_GO->isChecked());
        QCOMPARE(room->follower()->mainText(), QStringLiteral("127.0.0.9:8081"));
        QCOMPARE(links.size(), 2);
        QCOMPARE(links[1]->opens, 1); // following the console that took over
        QCOMPARE(r.hub.refusal(), QStringLiteral("standby: send commands to 127.0.0.9:8081"));
    } else {
        QCOMPARE(room->role(), StandbyRoom::Role::Driving);
        QCOMPARE(r.frames(), QByteArrayList{frame("000959")});
    }
    if (!logged.isEmpty())
        QVERIFY2(r.log().contains(logged), qPrintable(r.log()));
}

void TestStandby::fakeMain_data()
{
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<QByteArray>("push");
    QTest::addColumn<int>("proof"); // 0: none, 1: a wrong one, 2: the right one
    QTest::addColumn<QString>("logged");
    // Which pushes are bad is tst_followed's table; here one is refused over a real socket.
    QTest::newRow("partial") << QByteArray() << QByteArray(R"({"time":"00:00:03"})") << 0
                             << "BAD STATE";
    QTest::newRow("no-proof") << QByteArray("show") << state("00:10:00", true) << 0
                              << "NOT THE MAIN";
    QTest::newRow("wrong-proof") << QByteArray("show") << state("00:10:00", true) << 1
                                 << "NOT THE MAIN";
    QTest::newRow("proven") << QByteArray("show") << state("00:10:00", true) << 2 << "FOLLOWING";
}

void TestStandby::fakeMain()
{
    QFETCH(QByteArray, token);
    QFETCH(QByteArray, push);
    QFETCH(int, proof);
    QFETCH(QString, logged);
    // A server of the test's own that speaks the push socket as a main would, or nearly.
    QWebSocketServer fake(QStringLiteral("fake"), QWebSocketServer::NonSecureMode);
    QVERIFY(fake.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&fake, &QWebSocketServer::newConnection, &fake, [&] {
        QWebSocket *ws = fake.nextPendingConnection();
        ws->setParent(&fake); // the server hands it over unowned
        const QByteArray challenge = ws->request().rawHeader("X-RV38T-Challenge");
        if (proof > 0)
            ws->sendTextMessage(
                QStringLiteral(R"({"proof":"%1"})")
                    .arg(keyproof::answer(proof == 2 ? token : "guess", challenge)));
        ws->sendTextMessage(QString::fromUtf8(push));
        ws->sendTextMessage(QString::fromUtf8(push)); // a second bad push is not logged again
    });
    RemoteFixture r;
    const QByteArray listBefore = readAll(QStringLiteral("LST_IP.CFG"));
    followed::MainAddress main;
    QString error;
    QVERIFY(
        followed::parseMain(QStringLiteral("127.0.0.1:%1").arg(fake.serverPort()), &main, &error));
    Follower *follower = wireStandby(
        *r.window, main, std::make_unique<QtMainLink>(main, QtMainLink::Fence{"", token}));
    follower->start();
    QTRY_VERIFY_WITH_TIMEOUT(r.log().contains(logged), 5000);
    QCOMPARE(r.log().count(logged), 1);
    QCOMPARE(follower->hasFollowed(), logged == QLatin1String("FOLLOWING"));
    if (!follower->hasFollowed()) {
        QCOMPARE(r.window->LST_IP->count(), 0);
        QCOMPARE(r.fields(), QStringLiteral("00:00:00"));
    }
    QCOMPARE(readAll(QStringLiteral("LST_IP.CFG")), listBefore);
    QVERIFY(!QFile::exists(QStringLiteral("TITLE.CFG")));
}

void TestStandby::announcement_data()
{
    QTest::addColumn<QByteArray>("mainToken");
    QTest::addColumn<QByteArray>("standbyToken");
    QTest::addColumn<QString>("logged");
    QTest::newRow("same-token") << QByteArray("show") << QByteArray("show")
                                << "STANDBY 127.0.0.1:9= JOINED";
    // Anybody could announce a fake standby and have the main step down for it.
    QTest::newRow("wrong-token") << QByteArray("show") << QByteArray("guess")
                                 << "STANDBY 127.0.0.1:9= NOT FENCED";
    QTest::newRow("main-without") << QByteArray() << QByteArray("show")
                                  << "STANDBY 127.0.0.1:9= NOT FENCED";
}

void TestStandby::announcement()
{
    QFETCH(QByteArray, mainToken);
    QFETCH(QByteArray, standbyToken);
    QFETCH(QString, logged);
    RemoteFixture r(mainToken);
    QWebSocket ws;
    QSignalSpy messages(&ws, &QWebSocket::textMessageReceived);
    QNetworkRequest request(r.url(QStringLiteral("/api/ws?standby=:9"))
                                .toString()
                                .replace(QLatin1String("http:"), QLatin1String("ws:")));
    request.setRawHeader("Authorization", "Bearer " + standbyToken);
    request.setRawHeader("X-RV38T-Challenge", "c0ffee");
    ws.open(request);
    QTRY_VERIFY(messages.size() >= 1 + int(!mainToken.isEmpty()));
    QVERIFY2(r.log().contains(logged), qPrintable(r.log()));
    const bool joined = logged.endsWith(QLatin1String("JOINED"));
    QCOMPARE(r.hub.state().standbys, joined ? QStringList{"127.0.0.1:9"} : QStringList());
    // The main proves its token first, and never sends it.
    const QString first = messages.first().first().toString();
    QCOMPARE(first.contains(QLatin1String(keyproof::answer("show", "c0ffee"))),
             !mainToken.isEmpty());
    QVERIFY(!first.contains(QLatin1String("show")));
    ws.close();
    QTRY_COMPARE(r.log().contains(QStringLiteral("STANDBY 127.0.0.1:9= LEFT")), joined);
}

void TestStandby::probeVerdict_data()
{
    QTest::addColumn<int>("peer"); // answers 200, 503; nothing listens; silent; resets
    QTest::addColumn<QString>("verdict");
    QTest::newRow("answers-200") << 0 << "alive";
    QTest::newRow("answers-503") << 1 << "alive";
    QTest::newRow("refused") << 2 << "gone";
    QTest::newRow("accepts-silent") << 3 << "silence";
    QTest::newRow("accepts-resets") << 4 << "silence";
}

void TestStandby::probeVerdict()
{
    QFETCH(int, peer);
    QFETCH(QString, verdict);
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    followed::MainAddress main;
    QString error;
    QVERIFY(followed::parseMain(QStringLiteral("127.0.0.1:%1").arg(server.serverPort()), &main,
                                &error));
    if (peer == 2)
        server.close();
    int accepted = 0;
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
        QTcpSocket *s = server.nextPendingConnection();
        ++accepted;
        if (peer == 4)
            s->abort();
        else if (peer < 2)
            QObject::connect(s, &QTcpSocket::readyRead, s, [s, peer] {
                s->write(peer == 0 ? "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}"
                                   : "HTTP/1.1 503 Busy\r\nContent-Length: 2\r\n\r\n{}");
                s->disconnectFromHost();
            });
    });
    QtMainLink link(main, {});
    QSignalSpy answered(&link, &MainLink::answered);
    QSignalSpy refused(&link, &MainLink::refused);
    link.probe();
    if (verdict == QLatin1String("alive")) {
        QVERIFY(answered.wait(2000));
        QCOMPARE(answered.first().at(0).toInt(), peer == 0 ? 200 : 503);
    } else if (verdict == QLatin1String("gone")) {
        QVERIFY(refused.wait(2000));
    } else {
        // A connection dropped without a word is asked once more.
        QTRY_COMPARE(accepted, QtMainLink::kProbeConnections * (peer == 4 ? 2 : 1));
        QVERIFY(!refused.wait(300)); // neither counts: only the limit decides
    }
    QCOMPARE(answered.size() + refused.size(), 1 - int(verdict == QLatin1String("silence")));
}

void TestStandby::nameStopsTheProgram_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("said");
    QTest::newRow("name") << QStringList{"--standby", "main.local:8080"}
                          << QByteArray("--standby main.local:8080");
    // Fencing needs the main to reach the standby's own remote control.
    QTest::newRow("no-remote") << QStringList{"--standby", "127.0.0.1:8080"}
                               << QByteArray("--standby needs --remote");
}

void TestStandby::nameStopsTheProgram()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, said);
    QTemporaryDir dir;
    QProcess console;
    console.setWorkingDirectory(dir.path());
    startConsole(console, arguments);
    QVERIFY(console.waitForFinished(20000));
    QCOMPARE(console.exitCode(), 2);
    QVERIFY(console.readAllStandardError().contains(said));
    QVERIFY(QDir(dir.path()).isEmpty()); // stopped before it took the directory
}

QTEST_MAIN(TestStandby)
#include "tst_standby.moc"
