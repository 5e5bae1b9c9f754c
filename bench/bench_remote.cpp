// Remote control benchmarks, each against a baseline measured in the same run:
//
//  command  an HTTP command until a loopback display holds its frame, through
//           the real window and the remote server. Baseline: the same request
//           to a bare QTcpServer that writes the frame on a bare QTcpSocket.
//  browser  a change of a field until headless Chromium's display page shows
//           it. Baseline: the same page fed the same state message by a bare
//           QWebSocketServer. `presenter`: the same for the presenter's page.
//  cost     the console's own thread's CPU with 98 displays and the countdown
//           running, with 50 WebSocket viewers against none.
//  cue      as command, with POST /api/cue stepping between two segments of a
//           running order (the title saved, the current segment saved).
//  rundown  a 200-segment RUNDOWN.CSV: its load, against reading the same file;
//           the state a push carries, and its build time, with and without it.
//
//   rv38t-bench-remote [--rounds R] [--commands N] [--changes N] [--cost-seconds S]
//                      [--only command|browser|cost|cue|rundown]
//
// Displays listen on 127.0.0.2..99 and the clients reach 127.0.0.1 only.

#include "peers.h"
#include "support/headlesschromium.h"

#include "app/mainwindow.h"
#include "app/rooms.h"
#include "controls/controls.h"
#include "controls/delayfield.h"
#include "core/qtsockets.h"
#include "links/addresslist.h"
#include "links/supervisor.h"
#include "core/rundown.h"
#include "remote/remotehub.h"
#include "remote/remoteserver.h"
#include "rundown/runningorder.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <netinet/in.h>
#include <netinet/tcp.h>

