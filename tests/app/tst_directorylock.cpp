#include "app/directorylock.h"
#include "support/consoleprocess.h"
#include "support/testfiles.h"

#include <QtTest>

#include <csignal>
#include <optional>

// One console per working directory. The consoles here have an empty address
// list, so they connect to nothing and need no network.
class TestDirectoryLock : public QObject
{
    Q_OBJECT
private slots:
    void init() { QVERIFY(m_dir.emplace().isValid()); }
    void cleanup() { m_dir.reset(); }
    void heldLockNamed_data();
    void heldLockNamed();
    void consoles_data();
    void consoles();

private:
    std::optional<TempCurrentDir> m_dir;
};

namespace {

const QString kLock = QStringLiteral(".rv38t-timer.lock");

qint64 lockOwner()
{
    return readAll(kLock).split('\n').value(0).toLongLong();
}

} // namespace

void TestDirectoryLock::heldLockNamed_data()
{
    QTest::addColumn<QString>("host"); // "" for this machine, held by this process
    QTest::addColumn<QString>("says");
    QTest::newRow("this-machine") << QString() << QString();
    // A shared network directory: the process cannot be checked from here, so
    // the lock is never taken over, and the message says how to clear it.
    QTest::newRow("other-machine") << QStringLiteral("stage-left-pc")
                                   << QStringLiteral("It runs on another machine, stage-left-pc");
}

void TestDirectoryLock::heldLockNamed()
{
    QFETCH(QString, host);
    QFETCH(QString, says);
    DirectoryLock first;
    QString message;
    qint64 pid = QCoreApplication::applicationPid();
    if (host.isEmpty()) {
        host = QSysInfo::machineHostName();
        QCOMPARE(first.take(&message), DirectoryLock::Outcome::Held);
    } else {
        pid = 4242;
        QVERIFY(writeAll(kLock, "4242\nrv38t-timer\n" + host.toUtf8() + "\n"));
    }
    DirectoryLock second;
    QCOMPARE(second.take(&message), DirectoryLock::Outcome::Busy);
    QVERIFY2(message.contains(QStringLiteral("another console (%1:%2)").arg(host).arg(pid)),
             qPrintable(message));
    QVERIFY2(message.contains(says), qPrintable(message));
    QVERIFY2(message.contains(QStringLiteral("delete ") + QDir::current().filePath(kLock)),
             qPrintable(message));
    // Its own file: neither configuration file is made or touched.
    QCOMPARE(QDir::current().entryList(QDir::Files | QDir::Hidden), QStringList{kLock});
}

void TestDirectoryLock::consoles_data()
{
    QTest::addColumn<bool>("firstCrashes");
    QTest::newRow("second-console-stops") << false;
    QTest::newRow("crashed-console-taken-over") << true;
}

void TestDirectoryLock::consoles()
{
    QFETCH(bool, firstCrashes);
    QVERIFY(writeAll(QStringLiteral("LST_IP.CFG"), ""));
    QProcess first;
    startConsole(first);
    QVERIFY2(first.waitForStarted(10000), qPrintable(consoleProgram()));
    QTRY_COMPARE_WITH_TIMEOUT(lockOwner(), first.processId(), 10000);
    if (firstCrashes) {
        first.kill(); // SIGKILL: no chance to remove its lock
        QVERIFY(first.waitForFinished(10000));
        QVERIFY(QFile::exists(kLock));
    }

    QProcess second;
    startConsole(second);
    QVERIFY(second.waitForStarted(10000));
    if (firstCrashes) {
        QTRY_COMPARE_WITH_TIMEOUT(lockOwner(), second.processId(), 10000);
        QCOMPARE(second.state(), QProcess::Running);
        ::kill(pid_t(second.processId()), SIGTERM);
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(!QFile::exists(kLock));
    } else {
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 1);
        const QString said = QString::fromLocal8Bit(second.readAllStandardError());
        QVERIFY2(said.contains(QStringLiteral("another console (%1:%2)")
                                   .arg(QSysInfo::machineHostName())
                                   .arg(first.processId())),
                 qPrintable(said));
        QCOMPARE(lockOwner(), first.processId());
        QCOMPARE(first.state(), QProcess::Running);
        ::kill(pid_t(first.processId()), SIGTERM);
        QVERIFY(first.waitForFinished(10000));
        QCOMPARE(first.exitCode(), 0);
    }
    QCOMPARE(readAll(QStringLiteral("LST_IP.CFG")), QByteArray());
}

QTEST_MAIN(TestDirectoryLock)
#include "tst_directorylock.moc"
