// Counting to a time of day and starting at a set time, against the wall clock:
//
//  runat  a start armed 3 s ahead: how far after the wall-clock second Run
//         switched on, and how far after the second after it (the first tick)
//         the first frame reached the last of the displays.
//  until  an until set 20 s ahead with Run on: how far from the target second
//         zero ("------") reached the last of the displays.
//
// Baseline, same run: a bare single-shot Qt::PreciseTimer on its own thread,
// aimed at the same wall-clock instant with one wait.
//
//   rv38t-bench-timeofday [--runs N] [--displays N] [--start-seconds S] [--until-seconds S]
//
// Displays listen on 127.0.0.2.. and read on their own thread. Commands go
// through the remote's own parsing and RemoteHub::execute (no HTTP in between).

#include "peers.h"

#include "app/mainwindow.h"
#include "app/rooms.h"
#include "controls/delayfield.h"
#include "core/qtsockets.h"
#include "countdown/timeofday.h"
#include "links/addresslist.h"
#include "links/supervisor.h"
#include "remote/command.h"
#include "remote/remotehub.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

double wallMs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// The peers' steady-clock stamps on the wall clock.
double steadyToWallMs(std::int64_t steadyNs)
{
    const double offset = wallMs() - double(bench::nowNs()) / 1e6;
    return double(steadyNs) / 1e6 + offset;
}

void pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

bool pumpUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    return done();
}

// A bare precise timer on its own thread, aimed at a wall-clock instant with one wait.
class Baseline
{
public:
    Baseline()
    {
        m_thread.start();
        m_obj.moveToThread(&m_thread);
    }
    ~Baseline()
    {
        m_thread.quit();
        m_thread.wait();
    }
    void aim(double targetMs)
    {
        m_fired = -1;
        QMetaObject::invokeMethod(&m_obj, [this, targetMs] {
            const int wait = int(std::max(0.0, targetMs - wallMs()));
            QTimer::singleShot(wait, Qt::PreciseTimer, &m_obj, [this] { m_fired = wallMs(); });
        });
    }
    double fired() const { return m_fired; }

private:
    QThread m_thread;
    QObject m_obj;
    std::atomic<double> m_fired{-1};
};

Command parsed(const char *path, const QString &body)
{
    const remotecmd::Parsed p = remotecmd::parseCommandBody(path, body.toUtf8());
    if (!p.ok)
        std::fprintf(stderr, "refused %s %s: %s\n", path, qPrintable(body), qPrintable(p.error));
    return p.command;
}

QString timeOfDayIn(int seconds)
{
    return QTime::currentTime().addSecs(seconds).toString(QStringLiteral("HH:mm:ss"));
}

struct Stats
{
    std::vector<double> v;
    double median() const { return bench::quantile(v, 0.5); }
    double worst() const { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }
    double best() const { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }
};

} // namespace

