#include "core/cfgfile.h"
#include "support/testfiles.h"

#include <QDir>
#include <QRandomGenerator>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <optional>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

// Saves are atomic: a console killed in the middle of saving its address list
// or its title leaves each file holding a whole save, old or new, never an
// empty or partial one, and nothing the next start would trip over. A kill
// between the temporary file's creation and its rename leaves that file
// (LST_IP.CFG.AbCdEf); the console never reads it, and each save creates its
// own with a fresh name, so it is clutter, not a hazard: it is left alone
// rather than guess which such names are the operator's own files.
namespace {

const QString kList = QStringLiteral("LST_IP.CFG");
const QString kTitle = QStringLiteral("TITLE.CFG");

// Save number n of each file: sizes vary from save to save, and the first
// line names n, so any whole save is recognised and any part is not.
QByteArray listVersion(quint64 n)
{
    QStringList lines{QStringLiteral("save %1").arg(n)};
    for (quint64 k = 0; k < n % 97; ++k)
        lines.append(QStringLiteral("10.%1.%2.%3").arg(n % 250).arg(k).arg(n % 7));
    return cfgfile::joinLines(lines);
}

QByteArray titleVersion(quint64 n)
{
    return cfgfile::joinLines(
        {QStringLiteral("save %1 ").arg(n) + QString(int(n % 300), QLatin1Char('x'))});
}

// The save number a file holds; -1 when it is not exactly one whole save.
qint64 wholeSave(const QByteArray &content, QByteArray (*version)(quint64))
{
    qsizetype end = 5;
    while (end < content.size() && content[end] >= '0' && content[end] <= '9')
        ++end;
    bool ok = false;
    const quint64 n = content.mid(5, end - 5).toULongLong(&ok);
    return ok && content.startsWith("save ") && content == version(n) ? qint64(n) : -1;
}

// The child: this program run again with --save-from N, a fresh process as a
// restarted console is (forked copies would share one random state and so pick
// the same temporary names). It says "saving" once, then saves until killed.
[[noreturn]] void saveForever(quint64 from)
{
    const char ready = 's';
    [[maybe_unused]] const ssize_t said = ::write(STDOUT_FILENO, &ready, 1);
    for (quint64 n = from;; ++n) {
        cfgfile::save(kList, listVersion(n));
        cfgfile::save(kTitle, titleVersion(n));
    }
}

void sleepMicros(int micros)
{
    timespec t{0, long(micros) * 1000};
    while (::nanosleep(&t, &t) != 0) {
    }
}

int kills()
{
    return qEnvironmentVariableIntValue("RV38T_SOAK") > 0 ? 10000 : 1000;
}

} // namespace

class TestKillSave : public QObject
{
    Q_OBJECT
private slots:
    void init() { QVERIFY(m_dir.emplace().isValid()); }
    void cleanup() { m_dir.reset(); }
    void killedMidSave();

private:
    static QStringList strays();
    std::optional<TempCurrentDir> m_dir;
};

void TestKillSave::killedMidSave()
{
    QVERIFY(cfgfile::save(kList, listVersion(0)));
    QVERIFY(cfgfile::save(kTitle, titleVersion(0)));
    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    qInfo() << "seed" << seed;
    qint64 list = 0, title = 0;
    int listChanged = 0, changedWithStrays = 0;
    for (int i = 0; i < kills(); ++i) {
        int ready[2];
        QVERIFY(::pipe(ready) == 0);
        const QByteArray from = QByteArray::number(qMax(list, title) + 1);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            ::dup2(ready[1], STDOUT_FILENO);
            ::execl("/proc/self/exe", "tst_killsave", "--save-from", from.constData(),
                    static_cast<char *>(nullptr));
            ::_exit(127);
        }
        ::close(ready[1]);
        char said = 0;
        const bool saving = ::read(ready[0], &said, 1) == 1;
        ::close(ready[0]);
        QVERIFY(saving);
        // A random moment within the first few saves.
        sleepMicros(int(random.bounded(3000)));
        QVERIFY(::kill(child, SIGKILL) == 0);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status));

        const qint64 nowList = wholeSave(readAll(kList), listVersion);
        const qint64 nowTitle = wholeSave(readAll(kTitle), titleVersion);
        QVERIFY2(nowList >= list,
                 qPrintable(QStringLiteral("kill %1: list holds %2")
                                .arg(i)
                                .arg(QString::fromLatin1(readAll(kList).left(80)))));
        QVERIFY2(nowTitle >= title,
                 qPrintable(QStringLiteral("kill %1: title holds %2")
                                .arg(i)
                                .arg(QString::fromLatin1(readAll(kTitle).left(80)))));
        listChanged += nowList != list;
        changedWithStrays += nowList != list && !strays().isEmpty();
        list = nowList;
        title = nowTitle;
    }
    qInfo() << kills() << "kills:" << listChanged << "changed the list;" << strays().size()
            << "temporary files left:" << strays().mid(0, 4);
    // Some kills fell before a whole save, most after one or more.
    QVERIFY(listChanged > 0 && listChanged < kills());
    if (strays().isEmpty())
        return;
    // With leftovers beside them saves went on, and the next start reads the
    // last whole save and saves over it.
    QVERIFY(changedWithStrays > 0);
    QCOMPARE(cfgfile::joinLines(cfgfile::readLines(kList, 100)), listVersion(quint64(list)));
    QCOMPARE(cfgfile::joinLines(cfgfile::readLines(kTitle, 1)), titleVersion(quint64(title)));
    QVERIFY(cfgfile::save(kList, listVersion(7)));
    QCOMPARE(readAll(kList), listVersion(7));
}

QStringList TestKillSave::strays()
{
    return QDir::current()
        .entryList(QDir::Files | QDir::Hidden | QDir::System)
        .filter(QRegularExpression(QStringLiteral("^(?!LST_IP\\.CFG$|TITLE\\.CFG$)")));
}

int main(int argc, char *argv[])
{
    if (argc == 3 && std::strcmp(argv[1], "--save-from") == 0)
        saveForever(QByteArray(argv[2]).toULongLong());
    QCoreApplication app(argc, argv);
    TestKillSave test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_killsave.moc"
