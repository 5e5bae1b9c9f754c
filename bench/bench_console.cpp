// The whole window at work: LST_IP.CFG of the current directory loaded, every
// display connected (on --port), the countdown running from 99:59:59. Each
// tick's time is recorded against start + k x 1000 ms; a bare
// Qt::PreciseTimer on its own thread is recorded alongside as the baseline.
// CPU and memory are read from outside (scripts/bench) while it runs.
//
//   rv38t-bench-console --seconds N [--port P] [--udp-port U] [--ticks FILE]
//                       [--samples FILE] [--cycles N]
//
// --samples FILE: one line a second: seconds since the start, displays marked,
// open descriptors, resident KB, socket states (state:count,...), log lines so
// far, heap in use (KB), and any log line of that second other than "= CONNECT".
// --cycles N: the operator drops every connected display (unticks its entry)
// until N connects have followed, then the console settles with all displays
// connected again; descriptors and memory are printed before, after the first
// tenth, and after all N. Ends then, or after --seconds if that comes first.
//
// Run it inside a private network namespace: a display that fails four
// times makes the window send a recovery datagram (to 127.0.0.1:U here).

#include "peers.h"

#include "aids/eventlog.h"
#include "app/mainwindow.h"
#include "links/addresslist.h"
#include "core/qtsockets.h"
#include "core/socketarray.h"
#include "links/supervisor.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>

#include "controls/controls.h"
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <map>

namespace {

struct Fit
{
    double slopeMsPerMin = 0;
    double maxAbs = 0;
    double median = 0;
    double p99 = 0;
};

// Offsets (ms) of tick k from start + k*1000, least-squares slope over time.
Fit fit(const std::vector<std::int64_t> &ticks, std::int64_t start)
{
    Fit f;
    std::vector<double> off, absOff;
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t k = 0; k < ticks.size(); ++k) {
        const double x = double(k + 1) / 60.0; // minutes
        const double y = double(ticks[k] - start) / 1e6 - double(k + 1) * 1000.0;
        off.push_back(y);
        absOff.push_back(std::fabs(y));
        sx += x, sy += y, sxx += x * x, sxy += x * y;
    }
    const double n = double(off.size());
    if (n >= 2)
        f.slopeMsPerMin = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    f.maxAbs = absOff.empty() ? 0 : *std::max_element(absOff.begin(), absOff.end());
    f.median = bench::quantile(off, 0.5);
    f.p99 = bench::quantile(absOff, 0.99);
    return f;
}

qint64 residentKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Bytes the heap holds for live allocations: growth here is objects kept,
// growth of resident memory without it is the allocator's own.
qint64 heapInUseKb()
{
#if defined(__GLIBC__)
    return qint64(mallinfo2().uordblks / 1024);
#else
    return -1;
#endif
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::NoDotAndDotDot | QDir::AllEntries)
                   .size());
}

} // namespace

