#include "core/qtsockets.h"
#include "support/countdownfixture.h"
#include "support/loopback.h"

#include <QtTest>

namespace {

QByteArray frame(const char *timeText)
{
    return QByteArray("\xC7") + timeText;
}

// The stream after the blank frames each connect sends to the displays marked by then.
QByteArray afterConnectFrames(QByteArray stream)
{
    while (stream.startsWith(frame("------")))
        stream.remove(0, 7);
    return stream;
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
    LoopbackDisplay displays[3];
    QTcpSocket *peers[3];
    QByteArray received[3];
    QSignalSpy connects(&sockets, &TcpSocketArray::connectEvent);
    QSignalSpy errors(&sockets, &TcpSocketArray::errorEvent);
    for (int i = 0; i < 3; ++i) {
        QVERIFY(displays[i].isListening());
        rig.addEntry(QStringLiteral("127.0.0.1"));
        sockets.connectTo(i, addresses.text(i), displays[i].port());
    }
    QCOMPARE(addresses.count(), 3);
    QTRY_COMPARE(connects.size(), 3);
    for (int i = 0; i < 3; ++i)
        QVERIFY(peers[i] = displays[i].accepted());
    // Each connect marked its entry and sent the current time; display 1 is left unmarked.
    addresses.setMarked(1, false);

    // Typed by the operator, then two ticks, then Reset.
    rig.seconds.setText(QStringLiteral("00"));
    rig.hours.setText(QStringLiteral("01"));
    rig.controls.swGo.setChecked(true);
    rig.controls.countdown.TIM_REBOUR_Timer();
    rig.controls.countdown.TIM_REBOUR_Timer();
    rig.controls.countdown.B_RESET_Click();

    const QByteArray expected = frame("010000")                                       // typed
                                + frame("------") + frame("005900") + frame("005959") // tick
                                + frame("005958")                                     // tick
                                + frame("005958") + frame("000058") + frame("------")
                                + frame("------"); // Reset: three clears, one direct call
    for (int i : {0, 2})
        QVERIFY(readUntil(peers[i], received[i], [&] {
            return afterConnectFrames(received[i]).size() >= expected.size();
        }));
    QCOMPARE(afterConnectFrames(received[0]).toHex(' '), expected.toHex(' '));
    QCOMPARE(afterConnectFrames(received[2]).toHex(' '), expected.toHex(' '));
    // Once marked, display 1 gets the current value, and nothing of the
    // countdown reached it while it was unmarked: only blank frames.
    addresses.setMarked(1, true);
    rig.sender.INP_DELAY_Change(0);
    QVERIFY(readUntil(peers[1], received[1], [&] { return received[1].size() >= 14; }));
    QCOMPARE(afterConnectFrames(received[1]), QByteArray());
    QCOMPARE(errors.size(), 0);
    QVERIFY(!rig.controls.swGo.isChecked());
}

QTEST_MAIN(TestCountdownWire)
#include "tst_countdownwire.moc"
