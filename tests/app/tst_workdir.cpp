#include "app/workdir.h"
#include "support/testfiles.h"

#include <QProcess>
#include <QtTest>

#include <optional>

// Where the console works: unchanged without options, --dir DIR, or the user's
// data directory with --data-dir; made when missing, refused with a message
// when it cannot be made or entered.
class TestWorkdir : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(m_dir.emplace().isValid());
        m_base = QDir::currentPath();
        m_xdg = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_base + QStringLiteral("/xdg")));
        QVERIFY(writeAll(QStringLiteral("plain-file"), "x"));
    }
    void cleanup()
    {
        qputenv("XDG_DATA_HOME", m_xdg);
        m_dir.reset();
    }
    void enter_data();
    void enter();
    void programRefusesBadDir_data();
    void programRefusesBadDir();

private:
    std::optional<TempCurrentDir> m_dir;
    QString m_base;
    QByteArray m_xdg;
};

void TestWorkdir::enter_data()
{
    QTest::addColumn<QString>("dir");      // --dir, relative to the starting directory
    QTest::addColumn<bool>("dataDir");     // --data-dir
    QTest::addColumn<QString>("expected"); // current afterwards, relative; empty = refused
    QTest::addColumn<QString>("error");    // part of the message when refused

    QTest::newRow("no-option") << QString() << false << QString(".") << QString();
    QTest::newRow("dir-existing") << QString("xdg") << false << QString("xdg") << QString();
    QTest::newRow("dir-missing-nested")
        << QString("a/b/c") << false << QString("a/b/c") << QString();
    QTest::newRow("dir-is-file") << QString("plain-file") << false << QString()
                                 << QString("not a directory");
    QTest::newRow("dir-under-file")
        << QString("plain-file/sub") << false << QString() << QString("cannot make");
    QTest::newRow("data-dir-missing") << QString() << true << QString("xdg/rv38t") << QString();
}

void TestWorkdir::enter()
{
    QFETCH(QString, dir);
    QFETCH(bool, dataDir);
    QFETCH(QString, expected);
    QFETCH(QString, error);

    QVERIFY(QDir().mkpath(QStringLiteral("xdg")));
    Options options;
    options.dir = dir;
    options.dataDir = dataDir;
    const QString message = workdir::enter(options);
    if (expected.isEmpty()) {
        QVERIFY2(message.contains(error), qPrintable(message));
        QCOMPARE(QDir::currentPath(), m_base); // refused: nothing moved
        return;
    }
    QVERIFY2(message.isEmpty(), qPrintable(message));
    QCOMPARE(QDir::currentPath(),
             QDir(m_base).absoluteFilePath(expected).remove(QStringLiteral("/.")));
    // Files the console writes land there.
    QVERIFY(writeAll(QStringLiteral("TITLE.CFG"), "T\r\n"));
    QVERIFY(QFile::exists(QDir(m_base).filePath(expected + QStringLiteral("/TITLE.CFG"))));
}

// The program itself stops before any window with a message and a non-zero exit.
void TestWorkdir::programRefusesBadDir_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");

    QTest::newRow("dir-is-file") << QStringList{"--dir", "plain-file"} << 1
                                 << QString("plain-file is not a directory");
    QTest::newRow("data-dir-under-file")
        << QStringList{"--data-dir"} << 1 << QString("cannot make");
    QTest::newRow("both") << QStringList{"--dir", "x", "--data-dir"} << 2
                          << QString("exclude each other");
}

void TestWorkdir::programRefusesBadDir()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, error);

    const QString program
        = qEnvironmentVariable("RV38T_BUILD_DIR") + QStringLiteral("/rv38t-timer");
    if (!QFileInfo::exists(program))
        QSKIP("rv38t-timer is not built beside the tests");
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_base + QStringLiteral("/plain-file"));
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    const QString stderrText = QString::fromLocal8Bit(process.readAllStandardError());
    QVERIFY2(stderrText.contains(error), qPrintable(stderrText));
    QVERIFY(!QFileInfo::exists(QStringLiteral("x")));
}

QTEST_GUILESS_MAIN(TestWorkdir)
#include "tst_workdir.moc"
