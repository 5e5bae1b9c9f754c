#include "support/consoleprocess.h"
#include "support/netns.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTime>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <optional>

// The real programs: the main console in a network namespace of its own, its
// standby and one simulated display in the test's. The main dies three ways;
// the display must show the running countdown again within 4 s, at the main's
// time within 1 s, and must never hear from the standby while the main lives.
namespace {

const QString kMain = NamespacePair::kDisplayAddress; // the main's own namespace
const QString kHere = NamespacePair::kConsoleAddress; // standby and display
const quint16 kMainRemote = 8080;                     // a namespace of our own: no clash
const quint16 kStandbyRemote = 8081;
const QString kTable = QStringLiteral("rv38t_standby");

// Cut: not a death. The main lives and still reaches the display; only the
// link between the two consoles is cut (split brain).
enum class Death { Kill, Stop, Drop, Cut };

int seconds(const QString &hhmmss)
{
    return hhmmss.left(2).toInt() * 3600 + hhmmss.mid(2, 2).toInt() * 60 + hhmmss.mid(4, 2).toInt();
}

// One request, the whole answer ("Connection: close"); empty when none came.
QByteArray http(const QString &host, quint16 port, const QByteArray &method, const QByteArray &path,
                const QByteArray &body = {})
{
    QTcpSocket s;
    s.connectToHost(host, port);
    if (!s.waitForConnected(2000))
        return {};
    s.write(method + ' ' + path + " HTTP/1.1\r\nHost: " + host.toLatin1() + ':'
            + QByteArray::number(port) + "\r\nAuthorization: Bearer show\r\n"
            + "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size())
            + "\r\nConnection: close\r\n\r\n" + body);
    QByteArray answer;
    while (s.waitForReadyRead(2000))
        answer += s.readAll();
    return answer;
}

QJsonObject stateOf(const QString &host, quint16 port)
{
    const QByteArray a = http(host, port, "GET", "/api/state");
    return QJsonDocument::fromJson(a.mid(a.indexOf("\r\n\r\n") + 4)).object();
}

struct Event
{
    QTime at;
    QString what; // "frame", "connected", "udp"
    QString text; // the frame's six characters, or the peer
};

} // namespace

class TestTakeover : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void takeover_data();
    void takeover();
    void lossyLinkIsNoDeath();
    void benchKills();

private:
    void startShow();
    // Kills the main as `death` says; returns the moment it died.
    QTime kill(Death death);
    struct Outcome
    {
        qint64 gapMs = -1; // from the death to the standby's first frame
        int errorS = 99;   // that frame against where the main would be
        bool runsOn = false;
    };
    Outcome watchTakeover(const QTime &death);
    QList<Event> events() const { return m_events; }
    bool standbyHeardBefore(const QTime &until) const;

    std::optional<NamespacePair> m_net;
    bool m_nft = false;
    std::optional<QTemporaryDir> m_dirs;
    std::optional<QProcess> m_sim, m_main, m_standby;
    QByteArray m_simOut;
    QList<Event> m_events;
};

void TestTakeover::initTestCase()
{
    m_net.emplace(QStringLiteral("rv38t-tko-"));
    if (!m_net->isValid())
        QSKIP(qPrintable(m_net->why() + QStringLiteral("; skipped")));
    m_nft = m_net->nftInDisplay(QStringLiteral("table inet %1\ndelete table inet %1\n").arg(kTable))
                .isEmpty();
}

void TestTakeover::cleanup()
{
    for (auto *p : {&m_standby, &m_main, &m_sim}) {
        // processId() is 0 once it has ended, and kill(0) would hit the test itself.
        if (*p && (*p)->processId() > 0) {
            ::kill(static_cast<pid_t>((*p)->processId()), SIGKILL);
            ::kill(static_cast<pid_t>((*p)->processId()), SIGCONT);
            (*p)->waitForFinished(5000);
        }
        p->reset();
    }
    if (m_nft)
        m_net->nftInDisplay(QStringLiteral("table inet %1\ndelete table inet %1\n").arg(kTable));
    m_dirs.reset();
    m_simOut.clear();
    m_events.clear();
}

