#include "support/fakesockets.h"
#include "support/roomsfixture.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QVBoxLayout>
#include <QtTest>

#include <optional>

namespace {

const QString kFile = QStringLiteral("LST_IP.CFG");

// The configuration panel's list controls in the real window over fake sockets.
struct Rig
{
    void add(const QString &text)
    {
        inpIp.setText(text);
        bAdd.click();
    }

    QStringList texts() const
    {
        QStringList out;
        for (int i = 0; i < list.count(); ++i)
            out.append(list.text(i));
        return out;
    }

    FakeTcpEndpoint *socket(int index) const { return factory.tcp.value(index); }

    FakeSocketFactory factory;
    RoomsFixture console{factory, false};
    MainWindow &window = console.window;
    QLineEdit &inpIp = console.inpIp;
    QPushButton &bAdd = console.bAdd;
    QPushButton &bDel = console.bDel;
    QListWidget &lstIp = console.lstIp;
    TcpSocketArray &tcp = console.tcp;
    AddressList &list = console.list;
};

} // namespace

class TestAddressList : public QObject
{
    Q_OBJECT
private slots:
    void init() { QVERIFY(m_dir.emplace().isValid()); }
    void cleanup() { m_dir.reset(); }
    void add_data();
    void add();
    void del_data();
    void del();
    void delWithoutCurrentEntry();
    void keyboardThenDel_data();
    void keyboardThenDel();
    void hundredthEntryRefused();
    void load_data();
    void load();
    void operatorToggle_data();
    void operatorToggle();
    void failedSaveKeepsListValid();

private:
    std::optional<TempCurrentDir> m_dir; // fresh and current for every case
};

// Texts are stored as typed: no check, no trimming, repeats allowed.
void TestAddressList::add_data()
{
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<QByteArray>("file");

    QTest::newRow("one") << QStringList{"192.0.2.10"} << QByteArray("192.0.2.10\r\n");
    QTest::newRow("same-twice") << QStringList{"192.0.2.10", "192.0.2.10"}
                                << QByteArray("192.0.2.10\r\n192.0.2.10\r\n");
    QTest::newRow("empty-text") << QStringList{""} << QByteArray("\r\n");
    QTest::newRow("spaces-kept") << QStringList{" host "} << QByteArray(" host \r\n");
    QTest::newRow("windows-1252") << QStringList{QStringLiteral("caf\u00e9")}
                                  << QByteArray("caf\xe9\r\n");
}

void TestAddressList::add()
{
    QFETCH(QStringList, typed);
    QFETCH(QByteArray, file);

    Rig rig;
    for (const QString &text : typed) {
        rig.add(text);
        QCOMPARE(rig.inpIp.text(), text); // INP_IP keeps its text
    }
    QCOMPARE(rig.texts(), typed);
    QCOMPARE(rig.tcp.count(), typed.size());
    QCOMPARE(rig.factory.tcp.size(), typed.size()); // one new socket per entry
    for (int i = 0; i < typed.size(); ++i) {
        QVERIFY(!rig.list.isMarked(i));
        QCOMPARE(rig.socket(i)->connectCalls, 0); // the supervisor connects, not Add
    }
    QCOMPARE(readAll(kFile), file);
}

void TestAddressList::del_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("current");
    QTest::addColumn<QStringList>("remaining");
    QTest::addColumn<QByteArray>("file");

    const QStringList abc{"A", "B", "C"};
    QTest::newRow("middle") << abc << 1 << QStringList{"A", "C"} << QByteArray("A\r\nC\r\n");
    QTest::newRow("first") << abc << 0 << QStringList{"B", "C"} << QByteArray("B\r\nC\r\n");
    QTest::newRow("last") << abc << 2 << QStringList{"A", "B"} << QByteArray("A\r\nB\r\n");
    QTest::newRow("only") << QStringList{"A"} << 0 << QStringList{} << QByteArray();
    QTest::newRow("repeated-text")
        << QStringList{"A", "A", "B"} << 0 << QStringList{"A", "B"} << QByteArray("A\r\nB\r\n");
}

void TestAddressList::del()
{
    QFETCH(QStringList, entries);
    QFETCH(int, current);
    QFETCH(QStringList, remaining);
    QFETCH(QByteArray, file);

    Rig rig;
    for (const QString &text : entries)
        rig.add(text);
    // Every display connected, each socket aimed at its own entry.
    for (int i = 0; i < entries.size(); ++i) {
        rig.socket(i)->connectTo(entries.at(i), 1024);
        rig.socket(i)->fireConnected();
        rig.list.setMarked(i, true);
        rig.tcp.setTag(i, QString::number(i + 5));
    }
    rig.lstIp.setCurrentRow(current);

    rig.bDel.click();

    QCOMPARE(rig.texts(), remaining);
    QCOMPARE(rig.tcp.count(), remaining.size());
    QVERIFY(
        rig.factory.tcp.at(entries.size() - 1).isNull()); // the highest socket is the one destroyed
    for (int i = 0; i < remaining.size(); ++i) {
        QCOMPARE(rig.socket(i)->remoteHost(), remaining.at(i));
        QVERIFY(!rig.list.isMarked(i));
        QCOMPARE(rig.socket(i)->closeCalls, 1);
        QCOMPARE(rig.socket(i)->state(), SocketState::Closed);
        QCOMPARE(rig.tcp.tag(i), QString::number(i + 5)); // error counts stay
    }
    QCOMPARE(readAll(kFile), file);
    QCOMPARE(rig.list.currentIndex(), -1);
}

