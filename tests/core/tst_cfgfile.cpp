#include "core/cfgfile.h"
#include "support/testfiles.h"

#include <unistd.h>

namespace {

const QString kFile = QStringLiteral("LST_IP.CFG");

QByteArray numberedLines(int count)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += "10.0.0." + QByteArray::number(i) + "\r\n";
    return bytes;
}

} // namespace

class TestCfgfile : public QObject
{
    Q_OBJECT
private slots:
    void init() { QVERIFY(m_dir.emplace().isValid()); }
    void cleanup() { m_dir.reset(); }
    void readLines_data();
    void readLines();
    void joinLines_data();
    void joinLines();
    void roundTrip();
    void saveReplacesWholeFile();
    void failedSave_data();
    void failedSave();

private:
    std::optional<TempCurrentDir> m_dir; // fresh and current for every case
};

// The file rules, read through a real file: splitLines and readLines must agree.
void TestCfgfile::readLines_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("maxLines");
    QTest::addColumn<QStringList>("expected");

    const QString longLine(cfgfile::kMaxLineLength, QLatin1Char('x'));

    QTest::newRow("crlf-ended") << QByteArray("A\r\nB\r\n") << 99 << QStringList{"A", "B"};
    QTest::newRow("last-line-open") << QByteArray("A\r\nB") << 99 << QStringList{"A", "B"};
    QTest::newRow("empty-line") << QByteArray("A\r\n\r\nB\r\n") << 99 << QStringList{"A", "", "B"};
    QTest::newRow("only-crlf") << QByteArray("\r\n") << 99 << QStringList{""};
    QTest::newRow("lone-lf-stays") << QByteArray("A\nB\r\nC\r\n") << 99 << QStringList{"A\nB", "C"};
    QTest::newRow("no-cr-one-line") << QByteArray("A\nB\n") << 99 << QStringList{"A\nB\n"};
    QTest::newRow("cr-cr-lf") << QByteArray("A\r\r\nB\r\n") << 99 << QStringList{"A", "", "B"};
    QTest::newRow("lone-cr") << QByteArray("A\rB\r") << 99 << QStringList{"A", "B"};
    QTest::newRow("windows-1252") << QByteArray("caf\xe9\r\n\x80\r\n") << 99
                                  << QStringList{QStringLiteral("caf\u00e9"),
                                                 QStringLiteral("\u20ac")};
    QTest::newRow("zero-bytes") << QByteArray() << 99 << QStringList{};
    QTest::newRow("first-line-only") << QByteArray("T1\r\nT2\r\n") << 1 << QStringList{"T1"};

    QStringList ninetyNine;
    for (int i = 0; i < 99; ++i)
        ninetyNine.append(QStringLiteral("10.0.0.%1").arg(i));
    QTest::newRow("120-lines-gives-99") << numberedLines(120) << 99 << ninetyNine;

    QTest::newRow("enormous-line-cut")
        << QByteArray(5 * 1024 * 1024, 'x') << 99 << QStringList{longLine};
    QTest::newRow("long-line-then-next")
        << QByteArray(cfgfile::kMaxLineLength + 10, 'x') + "\r\nB\r\n"
        << 99 << QStringList{longLine, "B"};

    // Binary junk: NULs and high bytes are characters like any other; CRs still end lines.
    QByteArray binary;
    for (int i = 0; i < 256; ++i)
        binary.append(char(i));
    QStringList binaryLines = cfgfile::splitLines(binary, 99);
    QTest::newRow("binary") << binary << 99 << binaryLines;
}

void TestCfgfile::readLines()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, maxLines);
    QFETCH(QStringList, expected);

    QCOMPARE(cfgfile::splitLines(bytes, maxLines), expected);
    QVERIFY(writeAll(kFile, bytes));
    QCOMPARE(cfgfile::readLines(kFile, maxLines), expected);
}

