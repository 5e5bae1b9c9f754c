#include "app/mainwindow.h"
#include "controls/shapewidget.h"
#include "links/addresslist.h"
#include "links/supervisor.h"
#include "support/fakesockets.h"
#include "support/testfiles.h"

#include <QAccessible>
#include <QCheckBox>
#include <QListWidget>
#include <QtTest>

#include <optional>

// A screen reader can name every control of the window, and each display entry with its mark.
class TestAccessible : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_dir.emplace().isValid()); }
    void cleanup() { m_dir.reset(); }
    void everyControlNamed();
    void entriesNamedWithTheirMark_data();
    void entriesNamedWithTheirMark();
    void lampSpeaksItsColour_data();
    void lampSpeaksItsColour();

private:
    std::optional<TempCurrentDir> m_dir;
};

void TestAccessible::everyControlNamed()
{
    FakeSocketFactory sockets;
    MainWindow window(sockets);
    window.Form_Load();
    int walked = 0;
    QStringList unnamed;
    // Every control the window builds carries its object name; Qt's own inner
    // widgets (viewports, scroll bar holders) are named qt_* and speak through their owner.
    for (QWidget *w : window.findChildren<QWidget *>()) {
        if (w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(w);
        QVERIFY2(face, qPrintable(w->objectName()));
        ++walked;
        if (face->text(QAccessible::Name).trimmed().isEmpty()
            || face->text(QAccessible::Description).trimmed().isEmpty())
            unnamed.append(w->objectName());
    }
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QLatin1Char(' '))));
    QCOMPARE(walked, 27);
    // The captions speak without their mnemonic marks.
    QCOMPARE(QAccessible::queryAccessibleInterface(window.SW_GO)->text(QAccessible::Name),
             QStringLiteral("Run"));
}

void TestAccessible::entriesNamedWithTheirMark_data()
{
    QTest::addColumn<QList<int>>("marked"); // entries marked by the program
    QTest::addColumn<int>("toggled");       // entry the operator toggles, -1 for none
    QTest::addColumn<QStringList>("names");

    const QString on = QStringLiteral(", X = CONNECTION OK"),
                  off = QStringLiteral(", not connected");
    QTest::newRow("none-marked") << QList<int>{} << -1
                                 << QStringList{"127.0.0.2" + off, "127.0.0.3" + off};
    QTest::newRow("second-marked")
        << QList<int>{1} << -1 << QStringList{"127.0.0.2" + off, "127.0.0.3" + on};
    QTest::newRow("operator-unmarks")
        << QList<int>{0, 1} << 0 << QStringList{"127.0.0.2" + off, "127.0.0.3" + on};
}

void TestAccessible::entriesNamedWithTheirMark()
{
    QFETCH(QList<int>, marked);
    QFETCH(int, toggled);
    QFETCH(QStringList, names);

    QVERIFY(writeAll(QStringLiteral("LST_IP.CFG"), "127.0.0.2\r\n127.0.0.3\r\n"));
    FakeSocketFactory sockets;
    MainWindow window(sockets);
    window.Form_Load();
    for (const int i : marked)
        window.addressList()->setMarked(i, true);
    if (toggled >= 0) // as the Space key does: the mark flips, the list's handler runs
        window.LST_IP->item(toggled)->setCheckState(Qt::Unchecked);
    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(window.LST_IP);
    QVERIFY(list);
    QStringList spoken;
    for (int i = 0; i < list->childCount(); ++i)
        spoken.append(list->child(i)->text(QAccessible::Name));
    QCOMPARE(spoken, names);
}

void TestAccessible::lampSpeaksItsColour_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<bool>("markFirst");
    QTest::addColumn<QString>("spoken");

    QTest::newRow("no-display") << QByteArray() << false
                                << QStringLiteral("every display connected");
    QTest::newRow("one-unmarked") << QByteArray("127.0.0.2\r\n") << false
                                  << QStringLiteral("not every display connected");
    QTest::newRow("one-marked") << QByteArray("127.0.0.2\r\n") << true
                                << QStringLiteral("every display connected");
}

void TestAccessible::lampSpeaksItsColour()
{
    QFETCH(QByteArray, list);
    QFETCH(bool, markFirst);
    QFETCH(QString, spoken);

    QVERIFY(writeAll(QStringLiteral("LST_IP.CFG"), list));
    FakeSocketFactory sockets;
    MainWindow window(sockets);
    window.Form_Load();
    if (markFirst)
        window.addressList()->setMarked(0, true);
    window.supervisor()->TIM_IP_CON_Timer();
    QCOMPARE(window.TCP_OK->fillColor() == Supervisor::kLampGreen,
             !spoken.startsWith(QLatin1String("not")));
    QCOMPARE(window.TCP_OK->accessibleDescription(),
             QStringLiteral("TCP CONNECTION STATUS: ") + spoken);
}

QTEST_MAIN(TestAccessible)
#include "tst_accessible.moc"