void TestAddressList::delWithoutCurrentEntry()
{
    Rig rig;
    rig.add("A");
    rig.add("B");
    rig.lstIp.setCurrentRow(-1);
    QVERIFY(QFile::remove(kFile)); // a save would bring it back

    rig.bDel.click();

    QCOMPARE(rig.texts(), (QStringList{"A", "B"}));
    QCOMPARE(rig.tcp.count(), 2);
    QCOMPARE(rig.socket(0)->closeCalls, 0);
    QVERIFY(!QFile::exists(kFile));
}

void TestAddressList::hundredthEntryRefused()
{
    Rig rig;
    for (int i = 0; i < AddressList::kMaxEntries; ++i)
        rig.add(QStringLiteral("10.0.0.%1").arg(i));
    QCOMPARE(rig.list.count(), 99);
    QCOMPARE(rig.tcp.count(), 99);
    const QByteArray before = readAll(kFile);

    rig.add("10.0.1.0");

    QCOMPARE(rig.list.count(), 99);
    QCOMPARE(rig.tcp.count(), 99);
    QCOMPARE(rig.factory.tcp.size(), 99);
    QCOMPARE(rig.list.text(98), QStringLiteral("10.0.0.98"));
    QCOMPARE(readAll(kFile), before);

    // Deleting one makes room again.
    rig.lstIp.setCurrentRow(0);
    rig.bDel.click();
    rig.add("10.0.1.0");
    QCOMPARE(rig.list.count(), 99);
    QCOMPARE(rig.tcp.count(), 99);
    QCOMPARE(rig.list.text(98), QStringLiteral("10.0.1.0"));
}

void TestAddressList::load_data()
{
    QTest::addColumn<QByteArray>("bytes"); // "<none>" for no file
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("last");

    QTest::newRow("no-file") << QByteArray("<none>") << 0 << QString();
    QTest::newRow("zero-bytes") << QByteArray() << 0 << QString();
    QTest::newRow("two") << QByteArray("A\r\nB\r\n") << 2 << "B";

    QByteArray many;
    for (int i = 0; i < 120; ++i)
        many += "10.0.0." + QByteArray::number(i) + "\r\n";
    QTest::newRow("120-lines") << many << 99 << "10.0.0.98";
}

void TestAddressList::load()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, count);
    QFETCH(QString, last);

    if (bytes != "<none>")
        QVERIFY(writeAll(kFile, bytes));
    Rig rig;
    rig.list.IP_LIST_LOAD();

    QCOMPARE(rig.list.count(), count);
    QCOMPARE(rig.tcp.count(), count);
    if (count > 0)
        QCOMPARE(rig.list.text(count - 1), last);
    for (int i = 0; i < count; ++i) {
        QVERIFY(!rig.list.isMarked(i));
        QCOMPARE(rig.socket(i)->connectCalls, 0);
    }
    QCOMPARE(QFile::exists(kFile), bytes != "<none>"); // loading creates no file
}

// What the operator's toggling does to the entry's socket; program writes do nothing.
void TestAddressList::operatorToggle_data()
{
    QTest::addColumn<bool>("markedBefore");
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("markedAfter");
    QTest::addColumn<int>("closeCalls");

    QTest::newRow("checkbox-click-off") << true << "checkbox-click" << false << 1;
    QTest::newRow("checkbox-click-on") << false << "checkbox-click" << true << 0;
    QTest::newRow("text-click-marked") << true << "text-click" << true << 0;
    QTest::newRow("text-click-unmarked") << false << "text-click" << false << 1;
    QTest::newRow("space-key-off") << true << "space-key" << false << 1;
    QTest::newRow("space-key-on") << false << "space-key" << true << 0;
    QTest::newRow("program-write-off") << true << "program-write" << false << 0;
}

