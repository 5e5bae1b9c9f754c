#include "core/qtsockets.h"
#include "support/loopback.h"
#include "support/roomsfixture.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

// The supervisor over real sockets, against displays mimicked on loopback
// addresses. The recovery frame goes to a loopback UDP listener, never to a
// broadcast address.
class TestSupervisorWire : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void acceptingDisplayGetsTheTimeFirst();
    void displayClosingItsSideIsRetried();
    void refusedConnectionsEndInOneRecovery();
    void unusableTextFailsAndTheTickGoesOn();
    void attemptPendingAtTheNextTickIsClosed();
    void realTimerConnectsAndPaintsTheLamp();

private:
    // The rooms over the real socket layer, aimed at `displayPort`; the recovery
    // frame goes to m_recovery.
    std::unique_ptr<RoomsFixture> rooms(quint16 displayPort)
    {
        m_factory = std::make_unique<QtSocketFactory>(QStringLiteral("127.0.0.1"),
                                                      m_recovery->localPort());
        auto f = std::make_unique<RoomsFixture>(*m_factory);
        f->supervisor.setDisplayPort(displayPort);
        return f;
    }

    std::unique_ptr<QtSocketFactory> m_factory;
    std::unique_ptr<QUdpSocket> m_recovery;
};

void TestSupervisorWire::initTestCase()
{
    if (!LoopbackDisplay(QStringLiteral("127.0.0.3")).isListening())
        QSKIP("127.0.0.2 and 127.0.0.3 cannot be bound on this system's loopback");
}

void TestSupervisorWire::init()
{
    m_recovery = std::make_unique<QUdpSocket>();
    QVERIFY(m_recovery->bind(QHostAddress::LocalHost, 0));
}

void TestSupervisorWire::acceptingDisplayGetsTheTimeFirst()
{
    LoopbackDisplay display(QStringLiteral("127.0.0.2"));
    QVERIFY(display.isListening());
    const auto f = rooms(display.port());
    f->setTime(QStringLiteral("00"), QStringLiteral("01"), QStringLiteral("30"));
    f->addEntry(QStringLiteral("127.0.0.2"));
    f->tcp.setTag(0, QStringLiteral("2"));

    f->tick();
    QCOMPARE(f->lamp(), RoomsFixture::red());
    QTRY_VERIFY(f->list.isMarked(0));
    QCOMPARE(f->log.text(), f->logLine(QStringLiteral("127.0.0.2= CONNECT")));
    QCOMPARE(f->tcp.tag(0), QStringLiteral("0"));

    QTcpSocket *peer = display.accepted();
    QVERIFY(peer);
    QTRY_VERIFY(peer->bytesAvailable() >= 7);
    QCOMPARE(peer->read(7), QByteArrayLiteral("\xC7"
                                              "000130"));

    // A change of a field reaches the display straight after.
    f->inpDelay2.setText(QStringLiteral("29"));
    QTRY_VERIFY(peer->bytesAvailable() >= 7);
    QCOMPARE(peer->readAll(), QByteArrayLiteral("\xC7"
                                                "000129"));
    f->tick();
    QCOMPARE(f->lamp(), RoomsFixture::green());
}

void TestSupervisorWire::displayClosingItsSideIsRetried()
{
    LoopbackDisplay display(QStringLiteral("127.0.0.3"));
    QVERIFY(display.isListening());
    const auto f = rooms(display.port());
    f->addEntry(QStringLiteral("127.0.0.3"));
    QSignalSpy connects(&f->tcp, &TcpSocketArray::connectEvent);
    QSignalSpy closes(&f->tcp, &TcpSocketArray::closeEvent);

    f->tick();
    QTRY_VERIFY(f->list.isMarked(0));
    QTcpSocket *peer = display.accepted();
    QVERIFY(peer);
    peer->disconnectFromHost();

    QTRY_COMPARE(closes.size(), 1);
    QVERIFY(!f->list.isMarked(0));
    QVERIFY(f->tcp.state(0) != SocketState::Closed);

    f->tick();
    QCOMPARE(f->tcp.state(0), SocketState::Closed);
    f->tick();
    QVERIFY(f->tcp.state(0) != SocketState::Closed);
    QTRY_COMPARE(connects.size(), 2);
    QVERIFY(f->list.isMarked(0));
    // The close was reported once, and nothing counted it as an error.
    QCOMPARE(f->log.text(), f->logLine(QStringLiteral("127.0.0.3= CONNECT"))
                                + f->logLine(QStringLiteral("127.0.0.3= CLOSE"))
                                + f->logLine(QStringLiteral("127.0.0.3= CONNECT")));
    QCOMPARE(closes.size(), 1);
    QCOMPARE(f->tcp.tag(0), QStringLiteral("0"));
}

