#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// The Debian package as a new user gets it: made by CPack from this build tree
// into a directory of its own (so it runs beside any other test), its file list
// and control fields read with dpkg-deb, and its programs run from a
// dpkg-deb -x root with no display server.
class TestPackage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fileList_data();
    void fileList();
    void control_data();
    void control();
    void programsRun_data();
    void programsRun();
    void menuEntryStartsInDataDir();
    void manualsNameEveryOption_data();
    void manualsNameEveryOption();

private:
    struct Result
    {
        int code = -1;
        QString out;
        QString err;
    };
    static Result run(const QString &program, const QStringList &arguments, int timeoutMs = 60000,
                      const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment());
    QString m_deb;
    QString m_contents;
    QTemporaryDir m_work;
    QString m_root;
};

TestPackage::Result TestPackage::run(const QString &program, const QStringList &arguments,
                                     int timeoutMs, const QProcessEnvironment &env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    Result r;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        r.err = QStringLiteral("%1 did not finish: %2").arg(program, process.errorString());
        return r;
    }
    r.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    r.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(process.readAllStandardError());
    return r;
}

void TestPackage::initTestCase()
{
    for (const char *tool : {"cpack", "dpkg-deb", "dpkg-shlibdeps", "file"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QSKIP(
                qPrintable(QStringLiteral("%1 is missing: ./scripts/test installs it").arg(tool)));
    }
    const QString build = qEnvironmentVariable("RV38T_BUILD_DIR");
    QVERIFY2(QFileInfo::exists(build + QStringLiteral("/CPackConfig.cmake")), qPrintable(build));
    QVERIFY(m_work.isValid());
    const QString out = m_work.filePath(QStringLiteral("out"));
    const Result made
        = run(QStringLiteral("cpack"),
              {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
               build + QStringLiteral("/CPackConfig.cmake"), QStringLiteral("-B"), out},
              300000);
    QVERIFY2(made.code == 0, qPrintable(made.out + made.err));
    const QStringList debs = QDir(out).entryList({QStringLiteral("rv38t_*.deb")}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    m_deb = QDir(out).filePath(debs.first());

    const Result listed = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), m_deb});
    QVERIFY2(listed.code == 0, qPrintable(listed.err));
    m_contents = listed.out;
    m_root = m_work.filePath(QStringLiteral("root"));
    const Result extracted = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), m_deb, m_root});
    QVERIFY2(extracted.code == 0, qPrintable(extracted.err));
}

void TestPackage::fileList_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("mode");

    const QString exec = QStringLiteral("-rwxr-xr-x"), data = QStringLiteral("-rw-r--r--");
    QTest::newRow("timer") << QStringLiteral("usr/bin/rv38t-timer") << exec;
    QTest::newRow("simulator") << QStringLiteral("usr/bin/rv38t-display-sim") << exec;
    QTest::newRow("menu-entry") << QStringLiteral("usr/share/applications/org.rv38t.Timer.desktop")
                                << data;
    QTest::newRow("metainfo") << QStringLiteral("usr/share/metainfo/org.rv38t.Timer.metainfo.xml")
                              << data;
    for (const int size : {16, 32, 48, 64, 128, 256})
        QTest::newRow(qPrintable(QStringLiteral("icon-%1").arg(size)))
            << QStringLiteral("usr/share/icons/hicolor/%1x%1/apps/rv38t-timer.png").arg(size)
            << data;
    QTest::newRow("icon-svg") << QStringLiteral(
        "usr/share/icons/hicolor/scalable/apps/rv38t-timer.svg")
                              << data;
    QTest::newRow("man-timer") << QStringLiteral("usr/share/man/man1/rv38t-timer.1.gz") << data;
    QTest::newRow("man-simulator")
        << QStringLiteral("usr/share/man/man1/rv38t-display-sim.1.gz") << data;
    QTest::newRow("copyright") << QStringLiteral("usr/share/doc/rv38t/copyright") << data;
    QTest::newRow("changelog") << QStringLiteral("usr/share/doc/rv38t/changelog.gz") << data;
}

