#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

// The menu entry, the AppStream metainfo and the manual pages, checked by the
// tools the desktops and Debian check them with.
class TestPackageFiles : public QObject
{
    Q_OBJECT

private slots:
    void validate_data();
    void validate();
};

void TestPackageFiles::validate_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("file");

    const QString source = QStringLiteral(QT_TESTCASE_SOURCEDIR "/../packaging/");
    const QString built = qEnvironmentVariable("RV38T_BUILD_DIR") + QStringLiteral("/packaging/");
    QTest::newRow("desktop-entry")
        << "desktop-file-validate" << QStringList{} << source + "org.rv38t.Timer.desktop";
    QTest::newRow("metainfo") << "appstreamcli" << QStringList{"validate", "--no-net", "--pedantic"}
                              << built + "org.rv38t.Timer.metainfo.xml";
    // -ww: every warning groff has; -z: no output, only the check.
    QTest::newRow("man-timer") << "groff" << QStringList{"-man", "-ww", "-z", "-t"}
                               << source + "rv38t-timer.1";
    QTest::newRow("man-simulator")
        << "groff" << QStringList{"-man", "-ww", "-z", "-t"} << source + "rv38t-display-sim.1";
}

void TestPackageFiles::validate()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(QString, file);
    if (QStandardPaths::findExecutable(tool).isEmpty())
        QSKIP(qPrintable(tool + QStringLiteral(" is missing: ./scripts/test installs it")));
    QVERIFY2(QFileInfo::exists(file), qPrintable(file));
    QProcess process;
    process.start(tool, arguments << file);
    QVERIFY(process.waitForFinished(60000));
    const QString said
        = QString::fromLocal8Bit(process.readAllStandardOutput() + process.readAllStandardError());
    QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
             qPrintable(said));
    // A pass that still warns is not clean: the tools print warnings and succeed.
    if (tool != QLatin1String("appstreamcli"))
        QVERIFY2(said.trimmed().isEmpty(), qPrintable(said));
}

QTEST_GUILESS_MAIN(TestPackageFiles)
#include "tst_packagefiles.moc"