int main(int argc, char **argv)
{
    int seconds = 65;
    quint16 port = 1024, udpPort = 9;
    const char *ticksFile = nullptr;
    const char *samplesFile = nullptr;
    long cycles = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--port"))
            port = quint16(std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--udp-port"))
            udpPort = quint16(std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--ticks"))
            ticksFile = argv[i + 1];
        else if (!std::strcmp(argv[i], "--samples"))
            samplesFile = argv[i + 1];
        else if (!std::strcmp(argv[i], "--cycles"))
            cycles = std::atol(argv[i + 1]);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QtSocketFactory factory(QStringLiteral("127.0.0.1"), udpPort);
    MainWindow window(factory);
    window.supervisor()->setDisplayPort(port);
    window.Form_Load();
    window.show();

    const int entries = window.addressList()->count();
    QElapsedTimer waited;
    waited.start();
    auto marked = [&] {
        int m = 0;
        for (int i = 0; i < entries; ++i)
            m += window.addressList()->isMarked(i);
        return m;
    };
    while (marked() < entries && waited.elapsed() < 15000)
        app.processEvents(QEventLoop::AllEvents, 100);
    std::printf("console entries=%d marked=%d after_ms=%lld\n", entries, marked(),
                static_cast<long long>(waited.elapsed()));
    std::fflush(stdout);

    // The baseline: a bare precise timer on a thread of its own.
    std::vector<std::int64_t> baseTicks;
    std::int64_t baseStart = 0;
    QThread baseThread;
    QTimer *baseTimer = new QTimer;
    baseTimer->setTimerType(Qt::PreciseTimer);
    baseTimer->setInterval(1000);
    baseTimer->moveToThread(&baseThread);
    QObject::connect(
        baseTimer, &QTimer::timeout, baseTimer, [&] { baseTicks.push_back(bench::nowNs()); },
        Qt::DirectConnection);
    QObject::connect(&baseThread, &QThread::finished, baseTimer, &QObject::deleteLater);
    baseThread.start();

    // The countdown's tick ends with the seconds field written.
    std::vector<std::int64_t> ticks;
    QObject::connect(window.INP_DELAY[2], &QLineEdit::textChanged, &app,
                     [&] { ticks.push_back(bench::nowNs()); });
    window.INP_DELAY[0]->setText(QStringLiteral("99"));
    window.INP_DELAY[1]->setText(QStringLiteral("59"));
    window.INP_DELAY[2]->setText(QStringLiteral("59"));
    ticks.clear();

    const std::int64_t start = bench::nowNs();
    window.SW_GO->setChecked(true);
    QMetaObject::invokeMethod(
        baseTimer,
        [&] {
            baseStart = bench::nowNs();
            baseTimer->start();
        },
        Qt::BlockingQueuedConnection);
    std::printf("console running\n");
    std::fflush(stdout);

    // Every line the event log gains, kept here because the log itself holds
    // only its latest few dozen: a lost mark is traced to its cause (a close
    // by the display, or the socket's error text) from the lines around it.
    // Kept bounded, so a long soak measures the console and not this harness:
    // the latest 200 lines, the 400 around the first lost mark, a count of each
    // message, the connects, and the trouble lines not yet sampled.
    std::deque<QString> recentLines;
    std::vector<QString> aroundDrop;
    bool dropSeen = false;
    std::map<QString, long> tally;
    std::size_t logTotal = 0;
    long connectLines = 0;
    QString unsampledTrouble;
    QString lastLine;
    QObject::connect(window.INP_LOG, &QPlainTextEdit::textChanged, &app, [&] {
        for (QTextBlock b = window.INP_LOG->document()->lastBlock(); b.isValid();
             b = b.previous()) {
            if (b.text().isEmpty())
                continue;
            const QString line = b.text();
            if (line == lastLine)
                break;
            lastLine = line;
            ++logTotal;
            ++tally[line.mid(line.indexOf(QLatin1Char('=')) + 1).trimmed()];
            if (line.endsWith(QStringLiteral("= CONNECT")))
                ++connectLines;
            else
                unsampledTrouble += QStringLiteral(" | ") + line;
            if (dropSeen && aroundDrop.size() < 400)
                aroundDrop.push_back(line);
            recentLines.push_back(line);
            if (recentLines.size() > 200)
                recentLines.pop_front();
            break;
        }
    });

    // Every second: the fewest displays marked, and when one first went.
    int fewest = entries;
    qint64 firstDropMs = -1;
    QElapsedTimer running;
    running.start();
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &app, [&] {
        const int m = marked();
        if (m < entries && firstDropMs < 0) {
            firstDropMs = running.elapsed();
            dropSeen = true;
            aroundDrop.assign(recentLines.begin(), recentLines.end());
        }
        fewest = std::min(fewest, m);
    });
    watch.start(1000);

    // One line a second for the soaks: marks, descriptors, memory, socket
    // states, and what the log said.
    FILE *samples = samplesFile ? std::fopen(samplesFile, "w") : nullptr;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, &app, [&] {
        std::map<int, int> states;
        for (int i = 0; i < entries; ++i)
            ++states[int(window.TCPIP_TCP->state(i))];
        QString stateText;
        for (const auto &[state, count] : states)
            stateText += QStringLiteral("%1%2:%3")
                             .arg(stateText.isEmpty() ? "" : ",")
                             .arg(state)
                             .arg(count);
        const QString trouble = unsampledTrouble;
        unsampledTrouble.clear();
        std::fprintf(samples, "%.1f %d %d %lld %s %zu %lld%s\n", double(running.elapsed()) / 1000.0,
                     marked(), openDescriptors(), static_cast<long long>(residentKb()),
                     qPrintable(stateText), logTotal, static_cast<long long>(heapInUseKb()),
                     qPrintable(trouble));
        std::fflush(samples);
    });
    if (samples)
        sampler.start(1000);

    // Connect/close cycles driven as the operator drops a display: untick its
    // entry, and the supervisor connects it again at its next tick.
    if (cycles > 0) {
        auto connects = [&] { return connectLines; };
        const long connectsBefore = connects();
        const int fdsBefore = openDescriptors();
        const qint64 rssBefore = residentKb();
        const qint64 heapBefore = heapInUseKb();
        int fdsTenth = -1;
        qint64 rssTenth = -1, heapTenth = -1;
        long done = 0;
        QElapsedTimer cycling;
        cycling.start();
        QTimer dropper;
        QObject::connect(&dropper, &QTimer::timeout, &app, [&] {
            done = connects() - connectsBefore;
            if (fdsTenth < 0 && done >= cycles / 10 && marked() == entries) {
                fdsTenth = openDescriptors();
                rssTenth = residentKb();
                heapTenth = heapInUseKb();
            }
            // A run whose displays never answer ends after --seconds instead of never.
            if (done >= cycles || (seconds > 0 && cycling.elapsed() > seconds * 1000LL)) {
                dropper.stop();
                // Settled: every display connected again, and a few ticks more.
                QElapsedTimer settle;
                settle.start();
                while (marked() < entries && settle.elapsed() < 30000)
                    app.processEvents(QEventLoop::AllEvents, 100);
                QTimer::singleShot(5000, &app, &QCoreApplication::quit);
                return;
            }
            for (int i = 0; i < entries; ++i) {
                if (!window.addressList()->isMarked(i))
                    continue;
                window.LST_IP->setCurrentRow(i);
                window.addressList()->setMarked(i, false);
                window.addressList()->LST_IP_Click();
            }
        });
        dropper.start(250);
        app.exec();
        QMetaObject::invokeMethod(
            baseTimer, [&] { baseTimer->stop(); }, Qt::BlockingQueuedConnection);
        baseThread.quit();
        baseThread.wait();
        std::printf(
            "cycles n=%ld seconds=%.1f marked=%d of %d fds_before=%d fds_tenth=%d fds_after=%d "
            "rss_kb_before=%lld rss_kb_tenth=%lld rss_kb_after=%lld "
            "heap_kb_before=%lld heap_kb_tenth=%lld heap_kb_after=%lld\n",
            connects() - connectsBefore, double(cycling.elapsed()) / 1000.0, marked(), entries,
            fdsBefore, fdsTenth, openDescriptors(), static_cast<long long>(rssBefore),
            static_cast<long long>(rssTenth), static_cast<long long>(residentKb()),
            static_cast<long long>(heapBefore), static_cast<long long>(heapTenth),
            static_cast<long long>(heapInUseKb()));
        std::fflush(stdout);
        return 0;
    }

    QTimer::singleShot(seconds * 1000 + 500, &app, &QCoreApplication::quit);
    app.exec();
    QMetaObject::invokeMethod(
        baseTimer, [&] { baseTimer->stop(); }, Qt::BlockingQueuedConnection);
    baseThread.quit();
    baseThread.wait();

    const Fit c = fit(ticks, start);
    const Fit b = fit(baseTicks, baseStart);
    std::printf(
        "tick console n=%zu median_ms=%.3f p99_abs_ms=%.3f max_abs_ms=%.3f slope_ms_per_min=%.4f\n",
        ticks.size(), c.median, c.p99, c.maxAbs, c.slopeMsPerMin);
    std::printf("tick baseline n=%zu median_ms=%.3f p99_abs_ms=%.3f max_abs_ms=%.3f "
                "slope_ms_per_min=%.4f\n",
                baseTicks.size(), b.median, b.p99, b.maxAbs, b.slopeMsPerMin);
    std::printf("console still_marked=%d fewest_marked=%d first_drop_ms=%lld of %d\n", marked(),
                fewest, static_cast<long long>(firstDropMs), entries);
    // From a few lines before the first drop, and how often each message came.
    if (firstDropMs >= 0) {
        for (const QString &line : aroundDrop)
            std::printf("log %s\n", qPrintable(line));
        for (const auto &[message, count] : tally)
            std::printf("log_tally %ld %s\n", count, qPrintable(message));
    }
    if (ticksFile) {
        if (FILE *f = std::fopen(ticksFile, "w")) {
            for (std::size_t k = 0; k < ticks.size(); ++k)
                std::fprintf(f, "%zu %.3f\n", k + 1,
                             double(ticks[k] - start) / 1e6 - double(k + 1) * 1000.0);
            std::fclose(f);
        }
    }
    return 0;
}
