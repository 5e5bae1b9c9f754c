#include "controls/controls.h"
#include "aids/eventlog.h"
#include "app/mainwindow.h"
#include "app/rundownwindow.h"
#include "core/socketarray.h"
#include "rundown/runningorder.h"
#include "support/fakesockets.h"
#include "support/testfiles.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <optional>

// The window as laid out: every control where the operator's panel expects it.
class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void layout_data();
    void layout();
    void stacking();
    void tabOrder();
    void initialState();
    void rundownKeysAndList();

private:
    std::optional<TempCurrentDir> m_dir;
};

void TestMainWindow::init()
{
    QVERIFY(m_dir.emplace().isValid());
}

void TestMainWindow::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips"); // left, top, width, height in the parent's client area
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("toolTip");

    const auto row = [](const char *name, int l, int t, int w, int h, const QString &text = {},
                        const QString &tip = {}) {
        QTest::newRow(name) << QString::fromLatin1(name) << QRect(l, t, w, h) << text << tip;
    };
    row("INP_TITLE", -30, 0, 3615, 480, QStringLiteral("TITLE HERE"));
    row("Image1", 15, 390, 3480, 1455);
    row("SW_CFG", 90, 510, 195, 195, QStringLiteral("Config."), QStringLiteral("Configuration"));
    row("Label3", 315, 510, 615, 195, QStringLiteral("Config."));
    row("Shape1", 315, 930, 2955, 615);
    row("Label1_6", 330, 945, 315, 585, QStringLiteral(" "));
    row("INP_DELAY_0", 435, 930, 735, 615, QStringLiteral("00"));
    row("Label1_1", 1140, 930, 315, 600, QStringLiteral(":"));
    row("INP_DELAY_1", 1425, 930, 735, 615, QStringLiteral("00"));
    row("Label1_0", 2115, 930, 315, 600, QStringLiteral(":"));
    row("INP_DELAY_2", 2400, 930, 735, 615, QStringLiteral("00"));
    row("Label1_7", 2940, 945, 315, 585, QStringLiteral(" "));
    row("Shape2", 75, 1845, 3390, 600);
    row("SW_GO", 180, 1905, 1110, 495, QStringLiteral("&Run"));
    row("Label2", 1425, 1890, 375, 195, QStringLiteral("TCP"),
        QStringLiteral("TCP CONNECTION STATUS"));
    row("TCP_OK", 1485, 2085, 270, 285);
    row("B_RESET", 2055, 1935, 1335, 435, QStringLiteral("&Reset"));
    row("FR_CFG", 30, 2445, 3450, 1785, QStringLiteral("Configuration "));
    row("INP_LOG", 3630, 0, 6825, 4245, QString());
    row("VERT", 4305, 5565, 255, 285);
    row("ROUGE", 4065, 5565, 255, 285);
    row("SW_SHOW_LOG", 2415, 180, 1005, 240, QStringLiteral("View Log"));
    row("Label1_5", 210, 240, 1785, 225, QStringLiteral("X = CONNECTION OK"));
    row("LST_IP", 120, 465, 3270, 960);
    row("B_IP_ADD", 120, 1425, 615, 285, QStringLiteral("Add"));
    row("B_IP_DEL", 750, 1425, 585, 285, QStringLiteral("Del"));
    row("INP_IP", 1350, 1440, 2040, 285);
}

static QString textOf(const QWidget *w)
{
    if (auto *b = qobject_cast<const QAbstractButton *>(w))
        return b->text();
    if (auto *l = qobject_cast<const QLabel *>(w))
        return l->text();
    if (auto *e = qobject_cast<const QLineEdit *>(w))
        return e->text();
    if (auto *g = qobject_cast<const QGroupBox *>(w))
        return g->title();
    if (auto *p = qobject_cast<const QPlainTextEdit *>(w))
        return p->toPlainText();
    return {};
}

