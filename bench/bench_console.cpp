// The whole window at work: LST_IP.CFG of the current directory loaded, every
// display connected (on --port), the countdown running from 99:59:59. Each
// tick's time is recorded against start + k x 1000 ms; a bare
// Qt::PreciseTimer on its own thread is recorded alongside as the baseline.
// CPU and memory are read from outside (scripts/bench) while it runs.
//
//   rv38t-bench-console --seconds N [--port P] [--udp-port U] [--ticks FILE]
//
// Run it inside a private network namespace: a display that fails four
// times makes the window send a recovery datagram (to 127.0.0.1:U here).

#include "peers.h"

#include "aids/eventlog.h"
#include "app/mainwindow.h"
#include "links/addresslist.h"
#include "core/qtsockets.h"
#include "links/supervisor.h"

#include <QApplication>
#include <QElapsedTimer>

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

} // namespace

int main(int argc, char **argv)
{
    int seconds = 65;
    quint16 port = 1024, udpPort = 9;
    const char *ticksFile = nullptr;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--port"))
            port = quint16(std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--udp-port"))
            udpPort = quint16(std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--ticks"))
            ticksFile = argv[i + 1];
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
    QObject::connect(baseTimer, &QTimer::timeout, baseTimer,
                     [&] { baseTicks.push_back(bench::nowNs()); }, Qt::DirectConnection);
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
    QMetaObject::invokeMethod(baseTimer, [&] {
        baseStart = bench::nowNs();
        baseTimer->start();
    }, Qt::BlockingQueuedConnection);
    std::printf("console running\n");
    std::fflush(stdout);

    // Every line the event log gains, kept here because the log itself holds
    // only its latest few dozen: a lost mark is traced to its cause (a close
    // by the display, or the socket's error text) from the lines around it.
    std::vector<QString> logLines;
    QObject::connect(window.INP_LOG, &QPlainTextEdit::textChanged, &app, [&] {
        for (QTextBlock b = window.INP_LOG->document()->lastBlock(); b.isValid(); b = b.previous()) {
            if (!b.text().isEmpty()) {
                if (logLines.empty() || logLines.back() != b.text())
                    logLines.push_back(b.text());
                break;
            }
        }
    });
    std::size_t logAtDrop = 0;

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
            logAtDrop = logLines.size();
        }
        fewest = std::min(fewest, m);
    });
    watch.start(1000);

    QTimer::singleShot(seconds * 1000 + 500, &app, &QCoreApplication::quit);
    app.exec();
    QMetaObject::invokeMethod(baseTimer, [&] { baseTimer->stop(); }, Qt::BlockingQueuedConnection);
    baseThread.quit();
    baseThread.wait();

    const Fit c = fit(ticks, start);
    const Fit b = fit(baseTicks, baseStart);
    std::printf("tick console n=%zu median_ms=%.3f p99_abs_ms=%.3f max_abs_ms=%.3f slope_ms_per_min=%.4f\n",
                ticks.size(), c.median, c.p99, c.maxAbs, c.slopeMsPerMin);
    std::printf("tick baseline n=%zu median_ms=%.3f p99_abs_ms=%.3f max_abs_ms=%.3f slope_ms_per_min=%.4f\n",
                baseTicks.size(), b.median, b.p99, b.maxAbs, b.slopeMsPerMin);
    std::printf("console still_marked=%d fewest_marked=%d first_drop_ms=%lld of %d\n", marked(), fewest,
                static_cast<long long>(firstDropMs), entries);
    // From a few lines before the first drop, and how often each message came.
    if (firstDropMs >= 0) {
        const std::size_t from = logAtDrop > 200 ? logAtDrop - 200 : 0;
        for (std::size_t i = from; i < logLines.size() && i < from + 400; ++i)
            std::printf("log %s\n", qPrintable(logLines[i]));
        std::map<QString, int> tally;
        for (const QString &line : logLines)
            ++tally[line.mid(line.indexOf(QLatin1Char('=')) + 1).trimmed()];
        for (const auto &[message, count] : tally)
            std::printf("log_tally %d %s\n", count, qPrintable(message));
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
