#include "core/frames.h"
#include "core/qtsockets.h"
#include "simulator/displaysimulator.h"
#include "simulator/headlessreport.h"
#include "support/loopback.h"
#include "support/roomsfixture.h"

#include <QBuffer>
#include <QtTest>

#include <memory>

// Marker bytes before digits are octal escapes ("\307" is 0xC7): an octal
// escape ends after three digits, so the digits can follow in one literal.

// The simulator in-process, on loopback only, against the console's own rooms
// over the real socket layer.
class TestSimulator : public QObject
{
    Q_OBJECT

private:
    static SimulatorOptions loopbackOptions()
    {
        SimulatorOptions options;
        options.port = 0;
        options.udpAddress = QHostAddress(QHostAddress::LocalHost);
        options.udpPort = 0;
        return options;
    }

    // Two displays on 127.0.0.1 and 127.0.0.2 sharing one port, as the console expects.
    static std::unique_ptr<DisplaySimulator> startTwoDisplays()
    {
        for (int attempt = 0; attempt < 5; ++attempt) {
            SimulatorOptions options = loopbackOptions();
            options.listen = {QHostAddress(QStringLiteral("127.0.0.1")),
                              QHostAddress(QStringLiteral("127.0.0.2"))};
            options.port = unusedPort();
            auto simulator = std::make_unique<DisplaySimulator>(options);
            if (options.port != 0 && simulator->start())
                return simulator;
        }
        return nullptr;
    }

private slots:
    // A countdown typed and run on the console reaches every connected display
    // frame by frame, in the order the fields were written.
    void countdownFramesArriveInOrder()
    {
        const auto simulator = startTwoDisplays();
        if (!simulator)
            QSKIP("no free port on 127.0.0.1 and 127.0.0.2");
        QList<QStringList> received(2);
        connect(simulator.get(), &DisplaySimulator::frameReceived, this,
                [&received](int display, const QString &text) { received[display].append(text); });

        QtSocketFactory factory(QStringLiteral("127.0.0.1"), simulator->udpPort());
        RoomsFixture rooms(factory);
        rooms.supervisor.setDisplayPort(simulator->port(0));

        rooms.addEntry(QStringLiteral("127.0.0.1"));
        rooms.addEntry(QStringLiteral("127.0.0.2"));
        rooms.tick();
        QTRY_VERIFY(rooms.list.isMarked(0) && rooms.list.isMarked(1));
        // Each display got the current value, zero, when it came up.
        QTRY_VERIFY(!received[0].isEmpty() && !received[1].isEmpty());

        rooms.setTime(QStringLiteral("00"), QStringLiteral("00"), QStringLiteral("03"));
        rooms.swGo.setChecked(true);
        for (int i = 0; i < 4; ++i) // the fourth finds the countdown stopped
            rooms.countdown.TIM_REBOUR_Timer();
        QVERIFY(!rooms.swGo.isChecked());

        const QStringList expected = {"000003", "000002", "000001", "------"};
        // Before them only the zero frames of the connects, however many arrived.
        const auto countdownFrames = [&received](int display) {
            QStringList frames = received[display];
            while (!frames.isEmpty() && frames.first() == frames::kBlankTime)
                frames.removeFirst();
            return frames;
        };
        QTRY_COMPARE(countdownFrames(0), expected);
        QTRY_COMPARE(countdownFrames(1), expected);
    }

