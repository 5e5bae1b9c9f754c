#pragma once

// Headless Chromium from Debian, driven over its DevTools protocol on loopback:
// loads a page and evaluates expressions in it. For tests and the bench; it
// opens nothing beyond 127.0.0.1 and keeps its profile in a temporary directory.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <QWebSocket>

#include <functional>

class HeadlessChromium
{
public:
    ~HeadlessChromium()
    {
        m_devtools.abort();
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000)) {
                m_process.kill();
                m_process.waitForFinished(5000);
            }
        }
        // The browser's helper processes may still write into the profile for a moment.
        waitFor([this] { return m_profile.remove(); }, 5000);
    }

    static QString executable()
    {
        const QString given = qEnvironmentVariable("RV38T_CHROMIUM");
        for (const QString &p : {given, QStringLiteral("/usr/bin/chromium"),
                                 QStringLiteral("/usr/bin/chromium-browser")}) {
            if (!p.isEmpty() && QFileInfo(p).isExecutable())
                return p;
        }
        return QString();
    }

    // Starts the browser on `url`; false with the reason when no browser can start.
    bool start(const QUrl &url, QString *why, const QStringList &extraArgs = {})
    {
        const QString program = executable();
        if (program.isEmpty()) {
            *why = QStringLiteral(
                "no Chromium found (install Debian's chromium or set RV38T_CHROMIUM)");
            return false;
        }
        if (!m_profile.isValid()) {
            *why = QStringLiteral("no temporary directory for the browser profile");
            return false;
        }
        QStringList args{QStringLiteral("--headless"),
                         QStringLiteral("--no-sandbox"),
                         QStringLiteral("--disable-gpu"),
                         QStringLiteral("--disable-quic"),
                         QStringLiteral("--no-first-run"),
                         QStringLiteral("--disable-background-networking"),
                         QStringLiteral("--disable-component-update"),
                         QStringLiteral("--disable-sync"),
                         QStringLiteral("--disable-extensions"),
                         QStringLiteral("--no-proxy-server"),
                         QStringLiteral("--remote-debugging-address=127.0.0.1"),
                         QStringLiteral("--remote-debugging-port=0"),
                         QStringLiteral("--user-data-dir=") + m_profile.path()};
        args += extraArgs;
        args << url.toString();
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(program, args);
        if (!m_process.waitForStarted(10000)) {
            *why = QStringLiteral("Chromium did not start: ") + m_process.errorString();
            return false;
        }
        // The browser writes its DevTools port into the profile once it listens.
        QFile portFile(m_profile.filePath(QStringLiteral("DevToolsActivePort")));
        if (!waitFor([&] { return portFile.exists() && portFile.size() > 0; }, 30000)) {
            *why = QStringLiteral("Chromium did not come up: ")
                   + QString::fromLocal8Bit(m_process.readAll().right(400));
            return false;
        }
        portFile.open(QIODevice::ReadOnly);
        const int port = portFile.readLine().trimmed().toInt();
        // The page target's own socket.
        QString pageSocket;
        waitFor(
            [&] {
                pageSocket = pageDebuggerUrl(port, url);
                return !pageSocket.isEmpty();
            },
            20000);
        if (pageSocket.isEmpty()) {
            *why = QStringLiteral("Chromium shows no page for %1").arg(url.toString());
            return false;
        }
        QObject::connect(&m_devtools, &QWebSocket::textMessageReceived, &m_devtools,
                         [this](const QString &m) { onMessage(m); });
        m_devtools.open(QUrl(pageSocket));
        if (!waitFor([&] { return m_devtools.state() == QAbstractSocket::ConnectedState; },
                     10000)) {
            *why = QStringLiteral("no DevTools connection to the page");
            return false;
        }
        return true;
    }

    // The value of a JavaScript expression in the page, as text ("" on failure).
    QString evaluate(const QString &expression, int timeoutMs = 5000)
    {
        const int id = ++m_nextId;
        const QJsonObject call{
            {QStringLiteral("id"), id},
            {QStringLiteral("method"), QStringLiteral("Runtime.evaluate")},
            {QStringLiteral("params"), QJsonObject{{QStringLiteral("expression"), expression},
                                                   {QStringLiteral("returnByValue"), true}}}};
        m_devtools.sendTextMessage(
            QString::fromUtf8(QJsonDocument(call).toJson(QJsonDocument::Compact)));
        waitFor([&] { return m_results.contains(id); }, timeoutMs);
        const QJsonValue v = m_results.take(id);
        return v.isString()   ? v.toString()
               : v.isDouble() ? QString::number(v.toDouble(), 'f', 3)
               : v.isBool()   ? (v.toBool() ? QStringLiteral("true") : QStringLiteral("false"))
                              : QString();
    }

    // Serves the event loop until `done` holds or the time is up; polls, never sleeps blind.
    static bool waitFor(const std::function<bool()> &done, int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!done()) {
            if (deadline.hasExpired())
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                                            10);
        }
        return true;
    }

private:
    QString pageDebuggerUrl(int port, const QUrl &url)
    {
        QNetworkReply *reply = m_nam.get(
            QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/json/list").arg(port))));
        waitFor([reply] { return reply->isFinished(); }, 5000);
        const QJsonArray targets = QJsonDocument::fromJson(reply->readAll()).array();
        reply->deleteLater();
        for (const QJsonValue &t : targets) {
            const QJsonObject o = t.toObject();
            if (o.value(QLatin1String("type")).toString() == QLatin1String("page")
                && o.value(QLatin1String("url"))
                       .toString()
                       .startsWith(url.toString(QUrl::RemovePath)))
                return o.value(QLatin1String("webSocketDebuggerUrl")).toString();
        }
        return QString();
    }

    void onMessage(const QString &message)
    {
        const QJsonObject o = QJsonDocument::fromJson(message.toUtf8()).object();
        if (!o.contains(QLatin1String("id")))
            return;
        const QJsonObject result = o.value(QLatin1String("result")).toObject();
        QJsonValue value
            = result.value(QLatin1String("result")).toObject().value(QLatin1String("value"));
        if (result.contains(QLatin1String("exceptionDetails"))) {
            // A thrown expression reads as its message, so a caller sees why.
            value = QStringLiteral("exception: ")
                    + result.value(QLatin1String("exceptionDetails"))
                          .toObject()
                          .value(QLatin1String("exception"))
                          .toObject()
                          .value(QLatin1String("description"))
                          .toString();
        }
        m_results.insert(o.value(QLatin1String("id")).toInt(), value);
    }

    QTemporaryDir m_profile;
    QProcess m_process;
    QNetworkAccessManager m_nam;
    QWebSocket m_devtools;
    QHash<int, QJsonValue> m_results;
    int m_nextId = 0;
};
