#include "controls/controls.h"
#include "app/mainwindow.h"
#include "app/options.h"
#include "app/remoteservices.h"
#include "links/addresslist.h"
#include "core/qtsockets.h"
#include "links/supervisor.h"
#include "support/testfiles.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

// The console is a client only: nothing on the network can connect to it.
class TestNoListen : public QObject
{
    Q_OBJECT

private slots:
    void consoleOpensNoListeningSocket();
    void noOptionsStartNoRemote();
};

// Inodes of the sockets this process holds open.
static QSet<QString> ownSocketInodes()
{
    QSet<QString> inodes;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        const QString name = QFileInfo(target).fileName();
        if (name.startsWith(QLatin1String("socket:[")))
            inodes.insert(name.mid(8).chopped(1));
    }
    return inodes;
}

// Inodes of every TCP socket in the listening state, IPv4 and IPv6.
static QSet<QString> listeningInodes()
{
    QSet<QString> inodes;
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        file.readLine(); // header
        while (!file.atEnd()) {
            const QList<QByteArray> fields = file.readLine().simplified().split(' ');
            if (fields.size() > 9 && fields[3] == "0A")
                inodes.insert(QString::fromLatin1(fields[9]));
        }
    }
    return inodes;
}

void TestNoListen::consoleOpensNoListeningSocket()
{
    TempCurrentDir dir;
    QVERIFY(dir.isValid());

    // A display that accepts, and a recovery listener, both the test's own.
    QTcpServer display;
    QVERIFY(display.listen(QHostAddress(QStringLiteral("127.0.0.1"))));
    QUdpSocket recovery;
    QVERIFY(recovery.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    const QSet<QString> before = ownSocketInodes() & listeningInodes();
    QCOMPARE(before.size(), 1); // the check sees the test's own listener

    QFile list(QStringLiteral("LST_IP.CFG"));
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write("127.0.0.1\r\n");
    list.close();

    QtSocketFactory sockets(QStringLiteral("127.0.0.1"), recovery.localPort());
    MainWindow window(sockets);
    window.supervisor()->setDisplayPort(display.serverPort());
    window.Form_Load();
    window.supervisor()->TIM_IP_CON_Timer();
    QTRY_VERIFY(window.addressList()->isMarked(0));
    window.INP_DELAY[2]->setText(QStringLiteral("05"));

    const QSet<QString> after = ownSocketInodes() & listeningInodes();
    QCOMPARE(after, before);
}

void TestNoListen::noOptionsStartNoRemote()
{
    const QSet<QString> before = ownSocketInodes();
    QString error;
    const ParsedOptions parsed = parseOptions({QStringLiteral("rv38t-timer")});
    QCOMPARE(parsed.outcome, ParsedOptions::Outcome::Run);
    const auto remote = RemoteServices::start(parsed.options, &error);
    QVERIFY(!remote);
    QVERIFY(error.isEmpty());
    QCOMPARE(ownSocketInodes(), before); // no socket at all, listening or not
}

QTEST_MAIN(TestNoListen)
#include "tst_nolisten.moc"