namespace {

enum Group { ConsoleGroup = 1, BaselineGroup = 2 };

double median(const std::vector<double> &v)
{
    return bench::quantile(v, 0.5);
}

std::pair<double, double> minmax(const std::vector<double> &v)
{
    if (v.empty())
        return {0, 0};
    return {*std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end())};
}

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double epochMs()
{
    return std::chrono::duration<double, std::milli>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A blocking HTTP client on its own thread, so the console's loop never does the client's work.
class Client
{
public:
    bool connectTo(quint16 port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        ::inet_pton(AF_INET, "127.0.0.1", &sa.sin_addr);
        const int on = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        return ::connect(m_fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
    }
    ~Client()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    void send(const std::string &request)
    {
        ::send(m_fd, request.data(), request.size(), MSG_NOSIGNAL);
    }
    // Reads one response with a Content-Length body.
    bool readResponse()
    {
        for (;;) {
            const auto end = m_buf.find("\r\n\r\n");
            if (end != std::string::npos) {
                const auto cl = m_buf.find("Content-Length: ");
                const std::size_t len
                    = cl == std::string::npos ? 0 : std::stoul(m_buf.substr(cl + 16));
                if (m_buf.size() >= end + 4 + len) {
                    m_buf.erase(0, end + 4 + len);
                    return true;
                }
            }
            char b[8192];
            const ssize_t got = ::recv(m_fd, b, sizeof b, 0);
            if (got <= 0)
                return false;
            m_buf.append(b, std::size_t(got));
        }
    }

private:
    int m_fd = -1;
    std::string m_buf;
};

// The Host names the server with its port, as a browser or curl would send it:
// without a token the console refuses any other.
std::string post(const std::string &path, const std::string &body, quint16 port)
{
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port)
           + "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size())
           + "\r\n\r\n" + body;
}

// The window over Qt's sockets with `displays` loopback displays, all marked.
struct Console
{
    QTemporaryDir dir;
    QtSocketFactory factory{QStringLiteral("127.0.0.1"),
                            9}; // recovery frames, should any go, stay here
    std::unique_ptr<MainWindow> window;
    RemoteHub hub;
    std::unique_ptr<RemoteServer> server;

    bool start(int displays, quint16 displayPort, bool remote)
    {
        QDir::setCurrent(dir.path());
        QFile f(QStringLiteral("LST_IP.CFG"));
        f.open(QIODevice::WriteOnly);
        for (int i = 0; i < displays; ++i)
            f.write(QByteArray::fromStdString(bench::loopbackAddress(i)) + "\r\n");
        f.close();
        window = std::make_unique<MainWindow>(factory);
        window->supervisor()->setDisplayPort(displayPort);
        window->Form_Load();
        window->show();
        window->supervisor()->TIM_IP_CON_Timer();
        if (remote) {
            wireRemote(*window, hub);
            server = std::make_unique<RemoteServer>(hub);
            // The viewers stand for display pages on many machines; here they
            // all come from loopback, past the cap on one address.
            RemoteServer::Limits limits;
            limits.maxPerAddress = 1000;
            server->setLimits(limits);
            QString error;
            if (!server->listen(QHostAddress::LocalHost, 0, &error))
                return false;
        }
        QElapsedTimer t;
        t.start();
        auto marked = [&] {
            int n = 0;
            for (int i = 0; i < displays; ++i)
                n += window->addressList()->isMarked(i);
            return n;
        };
        while (marked() < displays && t.elapsed() < 20000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        return marked() == displays;
    }
    ~Console()
    {
        server.reset();
        window.reset();
    }
};

// ---- command -> frame

int benchCommand(int rounds, int commands, bool cue)
{
    bench::Peers peers;
    const quint16 consolePort = peers.addGroup(ConsoleGroup, 1);
    const quint16 basePort = peers.addGroup(BaselineGroup, 1);
    std::atomic<bool> reached{false};
    peers.onAllReached = [&] { reached = true; };
    peers.start();

    Console console;
    if (!consolePort || !basePort || !console.start(1, consolePort, true)) {
        std::fprintf(stderr, "command: set-up failed\n");
        return 1;
    }
    console.window->INP_DELAY[0]->setText(QStringLiteral("00"));
    console.window->INP_DELAY[1]->setText(QStringLiteral("10"));
    console.window->INP_DELAY[2]->setText(QStringLiteral("00"));
    if (cue) {
        // Two segments a second apart: each cue changes one field and sends one frame.
        QString why;
        console.window->runningOrder()->replace("title,duration\nFirst,00:10:00\nSecond,00:10:01\n",
                                                RunningOrder::Format::Csv, QString(), &why);
        console.window->runningOrder()->cue(1, false, QString());
    }
    const char *path = cue ? "/api/cue" : "/api/nudge";
    const char *name = cue ? "cue" : "command";

    // The baseline: parse the same request, write the same 7 bytes, answer.
    QTcpServer bare;
    bare.listen(QHostAddress::LocalHost, 0);
    QTcpSocket display;
    display.connectToHost(QString::fromStdString(bench::loopbackAddress(0)), basePort);
    display.waitForConnected(5000);
    display.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    QObject::connect(&bare, &QTcpServer::newConnection, &bare, [&] {
        QTcpSocket *s = bare.nextPendingConnection();
        auto buf = std::make_shared<QByteArray>();
        QObject::connect(s, &QTcpSocket::readyRead, s, [s, buf, &display] {
            *buf += s->readAll();
            const qsizetype end = buf->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const qsizetype cl = buf->indexOf("Content-Length: ");
            const int len = cl < 0 ? 0 : buf->mid(cl + 16, 8).split('\r').first().toInt();
            if (buf->size() < end + 4 + len)
                return;
            buf->remove(0, end + 4 + len);
            display.write(QByteArray("\xC7"
                                     "001001",
                                     7));
            s->write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}");
        });
    });

    std::vector<double> medC, medB;
    int lost = 0;
    for (int r = 0; r < rounds; ++r) {
        for (int g : {ConsoleGroup, BaselineGroup}) {
            std::vector<double> lat;
            std::atomic<bool> finished{false};
            const quint16 port = g == ConsoleGroup ? console.server->port() : bare.serverPort();
            std::thread client([&] {
                Client c;
                if (!c.connectTo(port)) {
                    finished = true;
                    return;
                }
                for (int k = 0; k < commands; ++k) {
                    // +1 then -1: 00:10:00 <-> 00:10:01, one field and one frame each.
                    const std::string body
                        = cue ? (k % 2 ? R"({"step":-1})" : R"({"step":1})")
                              : (k % 2 ? R"({"seconds":-1})" : R"({"seconds":1})");
                    reached = false;
                    peers.arm(g, 7);
                    const std::int64_t t0 = bench::nowNs();
                    c.send(post(path, body, port));
                    const auto deadline
                        = std::chrono::steady_clock::now() + std::chrono::seconds(5);
                    while (!reached && std::chrono::steady_clock::now() < deadline)
                        std::this_thread::yield();
                    if (reached)
                        lat.push_back(double(peers.lastArrivalNs(g) - t0) / 1e6);
                    else
                        ++lost;
                    c.readResponse();
                    std::this_thread::sleep_for(
                        std::chrono::milliseconds(2)); // as between button presses
                }
                finished = true;
            });
            while (!finished)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            client.join();
            (g == ConsoleGroup ? medC : medB).push_back(median(lat));
        }
    }
    const double c = median(medC), b = median(medB);
    std::printf("%s rounds=%d commands_per_round=%d lost=%d\n", name, rounds, commands, lost);
    std::printf("%s console_median_ms=%.3f spread=%.3f..%.3f baseline_median_ms=%.3f "
                "spread=%.3f..%.3f ratio=%.2f\n",
                name, c, minmax(medC).first, minmax(medC).second, b, minmax(medB).first,
                minmax(medB).second, b > 0 ? c / b : 0);
    peers.stop();
    return lost ? 1 : 0;
}

// ---- change -> browser page

// `path` is the page, `label` starts each output line.
int benchBrowser(int rounds, int changes, const QString &path, const char *label)
{
    Console console;
    if (!console.start(0, 1024, true)) {
        std::fprintf(stderr, "browser: set-up failed\n");
        return 1;
    }
    QWebSocketServer bare(QStringLiteral("bare"), QWebSocketServer::NonSecureMode);
    bare.listen(QHostAddress::LocalHost, 0);
    QList<QWebSocket *> bareViewers;
    QObject::connect(&bare, &QWebSocketServer::newConnection, &bare, [&] {
        while (QWebSocket *w = bare.nextPendingConnection())
            bareViewers.append(w);
    });

    HeadlessChromium browser;
    QString why;
    const QUrl url(QStringLiteral("http://127.0.0.1:%1%2").arg(console.server->port()).arg(path));
    if (!browser.start(url, &why)) {
        std::printf("%s skipped=\"%s\"\n", label, qPrintable(why));
        return 0;
    }
    // The page's push socket is open once its status line is cleared.
    HeadlessChromium::waitFor(
        [&] {
            return browser.evaluate(QStringLiteral("document.getElementById('status').textContent"))
                .isEmpty();
        },
        10000);
    // Records when the digits change, in the browser's own epoch milliseconds; a
    // second socket from the same page to the bare server goes through the same apply().
    const QString installed = browser.evaluate(
        QStringLiteral("window.__seen = []; new MutationObserver(() => "
                       "window.__seen.push(performance.timeOrigin + performance.now()))"
                       ".observe(document.getElementById('time'), {childList: true, characterData: "
                       "true, subtree: true});"
                       "window.__bare = new WebSocket('ws://127.0.0.1:%1/'); "
                       "window.__bare.onmessage = (e) => apply(JSON.parse(e.data)); 'ok'")
            .arg(bare.serverPort()));
    if (!HeadlessChromium::waitFor([&] { return !bareViewers.isEmpty(); }, 10000)) {
        std::printf("%s skipped=\"the page did not reach the bare server (%s)\"\n", label,
                    qPrintable(installed));
        return 0;
    }

    DelayField *seconds = console.window->INP_DELAY[2];
    console.window->INP_DELAY[0]->setText(QStringLiteral("00"));
    console.window->INP_DELAY[1]->setText(QStringLiteral("10"));
    int value = 0;
    std::vector<double> medC, medB;
    int lost = 0;
    for (int r = 0; r < rounds; ++r) {
        for (int g : {ConsoleGroup, BaselineGroup}) {
            std::vector<double> lat;
            for (int k = 0; k < changes; ++k) {
                value = (value + 1) % 60;
                const int before
                    = browser.evaluate(QStringLiteral("String(window.__seen.length)")).toInt();
                const double t0 = epochMs();
                if (g == ConsoleGroup) {
                    seconds->setText(QString::asprintf("%02d", value));
                } else {
                    const QByteArray json = QByteArrayLiteral("{\"time\":\"00:10:")
                                            + QByteArray::number(value) + "\",\"frame\":\"0010"
                                            + QString::asprintf("%02d", value).toLatin1()
                                            + "\",\"running\":false,\"title\":\"TITLE "
                                              "HERE\",\"lamp\":\"green\",\"displays\":[]}";
                    for (QWebSocket *w : std::as_const(bareViewers))
                        w->sendTextMessage(QString::fromLatin1(json));
                }
                QString seen;
                const bool ok = HeadlessChromium::waitFor(
                    [&] {
                        seen = browser.evaluate(
                            QStringLiteral(
                                "window.__seen.length > %1 ? String(window.__seen[%1]) : ''")
                                .arg(before));
                        return !seen.isEmpty();
                    },
                    5000);
                if (!ok) {
                    ++lost;
                    continue;
                }
                lat.push_back(seen.toDouble() - t0);
                spin(20);
            }
            (g == ConsoleGroup ? medC : medB).push_back(median(lat));
        }
    }
    const double c = median(medC), b = median(medB);
    std::printf("%s rounds=%d changes_per_round=%d lost=%d\n", label, rounds, changes, lost);
    std::printf("%s console_median_ms=%.3f spread=%.3f..%.3f baseline_median_ms=%.3f "
                "spread=%.3f..%.3f ratio=%.2f\n",
                label, c, minmax(medC).first, minmax(medC).second, b, minmax(medB).first,
                minmax(medB).second, b > 0 ? c / b : 0);
    return lost ? 1 : 0;
}

// ---- cost: 98 displays and 50 viewers

class Viewers : public QObject
{
public:
    void open(quint16 port, int n)
    {
        for (int i = 0; i < n; ++i) {
            auto *w = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
            connect(w, &QWebSocket::textMessageReceived, this, [this] { ++messages; });
            connect(w, &QWebSocket::connected, this, [this] { ++connected; });
            w->open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/ws").arg(port)));
        }
    }
    std::atomic<int> connected{0};
    std::atomic<int> messages{0};
};

int benchCost(int rounds, int seconds)
{
    constexpr int kDisplays = 98, kViewers = 50;
    bench::Peers peers;
    const quint16 port = peers.addGroup(ConsoleGroup, kDisplays);
    peers.start();
    std::vector<double> with, without;
    int viewersSeen = 0, messagesSeen = 0;
    for (int r = 0; r < rounds; ++r) {
        for (bool remote : {true, false}) {
            Console console;
            if (!port || !console.start(kDisplays, port, remote)) {
                std::fprintf(stderr, "cost: set-up failed\n");
                return 1;
            }
            QThread viewerThread;
            Viewers viewers;
            if (remote) {
                viewers.moveToThread(&viewerThread);
                viewerThread.start();
                const quint16 p = console.server->port();
                QMetaObject::invokeMethod(&viewers, [&viewers, p] { viewers.open(p, kViewers); });
                QElapsedTimer t;
                t.start();
                while (viewers.connected < kViewers && t.elapsed() < 20000)
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            }
            console.window->INP_DELAY[0]->setText(QStringLiteral("01"));
            console.window->INP_DELAY[1]->setText(QStringLiteral("00"));
            console.window->INP_DELAY[2]->setText(QStringLiteral("00"));
            console.window->SW_GO->setChecked(true);
            spin(1500); // let the first ticks go by
            const int m0 = viewers.messages;
            const double c0 = threadCpuSeconds();
            QElapsedTimer wall;
            wall.start();
            spin(seconds * 1000);
            const double pct
                = (threadCpuSeconds() - c0) / (double(wall.nsecsElapsed()) / 1e9) * 100;
            (remote ? with : without).push_back(pct);
            if (remote) {
                viewersSeen = console.server->viewerCount();
                messagesSeen = viewers.messages - m0;
                QMetaObject::invokeMethod(
                    &viewers,
                    [&viewers] {
                        for (QObject *o : viewers.children())
                            delete o;
                    },
                    Qt::BlockingQueuedConnection);
                viewerThread.quit();
                viewerThread.wait();
            }
        }
    }
    const double w = median(with), wo = median(without);
    std::printf("cost displays=%d viewers=%d seconds=%d rounds=%d messages_per_viewer=%.1f\n",
                kDisplays, viewersSeen, seconds, rounds,
                viewersSeen ? double(messagesSeen) / viewersSeen : 0.0);
    std::printf("cost console_cpu_pct=%.3f spread=%.3f..%.3f baseline_cpu_pct=%.3f "
                "spread=%.3f..%.3f ratio=%.2f added_pct=%.3f\n",
                w, minmax(with).first, minmax(with).second, wo, minmax(without).first,
                minmax(without).second, wo > 0 ? w / wo : 0, w - wo);
    peers.stop();
    return 0;
}

// ---- a 200-segment running order: load, push size, state build

int benchRundown(int rounds)
{
    Console console;
    if (!console.start(0, 1024, true)) {
        std::fprintf(stderr, "rundown: set-up failed\n");
        return 1;
    }
    // Titles and notes of a real show's length.
    QByteArray csv = "title;duration;until;note;auto\r\n";
    for (int i = 0; i < rundown::kMaxSegments; ++i)
        csv += "Segment " + QByteArray::number(i + 1) + ": a title of some length;00:"
               + QByteArray::number(10 + i % 50) + ":00;;\"Cue lights, music bed\r\nmic "
               + QByteArray::number(i % 8) + "\";" + (i % 3 ? "" : "yes") + "\r\n";
    QFile file(QStringLiteral("RUNDOWN.CSV"));
    file.open(QIODevice::WriteOnly);
    file.write(csv);
    file.close();
    RunningOrder &order = *console.window->runningOrder();
    const QByteArray without = console.hub.stateJson();
    std::vector<double> loadC, loadB, stateC, stateB;
    const auto ms = [](const std::function<void()> &f) {
        QElapsedTimer t;
        t.start();
        f();
        return double(t.nsecsElapsed()) / 1e6;
    };
    const auto stateMs = [&] {
        std::vector<double> v;
        for (int k = 0; k < 200; ++k)
            v.push_back(ms([&] { console.hub.stateJson(); }));
        return median(v);
    };
    for (int r = 0; r < rounds; ++r) {
        std::vector<double> c, b;
        for (int k = 0; k < 20; ++k) {
            c.push_back(ms([&] { order.load(); }));
            b.push_back(ms([&] {
                QFile f(QStringLiteral("RUNDOWN.CSV"));
                f.open(QIODevice::ReadOnly);
                f.readAll();
            }));
        }
        loadC.push_back(median(c));
        loadB.push_back(median(b));
        order.follow({}, 0);
        stateB.push_back(stateMs());
        order.load();
        order.cue(100, false, QString());
        stateC.push_back(stateMs());
    }
    const QByteArray with = console.hub.stateJson();
    std::printf("rundown segments=%d file_bytes=%d rounds=%d\n", order.count(), int(csv.size()),
                rounds);
    std::printf("rundown load console_median_ms=%.3f spread=%.3f..%.3f baseline_median_ms=%.3f "
                "spread=%.3f..%.3f ratio=%.2f\n",
                median(loadC), minmax(loadC).first, minmax(loadC).second, median(loadB),
                minmax(loadB).first, minmax(loadB).second, median(loadC) / median(loadB));
    std::printf("rundown state console_median_ms=%.4f spread=%.4f..%.4f baseline_median_ms=%.4f "
                "spread=%.4f..%.4f ratio=%.2f\n",
                median(stateC), minmax(stateC).first, minmax(stateC).second, median(stateB),
                minmax(stateB).first, minmax(stateB).second, median(stateC) / median(stateB));
    std::printf("rundown push bytes_without=%d bytes_with=%d added=%d\n", int(without.size()),
                int(with.size()), int(with.size() - without.size()));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    int rounds = 5, commands = 200, changes = 30, costSeconds = 20;
    QString only;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--commands"))
            commands = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--changes"))
            changes = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--cost-seconds"))
            costSeconds = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--only"))
            only = QString::fromLatin1(argv[i + 1]);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int status = 0;
    if (only.isEmpty() || only == QLatin1String("command"))
        status |= benchCommand(rounds, commands, false);
    if (only.isEmpty() || only == QLatin1String("cue"))
        status |= benchCommand(rounds, commands, true);
    if (only.isEmpty() || only == QLatin1String("rundown"))
        status |= benchRundown(rounds);
    if (only.isEmpty() || only == QLatin1String("browser"))
        status |= benchBrowser(rounds, changes, QStringLiteral("/"), "browser");
    if (only.isEmpty() || only == QLatin1String("presenter"))
        status |= benchBrowser(rounds, changes, QStringLiteral("/presenter"), "presenter");
    if (only.isEmpty() || only == QLatin1String("cost"))
        status |= benchCost(3, costSeconds); // three rounds: a median that is one of them
    return status;
}