int main(int argc, char **argv)
{
    int runs = 10, displays = 98, startSeconds = 3, untilSeconds = 20; // until: under 59
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--runs"))
            runs = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--displays"))
            displays = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--start-seconds"))
            startSeconds = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--until-seconds"))
            untilSeconds = std::atoi(argv[i + 1]);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    bench::Peers peers;
    const quint16 port = peers.addGroup(1, displays);
    if (!port) {
        std::fprintf(stderr, "no displays on 127.0.0.2..\n");
        return 1;
    }
    peers.start();

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    {
        QFile f(QStringLiteral("LST_IP.CFG"));
        f.open(QIODevice::WriteOnly);
        for (int i = 0; i < displays; ++i)
            f.write(QByteArray::fromStdString(bench::loopbackAddress(i)) + "\r\n");
    }
    QtSocketFactory factory{QStringLiteral("127.0.0.1"), 9}; // recovery frames stay here
    MainWindow window(factory);
    window.supervisor()->setDisplayPort(port);
    window.Form_Load();
    window.show();
    window.supervisor()->TIM_IP_CON_Timer();
    RemoteHub hub;
    wireRemote(window, hub);
    const auto marked = [&] {
        int n = 0;
        for (int i = 0; i < displays; ++i)
            n += window.addressList()->isMarked(i);
        return n == displays;
    };
    if (!pumpUntil(marked, 20000)) {
        std::fprintf(stderr, "displays not connected\n");
        return 1;
    }
    const QString who = QStringLiteral("REMOTE 127.0.0.1");
    const std::int64_t frameBytes = 7 * std::int64_t(displays);
    const auto settle = [&](std::int64_t bytes, int ms = 5000) {
        return pumpUntil([&] { return peers.totalBytes(1) >= bytes; }, ms);
    };

    double switchedOn = -1;
    QObject::connect(window.SW_GO, &QCheckBox::toggled, &window, [&](bool on) {
        if (on)
            switchedOn = wallMs();
    });
    Baseline baseline;

    // Run off and the fields at TIME, every frame of it arrived.
    const auto pausedAt = [&](const char *time) {
        hub.execute(parsed("/api/pause", QString()), who);
        const std::int64_t bytes = peers.totalBytes(1);
        hub.execute(
            parsed("/api/time", QStringLiteral(R"({"time":"%1"})").arg(QLatin1String(time))), who);
        settle(bytes + frameBytes); // only the seconds field changes
    };
    // The wall-clock instant the server aims at for a time of day given at NOW.
    const auto targetOf = [](const QString &timeOfDay, double now) {
        return double(timeofday::nextOccurrence(
            qint64(now), QTime::fromString(timeOfDay, QStringLiteral("HH:mm:ss"))));
    };

    // ---- start at a set time
    Stats on, frame, base;
    for (int r = 0; r < runs; ++r) {
        pausedAt("00:00:10");
        const std::int64_t bytes = peers.totalBytes(1);
        switchedOn = -1;
        const QString at = timeOfDayIn(startSeconds);
        const double now = wallMs();
        hub.execute(parsed("/api/run", QStringLiteral(R"({"at":"%1"})").arg(at)), who);
        const double target = targetOf(at, now);
        baseline.aim(target);
        if (!pumpUntil([&] { return switchedOn > 0; }, (startSeconds + 2) * 1000)) {
            std::fprintf(stderr, "start did not fire\n");
            return 1;
        }
        // The first tick a second later: one frame to each display (10 -> 09).
        if (!settle(bytes + frameBytes)) {
            std::fprintf(stderr, "first frame did not arrive\n");
            return 1;
        }
        const double arrived = steadyToWallMs(peers.lastArrivalNs(1));
        hub.execute(parsed("/api/pause", QString()), who);
        on.v.push_back(switchedOn - target);
        frame.v.push_back(arrived - (target + 1000));
        pumpUntil([&] { return baseline.fired() > 0; }, 1000);
        base.v.push_back(baseline.fired() - target);
    }
    std::printf("runat runs=%d displays=%d on_median_ms=%.2f on_worst_ms=%.2f "
                "frame_median_ms=%.2f frame_worst_ms=%.2f baseline_median_ms=%.2f "
                "baseline_worst_ms=%.2f\n",
                runs, displays, on.median(), on.worst(), frame.median(), frame.worst(),
                base.median(), base.worst());
    std::fflush(stdout);

    // ---- count to a time of day
    Stats zero, ubase;
    for (int r = 0; r < runs; ++r) {
        // Seconds not zero, and only the seconds change from here on: one frame a write.
        pausedAt("00:00:59");
        pump(50);
        const std::int64_t bytes = peers.totalBytes(1);
        hub.execute(parsed("/api/run", QString()), who);
        const QString until = timeOfDayIn(untilSeconds);
        const double now = wallMs();
        hub.execute(parsed("/api/time", QStringLiteral(R"({"until":"%1"})").arg(until)), who);
        const double target = targetOf(until, now);
        baseline.aim(target);
        // The until's own write, then one frame a tick down to zero (under a
        // minute, only the seconds field changes).
        const int left = window.INP_DELAY[2]->text().toInt();
        if (!settle(bytes + frameBytes * (1 + left), (untilSeconds + 5) * 1000)) {
            std::fprintf(stderr, "zero did not arrive\n");
            return 1;
        }
        zero.v.push_back(steadyToWallMs(peers.lastArrivalNs(1)) - target);
        pumpUntil([&] { return baseline.fired() > 0; }, 1000);
        ubase.v.push_back(baseline.fired() - target);
    }
    std::printf("until runs=%d displays=%d seconds=%d zero_median_ms=%.2f zero_worst_ms=%.2f "
                "zero_best_ms=%.2f baseline_median_ms=%.2f baseline_worst_ms=%.2f\n",
                runs, displays, untilSeconds, zero.median(), zero.worst(), zero.best(),
                ubase.median(), ubase.worst());
    peers.stop();
    return 0;
}