void TestTakeover::startShow()
{
    QVERIFY(m_dirs.emplace().isValid());
    QDir(m_dirs->path()).mkdir(QStringLiteral("main"));
    QDir(m_dirs->path()).mkdir(QStringLiteral("standby"));
    QFile list(m_dirs->filePath(QStringLiteral("main/LST_IP.CFG")));
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write(kHere.toLatin1() + "\r\n");
    list.close();

    m_sim.emplace();
    m_sim->setProgram(
        QFileInfo(consoleProgram()).dir().filePath(QStringLiteral("rv38t-display-sim")));
    m_sim->setArguments({"--headless", "--listen", kHere});
    connect(&*m_sim, &QProcess::readyReadStandardOutput, this, [this] {
        m_simOut += m_sim->readAllStandardOutput();
        qsizetype end;
        while ((end = m_simOut.indexOf('\n')) >= 0) {
            const QString line = QString::fromLatin1(m_simOut.left(end));
            m_simOut.remove(0, end + 1);
            const QStringList parts = line.split(QLatin1Char(' '));
            if (parts.size() < 3)
                continue;
            Event e{QTime::fromString(parts[0], QStringLiteral("HH:mm:ss.zzz")), parts[2],
                    parts.value(3)};
            if (e.what == QLatin1String("frame"))
                e.text = e.text.mid(1, 6);
            if (parts[1] == QLatin1String("udp") && e.what != QLatin1String("listening"))
                e.what = QStringLiteral("udp");
            m_events.append(e);
        }
    });
    m_sim->start();
    QTRY_VERIFY_WITH_TIMEOUT(m_simOut.contains("listening") || !m_events.isEmpty(), 10000);

    m_main.emplace();
    m_main->setStandardOutputFile(QProcess::nullDevice());
    QVERIFY(m_net->inDisplayNamespace([&] {
        startConsole(*m_main, {"--remote", kMain + ":" + QString::number(kMainRemote),
                               "--remote-token", "show", "--dir", m_dirs->filePath("main")});
    }));
    QTRY_VERIFY_WITH_TIMEOUT(!stateOf(kMain, kMainRemote).isEmpty(), 15000);
    http(kMain, kMainRemote, "POST", "/api/time", R"({"time":"00:30:00"})");
    http(kMain, kMainRemote, "POST", "/api/run", "{}");
    QTRY_VERIFY_WITH_TIMEOUT(stateOf(kMain, kMainRemote).value("lamp").toString() == "green",
                             10000);

    m_standby.emplace();
    m_standby->setStandardOutputFile(QProcess::nullDevice());
    startConsole(*m_standby, {"--standby", kMain + ":" + QString::number(kMainRemote), "--remote",
                              "127.0.0.1:" + QString::number(kStandbyRemote), "--dir",
                              m_dirs->filePath("standby")});
    // Following: the main's list and Run have come over.
    QTRY_VERIFY_WITH_TIMEOUT(
        stateOf("127.0.0.1", kStandbyRemote).value("running").toBool()
            && stateOf("127.0.0.1", kStandbyRemote).value("displays").toArray().size() == 1,
        15000);
    const QJsonObject s = stateOf("127.0.0.1", kStandbyRemote);
    QCOMPARE(s.value("role").toString(), QStringLiteral("standby"));
    QCOMPARE(s.value("following").toString(), kMain + ":" + QString::number(kMainRemote));
    const QByteArray refused = http("127.0.0.1", kStandbyRemote, "POST", "/api/pause", "{}");
    QVERIFY2(refused.startsWith("HTTP/1.1 409"), refused.constData());
}

bool TestTakeover::standbyHeardBefore(const QTime &until) const
{
    for (const Event &e : m_events) {
        if (until.isValid() && e.at > until)
            break;
        if (e.what == QLatin1String("udp")
            || (e.what == QLatin1String("connected") && e.text.startsWith(kHere + ':')))
            return true;
    }
    return false;
}