    void recoveryDatagrams_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("isRecovery");
        QTest::addColumn<QString>("named");
        QTest::addColumn<int>("display");
        QTest::newRow("names-second")
            << frames::recoveryFrame("127.0.0.2") << true << "127.0.0.2" << 1;
        QTest::newRow("names-first")
            << frames::recoveryFrame("127.0.0.1") << true << "127.0.0.1" << 0;
        QTest::newRow("names-stranger")
            << frames::recoveryFrame("192.0.2.10") << true << "192.0.2.10" << -1;
        QTest::newRow("names-no-address")
            << frames::recoveryFrame("LAB-2") << true << "LAB-2" << -1;
        QTest::newRow("other-datagram") << QByteArray("\xFE\xFF") << false << QString() << -1;
    }
    void recoveryDatagrams()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, isRecovery);
        QFETCH(QString, named);
        QFETCH(int, display);
        const auto simulator = startTwoDisplays();
        if (!simulator)
            QSKIP("no free port on 127.0.0.1 and 127.0.0.2");
        QSignalSpy recovery(simulator.get(), &DisplaySimulator::recoveryReceived);
        QSignalSpy other(simulator.get(), &DisplaySimulator::datagramReceived);

        // Sent as the console sends it, to loopback instead of the broadcast address.
        QtSocketFactory factory(QStringLiteral("127.0.0.1"), simulator->udpPort());
        QVERIFY(factory.createUdp()->sendData(datagram));
        QSignalSpy &expected = isRecovery ? recovery : other;
        QVERIFY(expected.wait(5000));
        if (isRecovery) {
            QCOMPARE(recovery.at(0).at(0).toString(), named);
            QCOMPARE(recovery.at(0).at(1).toInt(), display);
            QCOMPARE(other.size(), 0);
        } else {
            QCOMPARE(other.at(0).at(0).toByteArray(), datagram);
            QCOMPARE(recovery.size(), 0);
        }
    }

    // What the console's socket layer sees of each misbehaviour.
    void misbehaviour_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("expected");
        QTest::newRow("refuse") << "refuse"
                                << "error";
        QTest::newRow("close-after") << "close-after"
                                     << "connect-close";
        QTest::newRow("no-accept") << "no-accept"
                                   << "hang";
    }
    void misbehaviour()
    {
        QFETCH(QString, mode);
        QFETCH(QString, expected);
        SimulatorOptions options = loopbackOptions();
        options.udp = false;
        options.refuse = mode == "refuse";
        options.noAccept = mode == "no-accept";
        options.closeAfterMs = mode == "close-after" ? 100 : 0;
        if (options.refuse)
            options.port = unusedPort(); // nobody listens there now
        DisplaySimulator simulator(options);
        QSignalSpy ready(&simulator, &DisplaySimulator::ready);
        QVERIFY(simulator.start());
        if (options.noAccept)
            QVERIFY(ready.wait(5000));

        QtSocketFactory factory;
        TcpSocketArray sockets(factory);
        QVERIFY(sockets.createElement());
        QSignalSpy connects(&sockets, &TcpSocketArray::connectEvent);
        QSignalSpy closes(&sockets, &TcpSocketArray::closeEvent);
        QSignalSpy errors(&sockets, &TcpSocketArray::errorEvent);
        sockets.connectTo(0, QStringLiteral("127.0.0.1"), simulator.port(0));

        if (expected == "error") {
            QVERIFY(errors.wait(5000));
            QCOMPARE(connects.size(), 0);
        } else if (expected == "connect-close") {
            QVERIFY(connects.wait(5000));
            QTRY_COMPARE_WITH_TIMEOUT(closes.size() + errors.size(), 1, 5000);
        } else {
            // Neither outcome within a good while: the connect is left hanging.
            QVERIFY(!connects.wait(700));
            QCOMPARE(errors.size(), 0);
            QVERIFY(sockets.state(0) != SocketState::Closed);
            QCOMPARE(simulator.connectionCount(0), 0);
        }
    }

    // The flood keeps coming as long as the peer reads.
    void floodKeepsSending()
    {
        SimulatorOptions options = loopbackOptions();
        options.udp = false;
        options.flood = true;
        DisplaySimulator simulator(options);
        QVERIFY(simulator.start());
        QTcpSocket peer;
        qint64 total = 0;
        connect(&peer, &QTcpSocket::readyRead, this, [&] { total += peer.readAll().size(); });
        peer.connectToHost(QHostAddress::LocalHost, simulator.port(0));
        QTRY_VERIFY_WITH_TIMEOUT(total > 8 * DisplaySimulator::kFloodChunk, 10000);
    }

    void headlessLines()
    {
        SimulatorOptions options = loopbackOptions();
        DisplaySimulator simulator(options);
        QVERIFY(simulator.start());
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        HeadlessReport report(simulator, &out);
        report.setClock([] { return QDateTime(QDate(2026, 12, 6), QTime(14, 3, 22, 120)); });
        report.reportStarted();

        QTcpSocket peer;
        QSignalSpy closed(&simulator, &DisplaySimulator::connectionClosed);
        peer.connectToHost(QHostAddress::LocalHost, simulator.port(0));
        QVERIFY(peer.waitForConnected(5000));
        const QString client = QStringLiteral("127.0.0.1:%1").arg(peer.localPort());
        peer.write("xx\307000130\xC7-050000\xC7\x01\"\\");
        QVERIFY(peer.waitForBytesWritten(5000));
        QTRY_VERIFY(out.data().contains("\\x01"));
        peer.disconnectFromHost();
        QVERIFY(closed.wait(5000));

        const QString display = QStringLiteral("127.0.0.1:%1").arg(simulator.port(0));
        const QString expected = QStringLiteral("14:03:22.120 %1 listening\n"
                                                "14:03:22.120 udp listening on port %3\n"
                                                "14:03:22.120 %1 connected %2\n"
                                                "14:03:22.120 %1 frame \"000130\"\n"
                                                "14:03:22.120 %1 frame \"-050000\"\n"
                                                "14:03:22.120 %1 frame \"\\x01\\x22\\x5c\"\n"
                                                "14:03:22.120 %1 closed %2\n")
                                     .arg(display, client)
                                     .arg(simulator.udpPort());
        QCOMPARE(QString::fromUtf8(out.data()), expected);
    }
};

QTEST_MAIN(TestSimulator)
#include "tst_simulator.moc"
