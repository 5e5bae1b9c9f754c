// Fan-out latency: from a write to a countdown field until the last of 98
// loopback displays holds the whole frame, through the whole window (its
// address list, connection supervisor, frame sender and Qt socket layer).
// Baseline: the same 7 bytes written by hand on 98 bare QTcpSockets.
// Rounds alternate console and baseline so both see the same machine.
//
//   rv38t-bench-fanout [--changes N] [--rounds R]
//
// Run it where 127.0.0.2..99 are free; it reaches no other address.

#include "peers.h"

#include "app/mainwindow.h"
#include "links/addresslist.h"
#include "core/qtsockets.h"
#include "links/supervisor.h"

#include <QApplication>
#include <QElapsedTimer>

#include "controls/controls.h"
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {

constexpr int kDisplays = 98;
constexpr int kFrameBytes = 7;
enum Group { ConsoleGroup = 1, BaselineGroup = 2 };

// Waits, running the event loop, until the peers report every armed
// connection complete; false after timeoutMs.
bool waitAll(QEventLoop &loop, bool &done, int timeoutMs)
{
    if (done)
        return true;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(timeoutMs);
    loop.exec();
    return done;
}

struct Stats
{
    double median = 0, p99 = 0;
};

Stats stats(const std::vector<double> &v)
{
    return {bench::quantile(v, 0.5), bench::quantile(v, 0.99)};
}

} // namespace

int main(int argc, char **argv)
{
    int changes = 250, rounds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--changes"))
            changes = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::atoi(argv[i + 1]);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    bench::Peers peers;
    const quint16 consolePort = peers.addGroup(ConsoleGroup, kDisplays);
    const quint16 basePort = peers.addGroup(BaselineGroup, kDisplays);
    if (!consolePort || !basePort) {
        std::fprintf(stderr, "cannot listen on 127.0.0.2..99\n");
        return 1;
    }
    QEventLoop loop;
    bool done = false;
    peers.onAllReached = [&] {
        QMetaObject::invokeMethod(
            &loop,
            [&] {
                done = true;
                loop.quit();
            },
            Qt::QueuedConnection);
    };
    peers.start();

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    {
        QFile f(QStringLiteral("LST_IP.CFG"));
        f.open(QIODevice::WriteOnly);
        for (int i = 0; i < kDisplays; ++i)
            f.write(QByteArray::fromStdString(bench::loopbackAddress(i)) + "\r\n");
    }
    // Recovery frames, should any go, stay on loopback.
    QtSocketFactory factory(QStringLiteral("127.0.0.1"), 9);
    MainWindow window(factory);
    window.supervisor()->setDisplayPort(consolePort);
    window.Form_Load();
    window.show();
    window.supervisor()->TIM_IP_CON_Timer();

    std::vector<std::unique_ptr<QTcpSocket>> bare;
    for (int i = 0; i < kDisplays; ++i) {
        bare.push_back(std::make_unique<QTcpSocket>());
        bare.back()->connectToHost(QString::fromStdString(bench::loopbackAddress(i)), basePort);
    }

    // Everything connected and marked, and nothing in flight.
    QElapsedTimer settle;
    settle.start();
    auto ready = [&] {
        int marked = 0;
        for (int i = 0; i < kDisplays; ++i)
            marked += window.addressList()->isMarked(i);
        int up = 0;
        for (auto &s : bare)
            up += s->state() == QAbstractSocket::ConnectedState;
        return marked == kDisplays && up == kDisplays
               && peers.connections(ConsoleGroup) == kDisplays
               && peers.connections(BaselineGroup) == kDisplays;
    };
    while (!ready() && settle.elapsed() < 20000)
        app.processEvents(QEventLoop::AllEvents, 50);
    if (!ready()) {
        std::fprintf(stderr, "displays did not all connect\n");
        return 1;
    }
    for (int i = 0; i < 20; ++i)
        app.processEvents(QEventLoop::AllEvents, 10);

    QLineEdit *seconds = window.INP_DELAY[2];
    const QByteArray frame = QByteArray(1, '\xC7') + "000000";
    int value = 0;
    std::vector<double> roundMedC, roundP99C, roundMedB, roundP99B, allC, allB;
    int failures = 0;
    auto measure = [&](Group group) {
        std::vector<double> lat;
        for (int k = 0; k < changes; ++k) {
            // A short pause between changes, as between typed characters.
            QTimer::singleShot(1, &loop, &QEventLoop::quit);
            loop.exec();
            done = false;
            peers.arm(group, kFrameBytes);
            const std::int64_t t0 = bench::nowNs();
            if (group == ConsoleGroup) {
                value = (value + 1) % 60;
                seconds->setText(QString::asprintf("%02d", value));
            } else {
                for (auto &s : bare)
                    s->write(frame);
            }
            if (!waitAll(loop, done, 5000)) {
                ++failures;
                continue;
            }
            lat.push_back(double(peers.lastArrivalNs(group) - t0) / 1e6);
        }
        return lat;
    };
    for (int r = 0; r < rounds; ++r) {
        const auto c = measure(ConsoleGroup);
        const auto b = measure(BaselineGroup);
        roundMedC.push_back(stats(c).median);
        roundP99C.push_back(stats(c).p99);
        roundMedB.push_back(stats(b).median);
        roundP99B.push_back(stats(b).p99);
        allC.insert(allC.end(), c.begin(), c.end());
        allB.insert(allB.end(), b.begin(), b.end());
    }
    auto minmax = [](const std::vector<double> &v) {
        return std::make_pair(*std::min_element(v.begin(), v.end()),
                              *std::max_element(v.begin(), v.end()));
    };
    const double medC = bench::quantile(roundMedC, 0.5), medB = bench::quantile(roundMedB, 0.5);
    const double p99C = bench::quantile(roundP99C, 0.5), p99B = bench::quantile(roundP99B, 0.5);
    std::printf("fanout displays=%d changes_per_round=%d rounds=%d lost=%d\n", kDisplays, changes,
                rounds, failures);
    std::printf(
        "fanout console_median_ms=%.3f spread=%.3f..%.3f console_p99_ms=%.3f spread=%.3f..%.3f\n",
        medC, minmax(roundMedC).first, minmax(roundMedC).second, p99C, minmax(roundP99C).first,
        minmax(roundP99C).second);
    std::printf(
        "fanout baseline_median_ms=%.3f spread=%.3f..%.3f baseline_p99_ms=%.3f spread=%.3f..%.3f\n",
        medB, minmax(roundMedB).first, minmax(roundMedB).second, p99B, minmax(roundP99B).first,
        minmax(roundP99B).second);
    std::printf(
        "fanout ratio_median=%.2f ratio_p99=%.2f max_console_ms=%.3f max_baseline_ms=%.3f\n",
        medB > 0 ? medC / medB : 0, p99B > 0 ? p99C / p99B : 0,
        *std::max_element(allC.begin(), allC.end()), *std::max_element(allB.begin(), allB.end()));
    peers.stop();
    return failures ? 1 : 0;
}
