#include "standby/follower.h"
#include "support/consoleprocess.h"
#include "standby/mainlink.h"
#include "support/remotefixture.h"
#include "countdown/timedstart.h"
#include "rundown/runningorder.h"

#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
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
    using MainLink::probeFailed;

    int opens = 0, aborts = 0, pings = 0, probes = 0;
};

QByteArray state(const char *time, bool running, const char *lamp = "green",
                 const QByteArray &startsAt = QByteArray())
{
    return QByteArray(R"({"time":")") + time + R"(","running":)" + (running ? "true" : "false")
           + R"(,"title":"SHOW","lamp":")" + lamp
           + R"(","displays":[{"address":"127.0.0.2"},{"address":"127.0.0.3"}],"role":"main",)"
           + R"("startsAt":")" + startsAt + R"(",)"
           + R"("zones":{"warning":"00:02:00","danger":"00:00:30"},"blackout":true,)"
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
    QByteArray ofStandby = state("00:10:00", true);
    ofStandby.replace(R"("role":"main")", R"("role":"standby")");
    emit f.link->message(ofStandby);
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
    w.TIM_IP_CON->stop(); // were it running, a tick would be the fault
    QTest::qWait(0);
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
    QTest::addColumn<bool>("closes");       // its push socket closes then too
    QTest::addColumn<int>("probe");         // 0 never answers, 1 refused, 2 answers
    QTest::addColumn<bool>("followed");     // its state came once
    QTest::addColumn<qint64>("takeoverAt"); // -1: none by 8 s
    // Killed: the socket closes, the probe is refused at once.
    QTest::newRow("killed") << qint64(1000) << true << 1 << true << qint64(3000);
    // Frozen or unplugged: silence, and a probe nobody answers within its second.
    QTest::newRow("frozen") << qint64(1000) << false << 0 << true << qint64(4000);
    QTest::newRow("unplugged-socket-closed") << qint64(1000) << true << 0 << true << qint64(4000);
    // Only the link failed: the main answers, the standby stays and connects again.
    QTest::newRow("link-only") << qint64(1000) << true << 2 << true << qint64(-1);
    QTest::newRow("link-stalled") << qint64(1000) << false << 2 << true << qint64(-1);
    // Never followed: nothing to take over with, however dead the main looks.
    QTest::newRow("never-followed") << qint64(0) << true << 1 << false << qint64(-1);
    QTest::newRow("alive") << qint64(8000) << false << 1 << true << qint64(-1);
}

void TestStandby::detection()
{
    QFETCH(qint64, pongsUntil);
    QFETCH(bool, closes);
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
        if (f.now == pongsUntil && closes)
            emit f.link->closed();
        if (f.link->probes > probesSeen) {
            probesSeen = f.link->probes;
            if (probe == 1)
                emit f.link->probeFailed();
            else if (probe == 2)
                emit f.link->answered(200, state("00:10:00", false));
        }
    });
    if (f.follower->state() == Follower::State::TakenOver)
        tookOverAt = f.now;
    // Within one poll of the rule's moment: 2 s of silence, then the probe's 1 s.
    if (takeoverAt < 0)
        QCOMPARE(tookOverAt, qint64(-1));
    else
        QVERIFY2(tookOverAt >= takeoverAt && tookOverAt <= takeoverAt + 100,
                 qPrintable(QString::number(tookOverAt)));
    if (!followed) {
        QCOMPARE(probesSeen, 0);
        QCOMPARE(f.link->opens, 5); // at 0, 2, 4, 6 and 8 s
    }
    if (probe == 2 && pongsUntil < 8000)
        QVERIFY(f.link->opens >= 2); // the push socket opened again
    const bool lost = f.remote.log().contains(QStringLiteral("STANDBY 10.0.0.5:8080= LOST"));
    QCOMPARE(lost, followed && pongsUntil < 8000);
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
            emit f.link->probeFailed();
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
            emit f.link->probeFailed();
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

void TestStandby::nameStopsTheProgram()
{
    QTemporaryDir dir;
    QProcess console;
    console.setWorkingDirectory(dir.path());
    startConsole(console, {"--standby", "main.local:8080"});
    QVERIFY(console.waitForFinished(20000));
    QCOMPARE(console.exitCode(), 2);
    QVERIFY(console.readAllStandardError().contains("--standby main.local:8080"));
    QVERIFY(QDir(dir.path()).isEmpty()); // stopped before it took the directory
}

QTEST_MAIN(TestStandby)
#include "tst_standby.moc"