QTime TestTakeover::kill(Death death)
{
    const QTime at = QTime::currentTime();
    switch (death) {
    case Death::Kill:
        ::kill(static_cast<pid_t>(m_main->processId()), SIGKILL);
        break;
    case Death::Stop:
        ::kill(static_cast<pid_t>(m_main->processId()), SIGSTOP);
        break;
    case Death::Drop:
        m_net->nftInDisplay(QStringLiteral("table inet %1 {\n"
                                           " chain in { type filter hook input priority 0; "
                                           "iifname \"%2\" drop; }\n"
                                           " chain out { type filter hook output priority 0; "
                                           "oifname \"%2\" drop; }\n}\n")
                                .arg(kTable, NamespacePair::kDisplayLink));
        break;
    case Death::Cut:
        m_net->nftInDisplay(QStringLiteral("table inet %1 {\n"
                                           " chain in { type filter hook input priority 0; "
                                           "tcp dport %2 drop; }\n"
                                           " chain out { type filter hook output priority 0; "
                                           "tcp sport %2 drop; }\n}\n")
                                .arg(kTable)
                                .arg(kMainRemote));
        break;
    }
    return at;
}

TestTakeover::Outcome TestTakeover::watchTakeover(const QTime &death)
{
    Outcome o;
    // The main's last complete value before it died: a tick's last frame.
    int lastValue = -1;
    QTime lastAt;
    qsizetype standbyAt = -1;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 8000 && standbyAt < 0) {
        QTest::qWait(50);
        for (qsizetype i = 0; i < m_events.size(); ++i) {
            const Event &e = m_events[i];
            if (e.what == QLatin1String("connected") && e.text.startsWith(kHere + ':')
                && e.at >= death) {
                for (qsizetype j = i + 1; j < m_events.size() && standbyAt < 0; ++j)
                    if (m_events[j].what == QLatin1String("frame"))
                        standbyAt = j;
                break;
            }
        }
    }
    for (const Event &e : std::as_const(m_events)) {
        if (e.at > death)
            break;
        if (e.what == QLatin1String("frame")) {
            lastValue = seconds(e.text);
            lastAt = e.at;
        }
    }
    if (standbyAt < 0 || lastValue < 0)
        return o;
    const Event first = m_events[standbyAt];
    o.gapMs = death.msecsTo(first.at);
    const int expected = lastValue - static_cast<int>(lastAt.msecsTo(first.at) / 1000);
    o.errorS = seconds(first.text) - expected;
    // It runs on: the next second comes within a tick and a half.
    const auto next = [&] {
        return std::any_of(m_events.begin() + standbyAt + 1, m_events.end(), [&](const Event &e) {
            return e.what == QLatin1String("frame") && seconds(e.text) == seconds(first.text) - 1;
        });
    };
    waited.restart();
    while (!next() && waited.elapsed() < 2500)
        QTest::qWait(50);
    o.runsOn = next();
    return o;
}

void TestTakeover::takeover_data()
{
    QTest::addColumn<int>("death");
    QTest::newRow("sigkill") << int(Death::Kill);
    QTest::newRow("sigstop") << int(Death::Stop);
    QTest::newRow("packets-dropped") << int(Death::Drop);
    QTest::newRow("split-brain") << int(Death::Cut);
}

