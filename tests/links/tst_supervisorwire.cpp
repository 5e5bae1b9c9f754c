#include "links/qtsockets.h"
#include "support/roomsfixture.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
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
    void init();
    void acceptingDisplayGetsTheTimeFirst();
    void displayClosingItsSideIsRetried();
    void refusedConnectionsEndInOneRecovery();
    void unusableTextFailsAndTheTickGoesOn();
    void attemptPendingAtTheNextTickIsClosed();
    void realTimerConnectsAndPaintsTheLamp();

private:
    // A display mimic: a listener on one loopback address.
    static bool listen(QTcpServer &server, const char *address, quint16 port = 0)
    {
        return server.listen(QHostAddress(QLatin1String(address)), port);
    }
    // A port on 127.0.0.1 that nobody listens on.
    static quint16 deadPort()
    {
        QTcpServer probe;
        return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
    }

    std::unique_ptr<QUdpSocket> m_recovery;
};

void TestSupervisorWire::init()
{
    m_recovery = std::make_unique<QUdpSocket>();
    QVERIFY(m_recovery->bind(QHostAddress::LocalHost, 0));
}

void TestSupervisorWire::acceptingDisplayGetsTheTimeFirst()
{
    QTcpServer display;
    if (!listen(display, "127.0.0.2"))
        QSKIP("127.0.0.2 cannot be bound on this system's loopback");
    QtSocketFactory factory(QStringLiteral("127.0.0.1"), m_recovery->localPort());
    RoomsFixture f(factory);
    f.supervisor.setDisplayPort(display.serverPort());
    f.setTime(QStringLiteral("00"), QStringLiteral("01"), QStringLiteral("30"));
    f.addEntry(QStringLiteral("127.0.0.2"));
    f.tcp.setTag(0, QStringLiteral("2"));

    f.tick();
    QCOMPARE(f.lamp(), RoomsFixture::red());
    QTRY_VERIFY(f.list.isMarked(0));
    QCOMPARE(f.log.text(), f.logLine(QStringLiteral("127.0.0.2= CONNECT")));
    QCOMPARE(f.tcp.tag(0), QStringLiteral("0"));

    QTRY_VERIFY(display.hasPendingConnections());
    QTcpSocket *peer = display.nextPendingConnection();
    QTRY_VERIFY(peer->bytesAvailable() >= 7);
    QCOMPARE(peer->read(7), QByteArrayLiteral("\xC7"
                                              "000130"));

    // A change of a field reaches the display straight after.
    f.inpDelay2.setText(QStringLiteral("29"));
    QTRY_VERIFY(peer->bytesAvailable() >= 7);
    QCOMPARE(peer->readAll(), QByteArrayLiteral("\xC7"
                                                "000129"));
    f.tick();
    QCOMPARE(f.lamp(), RoomsFixture::green());
}

void TestSupervisorWire::displayClosingItsSideIsRetried()
{
    QTcpServer display;
    if (!listen(display, "127.0.0.3"))
        QSKIP("127.0.0.3 cannot be bound on this system's loopback");
    QtSocketFactory factory(QStringLiteral("127.0.0.1"), m_recovery->localPort());
    RoomsFixture f(factory);
    f.supervisor.setDisplayPort(display.serverPort());
    f.addEntry(QStringLiteral("127.0.0.3"));
    QSignalSpy connects(&f.tcp, &TcpSocketArray::connectEvent);
    QSignalSpy closes(&f.tcp, &TcpSocketArray::closeEvent);

    f.tick();
    QTRY_VERIFY(f.list.isMarked(0));
    QTRY_VERIFY(display.hasPendingConnections());
    QTcpSocket *peer = display.nextPendingConnection();
    peer->disconnectFromHost();

    QTRY_COMPARE(closes.size(), 1);
    QVERIFY(!f.list.isMarked(0));
    QVERIFY(f.tcp.state(0) != StateClosed);

    f.tick();
    QCOMPARE(f.tcp.state(0), int(StateClosed));
    f.tick();
    QVERIFY(f.tcp.state(0) != StateClosed);
    QTRY_COMPARE(connects.size(), 2);
    QVERIFY(f.list.isMarked(0));
    // The close was reported once, and nothing counted it as an error.
    QCOMPARE(f.log.text(), f.logLine(QStringLiteral("127.0.0.3= CONNECT"))
                               + f.logLine(QStringLiteral("127.0.0.3= CLOSE"))
                               + f.logLine(QStringLiteral("127.0.0.3= CONNECT")));
    QCOMPARE(closes.size(), 1);
    QCOMPARE(f.tcp.tag(0), QStringLiteral("0"));
}