void TestMainWindow::layout()
{
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    QFETCH(QString, text);
    QFETCH(QString, toolTip);

    FakeSocketFactory sockets;
    MainWindow window(sockets);
    auto *w = window.findChild<QWidget *>(name);
    QVERIFY2(w, qPrintable(name));
    const QRect expected(twipsToPixels(twips.x()), twipsToPixels(twips.y()),
                         twipsToPixels(twips.width()), twipsToPixels(twips.height()));
    // The legend is sized to fit its caption in whatever face stands in for the laid-out one.
    if (name == QLatin1String("Label1_5")) {
        QCOMPARE(w->pos(), expected.topLeft());
        QVERIFY(w->width() >= expected.width());
        QVERIFY(w->width() >= w->sizeHint().width());
    } else {
        QCOMPARE(w->geometry(), expected);
    }
    if (!text.isNull() && name != QLatin1String("INP_IP"))
        QCOMPARE(textOf(w), text);
    QCOMPARE(w->toolTip(), toolTip);
    const bool inFrame = name == QLatin1String("SW_SHOW_LOG") || name == QLatin1String("Label1_5")
                         || name.startsWith(QLatin1String("LST_IP"))
                         || name.startsWith(QLatin1String("B_IP"))
                         || name == QLatin1String("INP_IP");
    QCOMPARE(w->parentWidget(), inFrame ? static_cast<QWidget *>(window.FR_CFG) : &window);
}

// Later siblings are drawn in front: labels, shapes and the picture in their
// order, every input control above them all, the swatches never seen.
void TestMainWindow::stacking()
{
    FakeSocketFactory sockets;
    MainWindow window(sockets);
    window.Form_Load();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const QStringList backToFront
        = {"Image1",   "Label1_0", "Label1_1", "ROUGE",  "VERT",   "Shape1",
           "Label1_6", "Label1_7", "Shape2",   "TCP_OK", "Label2", "Label3"};
    QList<QObject *> children = window.children();
    auto position
        = [&](const QString &name) { return children.indexOf(window.findChild<QWidget *>(name)); };
    for (int i = 0; i + 1 < backToFront.size(); ++i)
        QVERIFY2(position(backToFront[i]) < position(backToFront[i + 1]),
                 qPrintable(backToFront[i]));
    for (const char *input : {"INP_TITLE", "SW_CFG", "INP_DELAY_0", "INP_DELAY_1", "INP_DELAY_2",
                              "SW_GO", "B_RESET", "FR_CFG", "INP_LOG"})
        QVERIFY2(position(QString::fromLatin1(input)) > position(QStringLiteral("Label3")), input);
    QVERIFY(!window.VERT->isVisible());
    QVERIFY(!window.ROUGE->isVisible());
}

void TestMainWindow::tabOrder()
{
    FakeSocketFactory sockets;
    MainWindow window(sockets);
    window.Form_Load();
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCOMPARE(QApplication::focusWidget(), window.INP_DELAY[0]);

    const QStringList order = {"INP_DELAY_1", "INP_DELAY_2", "INP_TITLE",  "INP_IP",  "B_IP_DEL",
                               "B_IP_ADD",    "LST_IP",      "SW_CFG",     "B_RESET", "SW_GO",
                               "SW_SHOW_LOG", "INP_LOG",     "INP_DELAY_0"};
    for (const QString &next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(QApplication::focusWidget());
        QCOMPARE(QApplication::focusWidget()->objectName(), next);
    }
}

void TestMainWindow::initialState()
{
    FakeSocketFactory sockets;
    MainWindow window(sockets);
    QCOMPARE(window.windowTitle(), QStringLiteral("Timer for RV-38T   Ver.: 1.0A"));
    QCOMPARE(window.TCP_OK->fillColor(), QColor(255, 0, 0));
    QCOMPARE(window.VERT->fillColor(), QColor(192, 255, 192));
    QCOMPARE(window.ROUGE->fillColor(), QColor(255, 192, 192));
    QVERIFY(!window.TIM_REBOUR->isActive());
    QVERIFY(window.TIM_IP_CON->isActive());
    QCOMPARE(window.TIM_IP_CON->interval(), 1000);
    QCOMPARE(window.TIM_IP_CON->timerType(), Qt::PreciseTimer);
    QCOMPARE(window.TIM_REBOUR->timerType(), Qt::PreciseTimer);
    QCOMPARE(window.LST_IP->count(), 0);
    QVERIFY(!window.SW_GO->isChecked());
    QVERIFY(!window.SW_CFG->isChecked());
    QVERIFY(!window.SW_SHOW_LOG->isChecked());
    for (DelayField *field : window.INP_DELAY)
        QCOMPARE(field->maxLength(), 2);
    QCOMPARE(window.Image1->pixmap().size(), QSize(232, 97));
    QCOMPARE(window.TCPIP_TCP->tag(99), QStringLiteral("0"));
    QVERIFY(window.TCPIP_UDP);
}

