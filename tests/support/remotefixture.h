#pragma once

// The rooms fixture (the real window over the fake socket factory) with one
// display connected, and the remote control wired to it by the composition
// point, served on 127.0.0.1 at ephemeral ports.

#include "aids/eventlog.h"
#include "app/mainwindow.h"
#include "app/rooms.h"
#include "controls/delayfield.h"
#include "controls/titlefield.h"
#include "links/supervisor.h"
#include "remote/oscserver.h"
#include "remote/remotehub.h"
#include "remote/remoteserver.h"
#include "support/fakesockets.h"
#include "support/roomsfixture.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

struct RemoteFixture
{
    explicit RemoteFixture(const QByteArray &token = QByteArray())
        : rooms(std::make_unique<RoomsFixture>(sockets)), window(&rooms->window)
    {
        rooms->addEntry(QStringLiteral("127.0.0.2"));
        rooms->tick();
        for (const auto &s : std::as_const(sockets.tcp)) {
            if (s && s->m_host == QLatin1String("127.0.0.2"))
                display = s;
        }
        if (display)
            display->fireConnected();
        wireRemote(*window, hub);
        server = std::make_unique<RemoteServer>(hub);
        server->setToken(token);
        QString error;
        listening = server->listen(QHostAddress::LocalHost, 0, &error);
        osc = std::make_unique<OscServer>(hub);
        oscListening = osc->listen(QHostAddress::LocalHost, 0, &error);
        clearSent();
    }

    ~RemoteFixture()
    {
        server.reset();
        osc.reset();
        rooms.reset();
    }

    RemoteFixture(const RemoteFixture &) = delete;
    RemoteFixture &operator=(const RemoteFixture &) = delete;

    void clearSent()
    {
        if (display)
            display->sent.clear();
    }
    QByteArrayList frames() const { return display ? display->sent : QByteArrayList(); }

    void setFields(const QString &h, const QString &m, const QString &s)
    {
        window->INP_DELAY[0]->setText(h);
        window->INP_DELAY[1]->setText(m);
        window->INP_DELAY[2]->setText(s);
    }
    QString fields() const
    {
        return window->INP_DELAY[0]->text() + QLatin1Char(':') + window->INP_DELAY[1]->text()
               + QLatin1Char(':') + window->INP_DELAY[2]->text();
    }
    QString log() const { return window->eventLog()->text(); }

    // What a client of this server puts in its Host field.
    QByteArray host() const { return "127.0.0.1:" + QByteArray::number(server->port()); }

    // COUNT clients on the server from FROM, each having sent REQUEST (a
    // part of one, for the slow-client cases).
    std::vector<std::unique_ptr<QTcpSocket>> openClients(int count, const QByteArray &request,
                                                         const QString &from
                                                         = QStringLiteral("127.0.0.1")) const
    {
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = 0; i < count; ++i) {
            clients.push_back(std::make_unique<QTcpSocket>());
            clients.back()->bind(QHostAddress(from));
            clients.back()->connectToHost(QHostAddress::LocalHost, server->port());
            clients.back()->write(request);
        }
        return clients;
    }

    QUrl url(const QString &path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(server->port()).arg(path));
    }

    struct Answer
    {
        int status = 0;
        QJsonObject json;
        QByteArray body;
    };
    // One raw request from a socket bound to `from`: the answer up to the end
    // of its head, or what came before the server closed ("" when refused).
    QByteArray exchange(const QString &from, const QByteArray &request, int timeoutMs = 5000)
    {
        QTcpSocket c;
        c.bind(QHostAddress(from));
        c.connectToHost(QHostAddress::LocalHost, server->port());
        c.write(request);
        QByteArray got;
        QEventLoop loop;
        QObject::connect(&c, &QTcpSocket::readyRead, &loop, [&] {
            got += c.readAll();
            if (got.contains("\r\n\r\n"))
                loop.quit();
        });
        QObject::connect(&c, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
        QObject::connect(&c, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
        return got;
    }
    QByteArray stateFrom(const QString &from)
    {
        return exchange(from, "GET /api/state HTTP/1.1\r\nHost: " + host() + "\r\n\r\n");
    }

    // One request over QNetworkAccessManager, waited for.
    Answer request(const QByteArray &method, const QString &path,
                   const QByteArray &body = QByteArray(),
                   const QByteArray &authorization = QByteArray())
    {
        QNetworkRequest req(url(path));
        if (!body.isEmpty())
            req.setHeader(QNetworkRequest::ContentTypeHeader,
                          QByteArrayLiteral("application/json"));
        if (!authorization.isEmpty())
            req.setRawHeader("Authorization", authorization);
        QNetworkReply *reply = nam.sendCustomRequest(req, method, body);
        QSignalSpy done(reply, &QNetworkReply::finished);
        if (!reply->isFinished())
            done.wait(5000);
        Answer a;
        a.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        a.body = reply->readAll();
        a.json = QJsonDocument::fromJson(a.body).object();
        reply->deleteLater();
        return a;
    }

    FakeSocketFactory sockets;
    std::unique_ptr<RoomsFixture> rooms;
    MainWindow *window = nullptr;
    FakeTcpEndpoint *display = nullptr;
    RemoteHub hub;
    std::unique_ptr<RemoteServer> server;
    std::unique_ptr<OscServer> osc;
    bool listening = false;
    bool oscListening = false;
    QNetworkAccessManager nam;
};

// A time frame as the displays get it.
inline QByteArray frame(const char *six)
{
    return QByteArray("\xC7") + six;
}
