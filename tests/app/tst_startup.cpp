#include "controls/controls.h"
#include "app/mainwindow.h"
#include "core/socketarray.h"
#include "support/fakesockets.h"
#include "support/testfiles.h"

#include <QCheckBox>
#include <QListWidget>
#include <QtTest>

#include <optional>

// Start-up and the two window modes, seen as the operator sees the window.
class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_dir.emplace().isValid()); }
    void cleanup() { m_dir.reset(); }
    void opensAsTheListSays_data();
    void opensAsTheListSays();
    void modes_data();
    void modes();
    void stoppedColourBeforeShown();
    void titleOnClose_data();
    void titleOnClose();

private:
    static QSize clientTwips(const QWidget &w)
    {
        return {pixelsToTwips(w.width()), pixelsToTwips(w.height())};
    }
    std::optional<TempCurrentDir> m_dir; // fresh and current for every case
};

// Pixels are whole: a client size in twips is checked to within one pixel.
static void compareTwips(const QSize &actual, const QSize &expected)
{
    QVERIFY2(
        qAbs(actual.width() - expected.width()) < kTwipsPerPixel,
        qPrintable(
            QStringLiteral("width %1, expected %2").arg(actual.width()).arg(expected.width())));
    QVERIFY2(
        qAbs(actual.height() - expected.height()) < kTwipsPerPixel,
        qPrintable(
            QStringLiteral("height %1, expected %2").arg(actual.height()).arg(expected.height())));
}

void TestStartup::opensAsTheListSays_data()
{
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("panelOpen");
    QTest::addColumn<QSize>("client");

    QTest::newRow("no-file") << false << QByteArray() << true << QSize(3545, 4305);
    QTest::newRow("empty-file") << true << QByteArray() << true << QSize(3545, 4305);
    QTest::newRow("one-entry") << true << QByteArray("127.0.0.2\r\n") << false << QSize(3545, 2475);
    QTest::newRow("one-empty-line") << true << QByteArray("\r\n") << false << QSize(3545, 2475);
}

void TestStartup::opensAsTheListSays()
{
    QFETCH(bool, fileExists);
    QFETCH(QByteArray, content);
    QFETCH(bool, panelOpen);
    QFETCH(QSize, client);

    if (fileExists)
        QVERIFY(writeAll(QStringLiteral("LST_IP.CFG"), content));
    FakeSocketFactory sockets;
    MainWindow window(sockets);
    window.Form_Load();
    QCOMPARE(window.SW_CFG->isChecked(), panelOpen);
    QVERIFY(!window.SW_SHOW_LOG->isChecked());
    compareTwips(clientTwips(window), client);
    QCOMPARE(window.TCPIP_TCP->count(), window.LST_IP->count());
    // The operator cannot resize it: the layout never adapts.
    QCOMPARE(window.minimumSize(), window.maximumSize());
}

void TestStartup::modes_data()
{
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<QSize>("client");

    const QStringList none;
    QTest::newRow("panel-twice-restores") << QStringList{"SW_CFG", "SW_CFG"} << QSize(3545, 2475);
    QTest::newRow("panel-open") << QStringList{"SW_CFG"} << QSize(3545, 4305);
    QTest::newRow("log-then-panel-hidden")
        << QStringList{"SW_CFG", "SW_SHOW_LOG", "SW_CFG"} << QSize(10515, 2475);
    QTest::newRow("log-and-panel") << QStringList{"SW_CFG", "SW_SHOW_LOG"} << QSize(10515, 4305);
    QTest::newRow("log-twice") << QStringList{"SW_CFG", "SW_SHOW_LOG", "SW_SHOW_LOG"}
                               << QSize(3545, 4305);
}

// Starts short (one known display), then the operator clicks the toggles.
void TestStartup::modes()
{
    QFETCH(QStringList, clicks);
    QFETCH(QSize, client);

    QVERIFY(writeAll(QStringLiteral("LST_IP.CFG"), "127.0.0.2\r\n"));
    FakeSocketFactory sockets;
    MainWindow window(sockets);
    window.Form_Load();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSize before = clientTwips(window);
    for (const QString &name : clicks) {
        auto *box = window.findChild<QCheckBox *>(name);
        QVERIFY(box);
        box->click();
        // One toggle sets one dimension only.
        const QSize after = clientTwips(window);
        if (name == QLatin1String("SW_CFG"))
            QCOMPARE(after.width(), before.width());
        else
            QCOMPARE(after.height(), before.height());
        before = after;
    }
    compareTwips(clientTwips(window), client);
}

// The window is first shown already stopped-coloured and at its final size.
void TestStartup::stoppedColourBeforeShown()
{
    QVERIFY(writeAll(QStringLiteral("LST_IP.CFG"), "127.0.0.2\r\n"));
    FakeSocketFactory sockets;
    MainWindow window(sockets);
    struct OnShow : QObject
    {
        MainWindow &w;
        QSize size;
        QColor colour;
        explicit OnShow(MainWindow &window) : w(window) {}
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::Show) {
                size = w.size();
                colour = w.INP_DELAY[0]->palette().color(QPalette::Base);
            }
            return false;
        }
    } shown(window);
    window.installEventFilter(&shown);
    window.Form_Load();
    window.show();
    QCOMPARE(shown.size, window.size());
    compareTwips(clientTwips(window), QSize(3545, 2475));
    QCOMPARE(shown.colour, QColor(255, 192, 192));
    for (DelayField *field : window.INP_DELAY)
        QCOMPARE(field->text(), QStringLiteral("00"));
}

void TestStartup::titleOnClose_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("typed") << QStringLiteral("Act II") << QByteArray("Act II\r\n");
    // The focus never left the first field: the title is not written.
    QTest::newRow("never-focused") << QString() << QByteArray("<missing>");
}

void TestStartup::titleOnClose()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, file);
    FakeSocketFactory sockets;
    MainWindow window(sockets);
    window.Form_Load();
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCOMPARE(QApplication::focusWidget(), window.INP_DELAY[0]);
    if (!typed.isNull()) {
        window.INP_TITLE->setFocus(Qt::TabFocusReason);
        window.INP_TITLE->selectAll();
        QTest::keyClicks(window.INP_TITLE, typed);
        QVERIFY(!QFile::exists(QStringLiteral("TITLE.CFG")));
    }
    window.close();
    QCOMPARE(readAll(QStringLiteral("TITLE.CFG")), file);
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