void TestMainWindow::rundownKeysAndList()
{
    const QByteArray csv = "title,duration,note\r\nDoors,15:00,\r\nKeynote,00:45:00,Slides\r\n"
                           "Panel,00:30:00,\r\n";
    QVERIFY(writeAll(QStringLiteral("RUNDOWN.CSV"), csv));
    FakeSocketFactory sockets;
    {
        MainWindow window(sockets);
        window.Form_Load();
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        const auto shown = [&window] {
            return window.INP_DELAY[0]->text() + window.INP_DELAY[1]->text()
                   + window.INP_DELAY[2]->text() + QLatin1Char(' ') + window.INP_TITLE->text();
        };

        // The keys step through it from wherever the focus is.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown, Qt::ControlModifier);
        QCOMPARE(shown(), QStringLiteral("001500 Doors"));
        QTest::keyClick(window.INP_TITLE, Qt::Key_PageDown, Qt::ControlModifier);
        QCOMPARE(shown(), QStringLiteral("004500 Keynote"));
        QTest::keyClick(window.INP_LOG, Qt::Key_PageUp, Qt::ControlModifier);
        QCOMPARE(shown(), QStringLiteral("001500 Doors"));
        QTRY_COMPARE(readAll(QStringLiteral("TITLE.CFG")), QByteArray("Doors\r\n"));
        QVERIFY(window.eventLog()->text().endsWith(QStringLiteral("CUE 1/3 \"Doors\"\r\n")));

        // Ctrl+O: the list, with its notes; a row chosen and loaded.
        QTest::keyClick(window.INP_DELAY[0], Qt::Key_O, Qt::ControlModifier);
        auto *list = window.findChild<RundownWindow *>();
        QVERIFY(list && list->isVisible());
        QCOMPARE(list->LST_RUNDOWN->topLevelItem(1)->text(4), QStringLiteral("Slides"));
        QCOMPARE(list->LST_RUNDOWN->topLevelItem(0)->text(0), QStringLiteral("\u25B6 1"));
        list->LST_RUNDOWN->setCurrentItem(list->LST_RUNDOWN->topLevelItem(2));
        QTest::mouseClick(list->B_RUNDOWN_LOAD, Qt::LeftButton);
        QCOMPARE(shown(), QStringLiteral("003000 Panel"));
        QCOMPARE(list->LST_RUNDOWN->topLevelItem(2)->text(0), QStringLiteral("\u25B6 3"));
        QCOMPARE(list->LST_RUNDOWN->topLevelItem(0)->text(0), QStringLiteral("1"));

        // Import: a bad file changes nothing and says why; a good one is saved as it came.
        QVERIFY(writeAll(QStringLiteral("show.csv"), "title;duration\r\nDoors;1:75:00\r\n"));
        list->setFileChooser([] { return QStringLiteral("show.csv"); });
        list->B_RUNDOWN_IMPORT->click();
        QVERIFY(window.eventLog()->text().endsWith(
            QStringLiteral("show.csv= row 2, duration: \"1:75:00\" is no time\r\n")));
        QCOMPARE(readAll(QStringLiteral("RUNDOWN.CSV")), csv);
        QCOMPARE(list->LST_RUNDOWN->topLevelItemCount(), 3);
        window.close(); // at once after a cue: its saves are not lost
    }
    // The current segment survives a restart, and the operator's file is left as it was.
    MainWindow again(sockets);
    again.Form_Load();
    QCOMPARE(again.runningOrder()->current(), 3);
    QCOMPARE(readAll(QStringLiteral("RUNDOWN.CSV")), csv);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