void TestAddressList::operatorToggle()
{
    QFETCH(bool, markedBefore);
    QFETCH(QString, action);
    QFETCH(bool, markedAfter);
    QFETCH(int, closeCalls);

    Rig rig;
    rig.add("A");
    rig.add("B");
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
    const int k = 1;
    rig.socket(k)->fireConnected();
    rig.list.setMarked(k, markedBefore);
    QListWidgetItem *item = rig.lstIp.item(k);
    const QRect itemRect = rig.lstIp.visualItemRect(item);

    if (action == "checkbox-click") {
        QStyleOptionViewItem option;
        option.initFrom(&rig.lstIp);
        option.rect = itemRect;
        option.features
            = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
        option.text = item->text();
        const QRect box = rig.lstIp.style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator,
                                                            &option, &rig.lstIp);
        QVERIFY(itemRect.contains(box.center()));
        QTest::mouseClick(rig.lstIp.viewport(), Qt::LeftButton, {}, box.center());
    } else if (action == "text-click") {
        QTest::mouseClick(rig.lstIp.viewport(), Qt::LeftButton, {},
                          QPoint(itemRect.center().x(), itemRect.center().y()));
    } else if (action == "space-key") {
        rig.lstIp.setFocus();
        rig.lstIp.setCurrentRow(k);
        QTest::keyClick(&rig.lstIp, Qt::Key_Space);
    } else if (action == "program-write") {
        rig.list.setMarked(k, !markedBefore);
    }

    QCOMPARE(rig.list.isMarked(k), markedAfter);
    QCOMPARE(rig.socket(k)->closeCalls, closeCalls);
    QCOMPARE(rig.socket(k)->connectCalls, 0);
    QCOMPARE(rig.socket(0)->closeCalls, 0); // the other entry is left alone
    if (action != "program-write")
        QCOMPARE(rig.list.currentIndex(), k);
}

void TestAddressList::failedSaveKeepsListValid()
{
    Rig rig;
    rig.add("A");
    rig.add("B");
    bool active = false;
    {
        FileWritesFail fail;
        active = fail.active();
        rig.add("C");
        rig.lstIp.setCurrentRow(0);
        rig.bDel.click();
    }
    QVERIFY(active);
    QCOMPARE(readAll(kFile), QByteArray("A\r\nB\r\n"));
    // One line per failed save, naming the file and the system's reason.
    const QString line = rig.console.logLine(QStringLiteral("LST_IP.CFG= File too large"));
    QCOMPARE(rig.console.log.text(), line + line);
    QCOMPARE(rig.texts(), (QStringList{"B", "C"}));
    QCOMPARE(rig.tcp.count(), 2);
    QCOMPARE(rig.socket(1)->remoteHost(), QStringLiteral("C"));

    // The next save that can write brings the file up to date.
    rig.add("D");
    QCOMPARE(readAll(kFile), QByteArray("B\r\nC\r\nD\r\n"));
    QCOMPARE(rig.console.log.text(), line + line); // a good save adds no line
}

// The current entry is only ever one the operator chose. Starting with the
// focus on "Add" (just before the list in the Tab order) and three entries,
// each step is a key in the list or a click on "Del".
void TestAddressList::keyboardThenDel_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("after");

    const QStringList all{"A", "B", "C"};
    QTest::newRow("tab-in-del") << QStringList{"tab", "del"} << all;
    QTest::newRow("backtab-in-del") << QStringList{"tab", "tab", "backtab", "del"} << all;
    QTest::newRow("tab-in-space-del") << QStringList{"tab", "space", "del"} << all;
    QTest::newRow("down-del") << QStringList{"tab", "down", "del"} << QStringList{"B", "C"};
    QTest::newRow("down-end-del") << QStringList{"tab", "down", "end", "del"}
                                  << QStringList{"A", "B"};
    QTest::newRow("down-down-home-del")
        << QStringList{"tab", "down", "down", "home", "del"} << QStringList{"B", "C"};
    // The toggled entry is the one deleted: nothing may read it once it is gone.
    QTest::newRow("space-on-1-del")
        << QStringList{"tab", "down", "down", "space", "del"} << QStringList{"A", "C"};
    // After Del no entry is current; coming back by Tab chooses none either.
    QTest::newRow("del-tab-back-del")
        << QStringList{"tab", "down", "del", "tab", "tab", "del"} << QStringList{"B", "C"};
}

void TestAddressList::keyboardThenDel()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, after);

    Rig rig;
    for (const char *text : {"A", "B", "C"})
        rig.add(text);
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowActive(&rig.window));
    const QByteArray fileBefore = readAll(kFile);
    rig.bAdd.setFocus();

    for (const QString &step : steps) {
        QWidget *focus = QApplication::focusWidget();
        QVERIFY(focus);
        if (step == "tab")
            QTest::keyClick(focus, Qt::Key_Tab);
        else if (step == "backtab")
            QTest::keyClick(focus, Qt::Key_Backtab, Qt::ShiftModifier);
        else if (step == "down")
            QTest::keyClick(focus, Qt::Key_Down);
        else if (step == "home")
            QTest::keyClick(focus, Qt::Key_Home);
        else if (step == "end")
            QTest::keyClick(focus, Qt::Key_End);
        else if (step == "space")
            QTest::keyClick(focus, Qt::Key_Space);
        else if (step == "del")
            QTest::mouseClick(&rig.bDel, Qt::LeftButton);
    }

    QCOMPARE(rig.texts(), after);
    QCOMPARE(rig.tcp.count(), after.size());
    if (after.size() == 3) // nothing chosen, nothing changed: not even a rewrite
        QCOMPARE(readAll(kFile), fileBefore);
    else
        QCOMPARE(readAll(kFile),
                 (after.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toLatin1());
}

QTEST_MAIN(TestAddressList)
#include "tst_addresslist.moc"
