#include "support/consoleprocess.h"
#include "app/options.h"
#include "app/remoteservices.h"
#include "remote/remoteserver.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

// Remote options that cannot be honoured stop the program before its window.
class TestRemoteOptions : public QObject
{
    Q_OBJECT

private slots:
    void refused_data();
    void refused();
    void portInUse_data();
    void portInUse();
    void loopbackBinds();
    void programExitsOnPortInUse();
};

static Options options(const QStringList &args)
{
    const ParsedOptions p = parseOptions(QStringList{QStringLiteral("rv38t-timer")} + args);
    return p.options;
}

void TestRemoteOptions::refused_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message"); // a part of the message

    QTest::newRow("token-alone") << QStringList{"--remote-token", "x"}
                                 << "--remote-token needs --remote";
    QTest::newRow("allow-alone") << QStringList{"--osc-allow", "10.0.0.0/8"}
                                 << "--osc-allow needs --osc";
    QTest::newRow("port-too-big") << QStringList{"--remote", "70000"} << "port must be a number";
    QTest::newRow("port-not-number") << QStringList{"--remote", "http"} << "port must be a number";
    QTest::newRow("host-name") << QStringList{"--remote", "localhost:8080"} << "not an IP address";
    QTest::newRow("v6-without-brackets") << QStringList{"--remote", "::1:8080"} << "brackets";
    QTest::newRow("lan-without-token")
        << QStringList{"--remote", "192.0.2.1:0"} << "--remote-token";
    QTest::newRow("any-without-token") << QStringList{"--remote", "0.0.0.0:0"} << "--remote-token";
    QTest::newRow("address-not-here")
        << QStringList{"--remote", "192.0.2.1:0", "--remote-token", "x"} << "not on this machine";
    QTest::newRow("osc-address-not-here")
        << QStringList{"--osc", "192.0.2.1:0"} << "not on this machine";
    QTest::newRow("name-alone") << QStringList{"--remote-name", "show.local"}
                                << "--remote-name needs --remote";
    QTest::newRow("name-an-address")
        << QStringList{"--remote", "0", "--remote-name", "10.0.0.1"} << "give a host name";
    QTest::newRow("name-with-port")
        << QStringList{"--remote", "0", "--remote-name", "show.local:80"} << "give a host name";
    QTest::newRow("bad-cidr") << QStringList{"--osc", "0", "--osc-allow", "10.0.0.0/99"} << "CIDR";
}

void TestRemoteOptions::refused()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QString error;
    const auto services = RemoteServices::start(options(args), &error);
    QVERIFY(!services);
    QVERIFY2(error.contains(message), qPrintable(error));
}

void TestRemoteOptions::portInUse_data()
{
    QTest::addColumn<bool>("udp");
    QTest::newRow("remote") << false;
    QTest::newRow("osc") << true;
}

void TestRemoteOptions::portInUse()
{
    QFETCH(bool, udp);
    QTcpServer tcp;
    QUdpSocket datagrams;
    quint16 port = 0;
    if (udp) {
        QVERIFY(datagrams.bind(QHostAddress::LocalHost, 0));
        port = datagrams.localPort();
    } else {
        QVERIFY(tcp.listen(QHostAddress::LocalHost, 0));
        port = tcp.serverPort();
    }
    QString error;
    const auto services
        = RemoteServices::start(options({udp ? QStringLiteral("--osc") : QStringLiteral("--remote"),
                                         QString::number(port)}),
                                &error);
    QVERIFY(!services);
    QVERIFY2(error.contains(QLatin1String("in use")), qPrintable(error));
}

void TestRemoteOptions::loopbackBinds()
{
    QString error;
    const auto services
        = RemoteServices::start(options({"--remote", "0", "--osc", "127.0.0.1:0"}), &error);
    QVERIFY2(services, qPrintable(error));
    QVERIFY(services->http()->address().isLoopback());
    QVERIFY(services->http()->port() != 0);
}

void TestRemoteOptions::programExitsOnPortInUse()
{
    const QString program = consoleProgram();
    if (!QFileInfo(program).isExecutable())
        QSKIP("rv38t-timer not found under RV38T_BUILD_DIR");

    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
    QTemporaryDir dir; // no address file: the console would have no display to reach
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start(program,
            {QStringLiteral("--remote"), QStringLiteral("127.0.0.1:%1").arg(taken.serverPort())});
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 2);
    QVERIFY2(p.readAllStandardError().contains("is in use"), "no clear message");
}

QTEST_MAIN(TestRemoteOptions)
#include "tst_remoteoptions.moc"