void TestTakeover::takeover()
{
    QFETCH(int, death);
    if ((death == int(Death::Drop) || death == int(Death::Cut)) && !m_nft)
        QSKIP("nftables does not work in a namespace here; skipped");
    startShow();
    if (QTest::currentTestFailed())
        return;
    QTest::qWait(3000); // the show runs a while; the standby only watches
    QVERIFY2(!standbyHeardBefore(QTime()), "the standby spoke to the display while the main lived");

    const QTime died = kill(Death(death));
    const Outcome o = watchTakeover(died);
    qInfo().noquote() << QStringLiteral("takeover: first frame %1 ms after the death, %2 s off")
                             .arg(o.gapMs)
                             .arg(o.errorS);
    QVERIFY2(o.gapMs >= 0 && o.gapMs <= 4000, qPrintable(QString::number(o.gapMs)));
    QVERIFY2(qAbs(o.errorS) <= 1, qPrintable(QString::number(o.errorS)));
    QVERIFY(o.runsOn);
    if (death == int(Death::Cut)) {
        // Both drive the display now: what it shows for the next 3 s, frame by frame.
        const QTime from = QTime::currentTime();
        QTest::qWait(3000);
        QStringList shown;
        for (const Event &e : std::as_const(m_events))
            if (e.what == QLatin1String("frame") && e.at >= from)
                shown.append(e.at.toString(QStringLiteral("ss.zzz")) + QLatin1Char(' ') + e.text);
        qInfo().noquote() << "split brain, the display's frames:"
                          << shown.join(QStringLiteral(", "));
        // The main, cut off from us too, cannot be asked; it still drives the display.
        QVERIFY(!shown.isEmpty());
    }
    QCOMPARE(stateOf("127.0.0.1", kStandbyRemote).value("role").toString(), QStringLiteral("main"));
    QFile saved(m_dirs->filePath(QStringLiteral("standby/LST_IP.CFG")));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), kHere.toLatin1() + "\r\n");
}

void TestTakeover::lossyLinkIsNoDeath()
{
    if (!m_nft)
        QSKIP("nftables does not work in a namespace here; skipped");
    // RV38T_SOAK=1 (scripts/soak) runs the full ten minutes.
    const int runSeconds = qEnvironmentVariableIntValue("RV38T_SOAK") > 0 ? 600 : 60;
    startShow();
    if (QTest::currentTestFailed())
        return;
    // One packet in ten dropped at random, each way, between the two consoles only.
    QCOMPARE(m_net->nftInDisplay(
                 QStringLiteral("table inet %1 {\n"
                                " chain in { type filter hook input priority 0; tcp dport %2 "
                                "numgen random mod 10 < 1 drop; }\n"
                                " chain out { type filter hook output priority 0; tcp sport %2 "
                                "numgen random mod 10 < 1 drop; }\n}\n")
                     .arg(kTable)
                     .arg(kMainRemote)),
             QString());
    QTest::qWait(runSeconds * 1000); // the loss runs its length; nothing else to wait for
    QVERIFY2(!standbyHeardBefore(QTime()), "the standby took over from a living main");
    QCOMPARE(stateOf("127.0.0.1", kStandbyRemote).value("role").toString(),
             QStringLiteral("standby"));
    qInfo() << runSeconds << "s at 10 % loss each way between the consoles: no takeover";
}

void TestTakeover::benchKills()
{
    // scripts/bench --only standby: RV38T_BENCH_KILLS=20.
    const int kills = qEnvironmentVariableIntValue("RV38T_BENCH_KILLS");
    if (kills <= 0)
        QSKIP("RV38T_BENCH_KILLS not set: the benchmark's own case");
    QList<qint64> gaps;
    QList<int> errors;
    for (int i = 0; i < kills; ++i) {
        startShow();
        if (QTest::currentTestFailed())
            return;
        // A death at any moment of the second, not always just after a tick.
        QTest::qWait(2000 + QRandomGenerator::global()->bounded(1000));
        const Outcome o = watchTakeover(kill(Death::Kill));
        qInfo().noquote()
            << QStringLiteral("kill %1: %2 ms, %3 s off").arg(i + 1).arg(o.gapMs).arg(o.errorS);
        QVERIFY(o.gapMs >= 0);
        gaps.append(o.gapMs);
        errors.append(o.errorS);
        cleanup();
    }
    std::sort(gaps.begin(), gaps.end());
    int worstError = 0;
    for (int e : errors)
        worstError = qMax(worstError, qAbs(e));
    qInfo().noquote() << QStringLiteral("RESULT kills=%1 gap-median-ms=%2 gap-worst-ms=%3 "
                                        "error-worst-s=%4 floor-ms=3000")
                             .arg(kills)
                             .arg(gaps[gaps.size() / 2])
                             .arg(gaps.last())
                             .arg(worstError);
}

QTEST_GUILESS_MAIN(TestTakeover)
#include "tst_takeover.moc"