void TestSupervisorWire::refusedConnectionsEndInOneRecovery()
{
    const quint16 port = deadPort();
    QVERIFY(port != 0);
    QtSocketFactory factory(QStringLiteral("127.0.0.1"), m_recovery->localPort());
    RoomsFixture f(factory);
    f.supervisor.setDisplayPort(port);
    f.addEntry(QStringLiteral("127.0.0.1"));
    QSignalSpy errors(&f.tcp, &TcpSocketArray::errorEvent);
    QSignalSpy panel(&f.swCfg, &QCheckBox::toggled);

    for (int attempt = 1; attempt <= 4; ++attempt) {
        // A tick closes what the last failure left, the next one connects.
        f.tick();
        if (f.tcp.state(0) == StateClosed)
            f.tick();
        QVERIFY(f.tcp.state(0) != StateClosed);
        QTRY_COMPARE(errors.size(), attempt);
        QCOMPARE(f.swCfg.isChecked(), attempt == 4);
        QCOMPARE(f.tcp.tag(0), QString::number(attempt == 4 ? 1 : attempt));
    }
    QCOMPARE(panel.size(), 1);

    const QStringList lines = f.log.text().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
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
    QTcpServer display;
    if (!listen(display, "127.0.0.2"))
        QSKIP("127.0.0.2 cannot be bound on this system's loopback");
    QtSocketFactory factory(QStringLiteral("127.0.0.1"), m_recovery->localPort());
    RoomsFixture f(factory);
    f.supervisor.setDisplayPort(display.serverPort());
    f.addEntry(QString());
    f.addEntry(QStringLiteral("127.0.0.2"));
    QSignalSpy errors(&f.tcp, &TcpSocketArray::errorEvent);

    f.tick();
    QCOMPARE(f.lamp(), RoomsFixture::red());
    QTRY_COMPARE(errors.size(), 1);
    QCOMPARE(errors.at(0).at(0).toInt(), 0);
    QTRY_VERIFY(f.list.isMarked(1));
    QVERIFY(!f.list.isMarked(0));
    QVERIFY(f.log.text().startsWith(RoomsFixture::logStamp() + QStringLiteral("= ")));
    QCOMPARE(f.tcp.tag(0), QStringLiteral("1"));
}

void TestSupervisorWire::attemptPendingAtTheNextTickIsClosed()
{
    // A listener whose accept queue is full: the kernel drops further
    // handshakes, so an attempt stays pending until the display makes room.
    QTcpServer display;
    display.setListenBacklogSize(0);
    if (!listen(display, "127.0.0.2"))
        QSKIP("127.0.0.2 cannot be bound on this system's loopback");
    display.pauseAccepting();
    QTcpSocket filler;
    filler.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), display.serverPort());
    QVERIFY(filler.waitForConnected(5000));

    QtSocketFactory factory(QStringLiteral("127.0.0.1"), m_recovery->localPort());
    RoomsFixture f(factory);
    f.supervisor.setDisplayPort(display.serverPort());
    f.addEntry(QStringLiteral("127.0.0.2"));
    QSignalSpy connects(&f.tcp, &TcpSocketArray::connectEvent);
    QSignalSpy errors(&f.tcp, &TcpSocketArray::errorEvent);

    f.tick();
    QVERIFY(f.tcp.state(0) != StateClosed);
    QCoreApplication::processEvents();
    if (!connects.isEmpty())
        QSKIP("the kernel completed the handshake despite the full accept queue");

    f.tick(); // still pending: closed, and nothing of it is reported later
    QCOMPARE(f.tcp.state(0), int(StateClosed));
    QVERIFY(!f.list.isMarked(0));

    // The display makes room; the tick after starts an attempt that succeeds.
    display.resumeAccepting();
    f.tick();
    QVERIFY(f.tcp.state(0) != StateClosed);
    QTRY_VERIFY_WITH_TIMEOUT(f.list.isMarked(0), 10000);
    QCOMPARE(connects.size(), 1);
    QCOMPARE(errors.size(), 0);
    QCOMPARE(f.log.text(), f.logLine(QStringLiteral("127.0.0.2= CONNECT")));
}

void TestSupervisorWire::realTimerConnectsAndPaintsTheLamp()
{
    QTcpServer display;
    if (!listen(display, "127.0.0.2"))
        QSKIP("127.0.0.2 cannot be bound on this system's loopback");
    QtSocketFactory factory(QStringLiteral("127.0.0.1"), m_recovery->localPort());
    RoomsFixture f(factory);
    f.supervisor.setDisplayPort(display.serverPort());
    f.addEntry(QStringLiteral("127.0.0.2"));

    f.timIpCon.start();
    QTRY_VERIFY_WITH_TIMEOUT(f.list.isMarked(0), 5000);
    QCOMPARE(f.lamp(), RoomsFixture::red());
    QTRY_COMPARE_WITH_TIMEOUT(f.lamp(), RoomsFixture::green(), 5000);
}

QTEST_MAIN(TestSupervisorWire)
#include "tst_supervisorwire.moc"
