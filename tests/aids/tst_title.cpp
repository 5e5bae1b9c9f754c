#include "support/fakesockets.h"
#include "support/roomsfixture.h"

#include <QVBoxLayout>
#include <QtTest>

#include <optional>

namespace {

const QString kFile = QStringLiteral("TITLE.CFG");
const QString kInitial = QStringLiteral("TITLE HERE");

// The title field and one more control to take the focus, in the real window.
struct Rig
{
    FakeSocketFactory factory;
    RoomsFixture console{factory, false};
    MainWindow &window = console.window;
    TitleField &inpTitle = console.inpTitle;
    QLineEdit &other = console.inpIp;
    Title &title = console.title;
};

} // namespace

class TestTitle : public QObject
{
    Q_OBJECT
private slots:
    void init() { QVERIFY(m_dir.emplace().isValid()); }
    void cleanup() { m_dir.reset(); }
    void load_data();
    void load();
    void roundTrip_data();
    void roundTrip();
    void saveRewritesUnchangedText();
    void unwritable();
    void focusLoss_data();
    void focusLoss();

private:
    std::optional<TempCurrentDir> m_dir; // fresh and current for every case
};

void TestTitle::load_data()
{
    QTest::addColumn<QByteArray>("bytes"); // "<missing>" for no file
    QTest::addColumn<QString>("expected");

    QTest::newRow("no-file") << QByteArray("<missing>") << kInitial;

    QTest::newRow("one-line") << QByteArray("Finals\r\n") << "Finals";
    QTest::newRow("several-lines") << QByteArray("First\r\nSecond\r\nThird\r\n") << "First";
    QTest::newRow("no-line-end") << QByteArray("Open") << "Open";
    QTest::newRow("crlf-only") << QByteArray("\r\n") << "";
    QTest::newRow("zero-bytes") << QByteArray() << kInitial;
}

void TestTitle::load()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);

    if (bytes != "<missing>")
        QVERIFY(writeAll(kFile, bytes));
    Rig rig;
    rig.title.TITLE_LOAD();
    QCOMPARE(rig.inpTitle.text(), expected);
    QCOMPARE(readAll(kFile), bytes); // loading never writes
}

// Spaces, commas and quotes pass unchanged both ways; an empty title stays empty.
void TestTitle::roundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("plain") << "Race 1" << QByteArray("Race 1\r\n");
    QTest::newRow("empty") << "" << QByteArray("\r\n");
    QTest::newRow("outer-spaces") << "  Heat 2  " << QByteArray("  Heat 2  \r\n");
    QTest::newRow("commas") << "a,b,,c," << QByteArray("a,b,,c,\r\n");
    QTest::newRow("quotes") << "\"Final\" 'A'" << QByteArray("\"Final\" 'A'\r\n");
    QTest::newRow("e-acute") << QStringLiteral("\u00e9") << QByteArray("\xe9\r\n");
}

void TestTitle::roundTrip()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);

    {
        Rig rig;
        rig.inpTitle.setText(text);
        QVERIFY(rig.title.INP_TITLE_LostFocus());
    }
    QCOMPARE(readAll(kFile), bytes);

    Rig next; // the next start
    next.title.TITLE_LOAD();
    QCOMPARE(next.inpTitle.text(), text);
}

void TestTitle::saveRewritesUnchangedText()
{
    QVERIFY(writeAll(kFile, "First\r\nSecond\r\n"));
    Rig rig;
    rig.title.TITLE_LOAD();
    QVERIFY(rig.title.INP_TITLE_LostFocus());
    QCOMPARE(readAll(kFile), QByteArray("First\r\n"));

    QVERIFY(writeAll(kFile, "Changed elsewhere\r\n"));
    QVERIFY(rig.title.INP_TITLE_LostFocus());
    QCOMPARE(readAll(kFile), QByteArray("First\r\n"));
}

void TestTitle::unwritable()
{
    QVERIFY(writeAll(kFile, "Old\r\n"));
    Rig rig;
    rig.inpTitle.setText("New");
    bool active = false;
    bool saved = true;
    {
        FileWritesFail fail;
        active = fail.active();
        saved = rig.title.INP_TITLE_LostFocus();
    }
    QVERIFY(active);
    QVERIFY(!saved);
    QCOMPARE(rig.inpTitle.text(), QStringLiteral("New"));
    QCOMPARE(readAll(kFile), QByteArray("Old\r\n"));
    // The operator is told, in one line: the file's name, then the system's reason.
    QCOMPARE(rig.console.log.text(),
             rig.console.logLine(QStringLiteral("TITLE.CFG= File too large")));
}

// Focus going to another control saves; the window losing activation does not.
void TestTitle::focusLoss_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("saved");

    QTest::newRow("tab-key") << "tab-key" << true;
    QTest::newRow("click-other") << "click-other" << true;
    QTest::newRow("other-window-activated") << "other-window-activated" << false;
}

void TestTitle::focusLoss()
{
    QFETCH(QString, how);
    QFETCH(bool, saved);

    Rig rig;
    rig.window.show();
    QApplication::setActiveWindow(&rig.window);
    QVERIFY(QTest::qWaitForWindowActive(&rig.window));
    rig.inpTitle.setFocus();
    QTRY_VERIFY(rig.inpTitle.hasFocus());
    QTest::keyClicks(&rig.inpTitle, "X");
    QSignalSpy lost(&rig.inpTitle, &TitleField::focusLost);

    QWidget elsewhere;
    if (how == "tab-key") {
        QTest::keyClick(&rig.inpTitle, Qt::Key_Tab);
        QTRY_VERIFY(rig.other.hasFocus());
    } else if (how == "click-other") {
        rig.other.setFocus(Qt::MouseFocusReason);
        QTRY_VERIFY(rig.other.hasFocus());
    } else {
        elsewhere.show();
        QApplication::setActiveWindow(&elsewhere);
        QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
        QTRY_VERIFY(!rig.inpTitle.hasFocus());
    }

    QCOMPARE(lost.count(), saved ? 1 : 0);
    QCOMPARE(readAll(kFile), saved ? QByteArray("TITLE HEREX\r\n") : QByteArray("<missing>"));
}

QTEST_MAIN(TestTitle)
#include "tst_title.moc"