void TestSupervisorWire::refusedConnectionsEndInOneRecovery()
{
    const quint16 port = unusedPort();
    QVERIFY(port != 0);
    const auto f = rooms(port);
    f->addEntry(QStringLiteral("127.0.0.1"));
    QSignalSpy errors(&f->tcp, &TcpSocketArray::errorEvent);
    QSignalSpy panel(&f->swCfg, &QCheckBox::toggled);

    for (int attempt = 1; attempt <= 4; ++attempt) {
        // A tick closes what the last failure left, the next one connects.
        f->tick();
        if (f->tcp.state(0) == SocketState::Closed)
            f->tick();
        QVERIFY(f->tcp.state(0) != SocketState::Closed);
        QTRY_COMPARE(errors.size(), attempt);
        QCOMPARE(f->swCfg.isChecked(), attempt == 4);
        QCOMPARE(f->tcp.tag(0), QString::number(attempt == 4 ? 1 : attempt));
    }
    QCOMPARE(panel.size(), 1);

    const QStringList lines = f->log.text().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    for (const QString &line : lines) {
        QVERIFY2(line.startsWith(RoomsFixture::logStamp() + QStringLiteral("127.0.0.1= ")),
                 qPrintable(line));
        QVERIFY2(line.size() > RoomsFixture::logStamp().size() + 11, qPrintable(line));
    }

    QTRY_VERIFY(m_recovery->hasPendingDatagrams());
    QCOMPARE(m_recovery->receiveDatagram().data(), QByteArrayLiteral("\xFE\xFF\x06"
                                                                     "127.0.0.1"));
    // Exactly one: a marker sent now must be the next datagram to arrive.
    QUdpSocket marker;
    marker.writeDatagram(QByteArrayLiteral("marker"), QHostAddress::LocalHost,
                         m_recovery->localPort());
    QTRY_VERIFY(m_recovery->hasPendingDatagrams());
    QCOMPARE(m_recovery->receiveDatagram().data(), QByteArrayLiteral("marker"));
}

void TestSupervisorWire::unusableTextFailsAndTheTickGoesOn()
{
    LoopbackDisplay display(QStringLiteral("127.0.0.2"));
    QVERIFY(display.isListening());
    const auto f = rooms(display.port());
    f->addEntry(QString());
    f->addEntry(QStringLiteral("127.0.0.2"));
    QSignalSpy errors(&f->tcp, &TcpSocketArray::errorEvent);

    f->tick();
    QCOMPARE(f->lamp(), RoomsFixture::red());
    QTRY_COMPARE(errors.size(), 1);
    QCOMPARE(errors.at(0).at(0).toInt(), 0);
    QTRY_VERIFY(f->list.isMarked(1));
    QVERIFY(!f->list.isMarked(0));
    QVERIFY(f->log.text().startsWith(RoomsFixture::logStamp() + QStringLiteral("= ")));
    QCOMPARE(f->tcp.tag(0), QStringLiteral("1"));
}

void TestSupervisorWire::attemptPendingAtTheNextTickIsClosed()
{
    // A listener whose accept queue is full: the kernel drops further
    // handshakes, so an attempt stays pending until the display makes room.
    QTcpServer display;
    display.setListenBacklogSize(0);
    QVERIFY(display.listen(QHostAddress(QStringLiteral("127.0.0.2"))));
    display.pauseAccepting();
    QTcpSocket filler;
    filler.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), display.serverPort());
    QVERIFY(filler.waitForConnected(5000));

    const auto f = rooms(display.serverPort());
    f->addEntry(QStringLiteral("127.0.0.2"));
    QSignalSpy connects(&f->tcp, &TcpSocketArray::connectEvent);
    QSignalSpy errors(&f->tcp, &TcpSocketArray::errorEvent);

    f->tick();
    QVERIFY(f->tcp.state(0) != SocketState::Closed);
    QCoreApplication::processEvents();
    if (!connects.isEmpty())
        QSKIP("the kernel completed the handshake despite the full accept queue");

    f->tick(); // still pending: closed, and nothing of it is reported later
    QCOMPARE(f->tcp.state(0), SocketState::Closed);
    QVERIFY(!f->list.isMarked(0));

    // The display makes room; the tick after starts an attempt that succeeds.
    display.resumeAccepting();
    f->tick();
    QVERIFY(f->tcp.state(0) != SocketState::Closed);
    QTRY_VERIFY_WITH_TIMEOUT(f->list.isMarked(0), 10000);
    QCOMPARE(connects.size(), 1);
    QCOMPARE(errors.size(), 0);
    QCOMPARE(f->log.text(), f->logLine(QStringLiteral("127.0.0.2= CONNECT")));
}

void TestSupervisorWire::realTimerConnectsAndPaintsTheLamp()
{
    LoopbackDisplay display(QStringLiteral("127.0.0.2"));
    QVERIFY(display.isListening());
    const auto f = rooms(display.port());
    f->addEntry(QStringLiteral("127.0.0.2"));

    f->timIpCon.start();
    QTRY_VERIFY_WITH_TIMEOUT(f->list.isMarked(0), 5000);
    QCOMPARE(f->lamp(), RoomsFixture::red());
    QTRY_COMPARE_WITH_TIMEOUT(f->lamp(), RoomsFixture::green(), 5000);
}

QTEST_MAIN(TestSupervisorWire)
#include "tst_supervisorwire.moc"
