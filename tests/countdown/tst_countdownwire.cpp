#include "links/qtsockets.h"
#include "support/countdownfixture.h"

#include <QTcpServer>
#include <QTcpSocket>
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
    QtSocketFactory factory(QStringLiteral("127.0.0.1"), 0);
    SendingCountdown rig(factory);
    TcpSocketArray &sockets = rig.sockets;
    AddressList &addresses = rig.addresses;
    std::vector<std::unique_ptr<Peer>> peers;
    QSignalSpy connects(&sockets, &TcpSocketArray::connectEvent);
    QSignalSpy errors(&sockets, &TcpSocketArray::errorEvent);
    for (int i = 0; i < 3; ++i) {
        peers.push_back(std::make_unique<Peer>());
        QVERIFY(peers.back()->listen());
        rig.addEntry(QStringLiteral("127.0.0.1"));
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
    rig.seconds.setText(QStringLiteral("00"));
    rig.hours.setText(QStringLiteral("01"));
    rig.controls.swGo.setChecked(true);
    rig.controls.countdown.TIM_REBOUR_Timer();
    rig.controls.countdown.TIM_REBOUR_Timer();
    rig.controls.countdown.B_RESET_Click();

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
    rig.sender.INP_DELAY_Change(0);
    QTRY_COMPARE(peers[1]->received.toHex(' '), frame("------").toHex(' '));
    QCOMPARE(errors.size(), 0);
    QVERIFY(!rig.controls.swGo.isChecked());
}

QTEST_MAIN(TestCountdownWire)
#include "tst_countdownwire.moc"