void TestPackage::fileList()
{
    QFETCH(QString, path);
    QFETCH(QString, mode);
    // "-rw-r--r-- root/root  324 2026-12-07 10:41 ./usr/share/..."
    const QRegularExpression line(
        QStringLiteral("^(\\S+) root/root .* \\./%1$").arg(QRegularExpression::escape(path)),
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = line.match(m_contents);
    QVERIFY2(match.hasMatch(), qPrintable(m_contents));
    QCOMPARE(match.captured(1), mode);
}

void TestPackage::control_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("expected"); // a regular expression over the whole value

    // The caption's "1.0A" as Debian orders it: after 1.0, before 1.0b and 1.1.
    const Result version
        = run(m_root + QStringLiteral("/usr/bin/rv38t-timer"), {QStringLiteral("--version")});
    const QString caption = version.out.section(QLatin1Char(' '), 1).trimmed();
    QTest::newRow("package") << "Package"
                             << "rv38t";
    QTest::newRow("version") << "Version" << QRegularExpression::escape(caption.toLower());
    // Libraries found by dpkg-shlibdeps from the binaries, not listed by hand.
    QTest::newRow("depends-qt")
        << "Depends"
        << ".*libqt6widgets6 \\(>= [0-9.]+\\).*libqt6network6.*|.*libqt6network6.*libqt6widgets6.*";
    QTest::newRow("depends-fonts") << "Depends"
                                   << ".*fonts-liberation.*";
    QTest::newRow("maintainer") << "Maintainer"
                                << ".+ <.+@.+>";
}

void TestPackage::control()
{
    QFETCH(QString, field);
    QFETCH(QString, expected);
    const Result shown = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb, field});
    QCOMPARE(shown.code, 0);
    const QString value = shown.out.trimmed();
    QVERIFY2(
        QRegularExpression(QRegularExpression::anchoredPattern(expected)).match(value).hasMatch(),
        qPrintable(value));
}

void TestPackage::programsRun_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("expected"); // in standard output, or standard error when not 0

    QTest::newRow("timer-version")
        << "rv38t-timer" << QStringList{"--version"} << 0 << "rv38t-timer 1.0A\n";
    QTest::newRow("timer-help") << "rv38t-timer" << QStringList{"--help"} << 0 << "--data-dir";
    QTest::newRow("simulator-version")
        << "rv38t-display-sim" << QStringList{"--version"} << 0 << "rv38t-display-sim 1.0A\n";
    QTest::newRow("simulator-help")
        << "rv38t-display-sim" << QStringList{"--help"} << 0 << "--listen <ADDRESS>";
    QTest::newRow("simulator-unknown-after-qt-option")
        << "rv38t-display-sim" << QStringList{"-platform", "offscreen", "--bogus"} << 1
        << "Unknown option 'bogus'";
    QTest::newRow("timer-unknown")
        << "rv38t-timer" << QStringList{"-x"} << 2 << "Unknown option 'x'";
    QTest::newRow("timer-help-all") << "rv38t-timer" << QStringList{"--help-all"} << 0 << "--dir";
}

// Run as from a terminal without a display server: help, version and a wrong
// command line need none.
void TestPackage::programsRun()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(QString, expected);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    const Result r = run(m_root + QStringLiteral("/usr/bin/") + program, arguments, 60000, env);
    QVERIFY2(r.code == code, qPrintable(r.err));
    QVERIFY2((code == 0 ? r.out : r.err).contains(expected), qPrintable(r.out + r.err));
}

void TestPackage::menuEntryStartsInDataDir()
{
    QFile entry(m_root + QStringLiteral("/usr/share/applications/org.rv38t.Timer.desktop"));
    QVERIFY(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    const QRegularExpressionMatch exec = QRegularExpression(QStringLiteral("^Exec=(\\S+) (.*)$"),
                                                            QRegularExpression::MultilineOption)
                                             .match(text);
    QVERIFY2(exec.hasMatch(), qPrintable(text));
    QVERIFY(QFileInfo(m_root + QStringLiteral("/usr/bin/") + exec.captured(1)).isExecutable());
    QCOMPARE(exec.captured(2), QStringLiteral("--data-dir"));
    QVERIFY(text.contains(QStringLiteral("\nIcon=rv38t-timer\n")));
}

void TestPackage::manualsNameEveryOption_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("timer") << "rv38t-timer";
    QTest::newRow("simulator") << "rv38t-display-sim";
}

// Every long option the program's --help lists has its entry in its manual page.
void TestPackage::manualsNameEveryOption()
{
    QFETCH(QString, program);
    const Result help
        = run(m_root + QStringLiteral("/usr/bin/") + program, {QStringLiteral("--help")});
    QCOMPARE(help.code, 0);
    const Result manual
        = run(QStringLiteral("gzip"),
              {QStringLiteral("-dc"),
               m_root + QStringLiteral("/usr/share/man/man1/%1.1.gz").arg(program)});
    QCOMPARE(manual.code, 0);
    // In roff a minus is written \-.
    const QString page = QString(manual.out).replace(QStringLiteral("\\-"), QStringLiteral("-"));
    QStringList missing;
    QRegularExpressionMatchIterator it
        = QRegularExpression(QStringLiteral("--[a-z][a-z-]+")).globalMatch(help.out);
    while (it.hasNext()) {
        const QString option = it.next().captured();
        if (!page.contains(option) && !missing.contains(option))
            missing.append(option);
    }
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1Char(' '))));
}

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
