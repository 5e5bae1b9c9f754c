#include "app/mainwindow.h"
#include "app/unixsignals.h"
#include "controls/titlefield.h"
#include "support/consoleprocess.h"
#include "support/fakesockets.h"
#include "support/testfiles.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <csignal>
#include <optional>
#include <sched.h>
#include <unistd.h>

// SIGTERM, SIGINT and SIGHUP close the console as its window's own close does.
class TestSignals : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { QVERIFY(m_dir.emplace().isValid()); }
    void cleanup() { m_dir.reset(); }
    void signalReachesTheLoop_data();
    void signalReachesTheLoop();
    void consoleClosesInOrder_data();
    void consoleClosesInOrder();

private:
    std::optional<TempCurrentDir> m_dir;
    QString m_noNetwork; // why the real console cannot be started safely here
};

void TestSignals::initTestCase()
{
    // The real console may broadcast a recovery frame; it runs with this test in
    // a network namespace of its own that holds nothing but loopback.
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNET) != 0)
        m_noNetwork = QStringLiteral("needs root for a private network namespace (unshare)");
    else if (QProcess::execute(QStringLiteral("ip"), {"link", "set", "lo", "up"}) != 0)
        m_noNetwork = QStringLiteral("could not bring loopback up in the private namespace");
}

void TestSignals::signalReachesTheLoop_data()
{
    QTest::addColumn<int>("number");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void TestSignals::signalReachesTheLoop()
{
    QFETCH(int, number);
    FakeSocketFactory sockets;
    MainWindow window(sockets);
    window.Form_Load();
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    window.INP_TITLE->setFocus(Qt::TabFocusReason);
    window.INP_TITLE->selectAll();
    QTest::keyClicks(window.INP_TITLE, QStringLiteral("Act II"));

    struct sigaction before
    {};
    QVERIFY(::sigaction(number, nullptr, &before) == 0);
    QList<int> seen;
    {
        UnixSignals closer([&](int received) {
            seen.append(received);
            window.close();
        });
        QVERIFY(closer.isActive());
        QVERIFY(::raise(number) == 0);
        QVERIFY(seen.isEmpty()); // nothing ran inside the handler
        QTRY_VERIFY(!window.isVisible());
    }
    QCOMPARE(seen, QList<int>{number});
    // The title still in its field was saved, as the window's close saves it.
    QCOMPARE(readAll(QStringLiteral("TITLE.CFG")), QByteArray("Act II\r\n"));
    // Gone with the object: the signal's earlier disposition is back.
    struct sigaction now
    {};
    QVERIFY(::sigaction(number, nullptr, &now) == 0);
    QVERIFY(now.sa_handler == before.sa_handler);
}

void TestSignals::consoleClosesInOrder_data()
{
    signalReachesTheLoop_data();
}

void TestSignals::consoleClosesInOrder()
{
    QFETCH(int, number);
    if (!m_noNetwork.isEmpty())
        QSKIP(qPrintable(m_noNetwork + QStringLiteral("; skipped")));
    QTcpServer display; // the display port, free in this private namespace
    QVERIFY2(display.listen(QHostAddress::LocalHost, 1024), qPrintable(display.errorString()));
    QVERIFY(writeAll(QStringLiteral("LST_IP.CFG"), "127.0.0.1\r\n"));
    QVERIFY(writeAll(QStringLiteral("TITLE.CFG"), "Act I\r\n"));

    QProcess console;
    startConsole(console);
    QVERIFY2(console.waitForStarted(10000), qPrintable(consoleProgram()));
    // Up and running: connected, and its first frame received.
    QVERIFY(display.waitForNewConnection(15000));
    QTcpSocket *peer = display.nextPendingConnection();
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += peer->readAll()).size() >= 7, 5000);
    QSignalSpy gone(peer, &QTcpSocket::disconnected);

    QVERIFY(::kill(pid_t(console.processId()), number) == 0);
    QVERIFY(console.waitForFinished(10000));
    QCOMPARE(console.exitStatus(), QProcess::NormalExit);
    QCOMPARE(console.exitCode(), 0);
    // Its connection ended, its lock went with it, and its files are as they were.
    QTRY_VERIFY_WITH_TIMEOUT(
        gone.count() == 1 || peer->state() == QAbstractSocket::UnconnectedState, 5000);
    QVERIFY(!QFile::exists(QStringLiteral(".rv38t-timer.lock")));
    QCOMPARE(readAll(QStringLiteral("TITLE.CFG")), QByteArray("Act I\r\n"));
    QCOMPARE(readAll(QStringLiteral("LST_IP.CFG")), QByteArray("127.0.0.1\r\n"));
}

QTEST_MAIN(TestSignals)
#include "tst_signals.moc"
