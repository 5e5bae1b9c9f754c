// Baseline for the cost at rest and at work: 98 bare QTcpSockets to the same
// displays, a 7-byte frame on each once a second from a precise timer, nothing else.
//
//   rv38t-bench-bare [--port P] [--count N]

#include "peers.h"

#include <QCoreApplication>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

int main(int argc, char **argv)
{
    quint16 port = 1024;
    int count = 98;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--port"))
            port = quint16(std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--count"))
            count = std::atoi(argv[i + 1]);
    }
    QCoreApplication app(argc, argv);
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < count; ++i) {
        sockets.push_back(std::make_unique<QTcpSocket>());
        sockets.back()->connectToHost(QString::fromStdString(bench::loopbackAddress(i)), port);
    }
    const QByteArray frame = QByteArray(1, '\xC7') + "995959";
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    // A display not listening yet is tried again at the next tick, as the
    // console's supervisor does; else a slow-starting simulator leaves the
    // baseline idle and the ratio meaningless.
    QObject::connect(&tick, &QTimer::timeout, &app, [&] {
        for (std::size_t i = 0; i < sockets.size(); ++i) {
            QTcpSocket &s = *sockets[i];
            if (s.state() == QAbstractSocket::ConnectedState)
                s.write(frame);
            else if (s.state() == QAbstractSocket::UnconnectedState)
                s.connectToHost(QString::fromStdString(bench::loopbackAddress(int(i))), port);
        }
    });
    tick.start(1000);
    return app.exec();
}