void TestCfgfile::joinLines_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("none") << QStringList{} << QByteArray();
    QTest::newRow("one-empty") << QStringList{""} << QByteArray("\r\n");
    QTest::newRow("two") << QStringList{"A", "C"} << QByteArray("A\r\nC\r\n");
    QTest::newRow("e-acute") << QStringList{QStringLiteral("\u00e9")} << QByteArray("\xe9\r\n");
    QTest::newRow("euro") << QStringList{QStringLiteral("\u20ac")} << QByteArray("\x80\r\n");
    QTest::newRow("outside-code-page")
        << QStringList{QStringLiteral("\u4e2d")} << QByteArray("?\r\n");
    QTest::newRow("quotes-commas") << QStringList{" \"a\", 'b' "} << QByteArray(" \"a\", 'b' \r\n");
}

void TestCfgfile::joinLines()
{
    QFETCH(QStringList, lines);
    QFETCH(QByteArray, expected);
    QCOMPARE(cfgfile::joinLines(lines), expected);
}

void TestCfgfile::roundTrip()
{
    const QStringList lines{QStringLiteral("caf\u00e9"), "", " 192.0.2.1 ", "host.example"};
    QVERIFY(cfgfile::save(kFile, cfgfile::joinLines(lines)));
    QCOMPARE(cfgfile::readLines(kFile, 99), lines);
}

void TestCfgfile::saveReplacesWholeFile()
{
    QVERIFY(writeAll(kFile, "A much longer old content\r\nB\r\nC\r\n"));
    QVERIFY(cfgfile::save(kFile, "X\r\n"));
    QCOMPARE(readAll(kFile), QByteArray("X\r\n"));
    QVERIFY(cfgfile::save(kFile, QByteArray()));
    QCOMPARE(readAll(kFile), QByteArray());
    // Nothing is left beside the file.
    QCOMPARE(QDir::current().entryList(QDir::Files | QDir::Hidden), QStringList{"LST_IP.CFG"});
}

// Each way a save can fail reports false and leaves whatever stood there untouched.
void TestCfgfile::failedSave_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("writes-fail") << "writes-fail";
    QTest::newRow("read-only-directory") << "read-only-directory";
    QTest::newRow("parent-is-a-file") << "parent-is-a-file";
    QTest::newRow("name-is-a-directory") << "name-is-a-directory";
}

void TestCfgfile::failedSave()
{
    QFETCH(QString, how);
    const QByteArray old("OLD\r\n");
    QString path = kFile;
    bool saved = true;

    if (how == "writes-fail") {
        QVERIFY(writeAll(path, old));
        {
            FileWritesFail fail;
            QVERIFY(fail.active());
            saved = cfgfile::save(path, "NEW\r\n");
        }
        QCOMPARE(readAll(path), old);
        QCOMPARE(QDir::current().entryList(QDir::Files | QDir::Hidden), QStringList{path});
    } else if (how == "read-only-directory") {
        QVERIFY(QDir().mkdir("ro"));
        path = QStringLiteral("ro/LST_IP.CFG");
        QVERIFY(writeAll(path, old));
        QVERIFY(QFile::setPermissions("ro", QFile::ReadOwner | QFile::ExeOwner));
        if (::access("ro", W_OK) == 0) {
            QFile::setPermissions("ro", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QSKIP("Directory permissions do not bind this user (root); covered by writes-fail");
        }
        saved = cfgfile::save(path, "NEW\r\n");
        QFile::setPermissions("ro", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(readAll(path), old);
    } else if (how == "parent-is-a-file") {
        QVERIFY(writeAll("plain", old));
        saved = cfgfile::save(QStringLiteral("plain/LST_IP.CFG"), "NEW\r\n");
        QCOMPARE(readAll("plain"), old);
    } else if (how == "name-is-a-directory") {
        QVERIFY(QDir().mkdir(path));
        QVERIFY(writeAll(path + "/inside", old));
        saved = cfgfile::save(path, "NEW\r\n");
        QVERIFY(QFileInfo(path).isDir());
        QCOMPARE(readAll(path + "/inside"), old);
    }
    QVERIFY(!saved);
}

QTEST_GUILESS_MAIN(TestCfgfile)
#include "tst_cfgfile.moc"
