#include "app/controls.h"
#include "countdown/countdown.h"
#include "countdown/timeframesender.h"
#include "links/addresslist.h"
#include "links/qtsockets.h"
#include "links/socketarray.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

// A display on a loopback port that keeps every byte it is sent.
struct Peer
{
    QTcpServer server;
    QTcpSocket *socket = nullptr;
    QByteArray received;

    bool listen() { return server.listen(QHostAddress::LocalHost, 0); }
    bool accept()
    {
        socket = server.nextPendingConnection();
        if (!socket)
            return false;
        QObject::connect(socket, &QTcpSocket::readyRead, socket,
                         [this] { received += socket->readAll(); });
        received += socket->readAll();
        return true;
    }
};

QByteArray frame(const char *timeText)
{
    return QByteArray("\xC7") + timeText;
}

} // namespace

class TestCountdownWire : public QObject
{
    Q_OBJECT
private slots:
    void countdownReachesLoopbackDisplays();
};

// The countdown, the sender and the real socket layer against three displays
// on 127.0.0.1; displays 0 and 2 are marked connected, display 1 is connected
// but left unmarked.
void TestCountdownWire::countdownReachesLoopbackDisplays()
{
    QTemporaryDir dir; // adding entries writes the address file
    QVERIFY(dir.isValid());
    const QString oldCwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    const auto restoreCwd = qScopeGuard([&] { QDir::setCurrent(oldCwd); });

    QtSocketFactory factory(QStringLiteral("127.0.0.1"), 0);
    TcpSocketArray sockets(factory);
    QListWidget lstIp;
    QLineEdit inpIp;
    QPushButton bAdd;
    QPushButton bDel;
    AddressList addresses(&lstIp, &inpIp, &bAdd, &bDel, sockets);

    DelayField hours;
    DelayField minutes;
    DelayField seconds;
    for (DelayField *field : {&hours, &minutes, &seconds}) {
        field->setMaxLength(2);
        field->setText(QStringLiteral("00"));
    }
    TimeFrameSender sender({&hours, &minutes, &seconds}, addresses, sockets);
    QCheckBox swGo;
    QPushButton bReset;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    ShapeWidget vert(ShapeWidget::Kind::Rectangle);
    ShapeWidget rouge(ShapeWidget::Kind::Rectangle);
    Countdown countdown({&hours, &minutes, &seconds}, &swGo, &bReset, &timer, &vert, &rouge,
                        [&sender](int index) { sender.INP_DELAY_Change(index); });

    std::vector<std::unique_ptr<Peer>> peers;
    QSignalSpy connects(&sockets, &TcpSocketArray::connectEvent);
    QSignalSpy errors(&sockets, &TcpSocketArray::errorEvent);
    for (int i = 0; i < 3; ++i) {
        peers.push_back(std::make_unique<Peer>());
        QVERIFY(peers.back()->listen());
        inpIp.setText(QStringLiteral("127.0.0.1"));
        addresses.B_IP_ADD_Click();
        sockets.connectTo(i, addresses.text(i), peers.back()->server.serverPort());
    }
    QCOMPARE(addresses.count(), 3);
    QTRY_COMPARE(connects.size(), 3);
    for (auto &peer : peers) {
        QTRY_VERIFY(peer->server.hasPendingConnections());
        QVERIFY(peer->accept());
    }
    addresses.setMarked(0, true);
    addresses.setMarked(2, true);

    // Typed by the operator, then two ticks, then Reset.
    seconds.setText(QStringLiteral("00"));
    hours.setText(QStringLiteral("01"));
    swGo.setChecked(true);
    countdown.TIM_REBOUR_Timer();
    countdown.TIM_REBOUR_Timer();
    countdown.B_RESET_Click();

    const QByteArray expected = frame("010000")                                    // typed
                                + frame("------") + frame("005900") + frame("005959") // tick
                                + frame("005958")                                  // tick
                                + frame("005958") + frame("000058") + frame("------")
                                + frame("------"); // Reset: three clears, one direct call
    QTRY_COMPARE(peers[0]->received.toHex(' '), expected.toHex(' '));
    QTRY_COMPARE(peers[2]->received.toHex(' '), expected.toHex(' '));
    // Once marked, display 1 gets the current value; being first on its stream
    // shows that nothing reached it while it was unmarked.
    addresses.setMarked(1, true);
    sender.INP_DELAY_Change(0);
    QTRY_COMPARE(peers[1]->received.toHex(' '), frame("------").toHex(' '));
    QCOMPARE(errors.size(), 0);
    QVERIFY(!swGo.isChecked());
}

QTEST_MAIN(TestCountdownWire)
#include "tst_countdownwire.moc"
