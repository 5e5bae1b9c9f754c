#include "support/fakesockets.h"
#include "support/roomsfixture.h"

#include <QtTest>

namespace {

const QColor kRunning = RoomsFixture::running();
const QColor kStopped = RoomsFixture::stopped();

// What the change handling saw at each send: the three texts, the Run value.
struct Call
{
    QString texts;
    bool running;
};

// The real window with one display connected and marked, so that every run of
// the change handling sends exactly one frame; each send records what the
// handling saw, and each field's text change records its index.
struct Rig : FakeSocketFactory
{
    Rig()
    {
        console.addEntry(QStringLiteral("display"));
        tcp.at(0)->fireConnected();
        onSend = [this](int, const QByteArray &) { calls.append({texts(), swGo.isChecked()}); };
        for (int i = 0; i < 3; ++i)
            QObject::connect(fields[i], &QLineEdit::textChanged, &window,
                             [this, i] { changed << i; });
        calls.clear();
    }

    RoomsFixture console{*this};
    MainWindow &window = console.window;
    QCheckBox &swGo = console.swGo;
    QPushButton &bReset = console.bReset;
    QTimer &timer = console.timRebour;
    ShapeWidget &vert = console.vert;
    ShapeWidget &rouge = console.rouge;
    Countdown &countdown = console.countdown;
    DelayField &seconds = console.inpDelay2;
    std::array<DelayField *, 3> fields{&console.inpDelay0, &console.inpDelay1, &console.inpDelay2};
    QList<Call> calls;
    QList<int> changed;

    QString texts() const { return console.texts(); }
    void set(const QString &hms)
    {
        console.set(hms);
        calls.clear();
        changed.clear();
    }
    QStringList seen() const
    {
        QStringList out;
        for (const Call &call : calls)
            out << call.texts;
        return out;
    }
    bool allColoured(const QColor &colour) const
    {
        for (const DelayField *field : fields) {
            if (field->palette().color(QPalette::Base) != colour)
                return false;
        }
        return true;
    }
};

} // namespace

class TestCountdown : public QObject
{
    Q_OBJECT
private slots:
    void tickWrites_data();
    void tickWrites();
    void pauseAndResume();
    void reset_data();
    void reset();
    void doubleClickEmptiesOneField_data();
    void doubleClickEmptiesOneField();
    void thirdCharacterRefused();
    void coloursReadFromSwatches();
    void realTimerCountsToZero();
};

// Each tick writes hours, minutes, seconds in turn; the change handling sees each write.
void TestCountdown::tickWrites_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QStringList>("seen");
    QTest::addColumn<bool>("runningAfter");
    QTest::newRow("ten-hours") << "10:00:00" << QStringList{"09:00:00", "09:59:00", "09:59:59"}
                               << true;
    QTest::newRow("one-hour") << "01:00:00" << QStringList{"00:00:00", "00:59:00", "00:59:59"}
                              << true;
    QTest::newRow("minutes-75") << "00:75:00" << QStringList{"01:75:00", "01:14:00", "01:14:59"}
                                << true;
    QTest::newRow("only-seconds-change") << "00:01:05" << QStringList{"00:01:04"} << true;
    QTest::newRow("half-second") << "01:00:.5" << QStringList{"01:00:00"} << true;
    QTest::newRow("last-second") << "00:00:01" << QStringList{"00:00:00"} << false;
    QTest::newRow("from-empty") << "::" << QStringList{"00::", "00:00:", "00:00:00"} << false;
}

void TestCountdown::tickWrites()
{
    QFETCH(QString, from);
    QFETCH(QStringList, seen);
    QFETCH(bool, runningAfter);
    Rig rig;
    rig.swGo.setChecked(true);
    rig.set(from);
    rig.countdown.TIM_REBOUR_Timer();
    QCOMPARE(rig.seen(), seen);
    // Every write reached the displays while Run was still on; stopping comes after.
    for (const Call &call : std::as_const(rig.calls))
        QVERIFY(call.running);
    QCOMPARE(rig.swGo.isChecked(), runningAfter);
    QCOMPARE(rig.timer.isActive(), runningAfter);
    QVERIFY(rig.allColoured(runningAfter ? kRunning : kStopped));
}

void TestCountdown::pauseAndResume()
{
    Rig rig;
    rig.set(QStringLiteral("00:00:05"));
    rig.swGo.setChecked(true);
    rig.countdown.TIM_REBOUR_Timer();
    QCOMPARE(rig.texts(), QStringLiteral("00:00:04"));

    rig.swGo.setChecked(false);
    QVERIFY(!rig.timer.isActive());
    QVERIFY(rig.allColoured(kStopped));
    rig.countdown.TIM_REBOUR_Timer(); // paused: the tick does nothing
    QCOMPARE(rig.texts(), QStringLiteral("00:00:04"));

    rig.swGo.setChecked(true);
    QVERIFY(rig.timer.isActive());
    QCOMPARE(rig.timer.interval(), 1000);
    QVERIFY(rig.allColoured(kRunning));
    rig.countdown.TIM_REBOUR_Timer();
    QCOMPARE(rig.texts(), QStringLiteral("00:00:03"));
}

void TestCountdown::reset_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<bool>("running");
    QTest::addColumn<QStringList>("seen");
    // The fields whose text changed; the last send is Reset's own direct call.
    QTest::addColumn<QList<int>>("indexes");
    const QStringList fromTimeSeen{":02:03", "::03", "::", "::"};
    QTest::newRow("running") << "01:02:03" << true << fromTimeSeen << QList<int>{0, 1, 2};
    QTest::newRow("stopped") << "01:02:03" << false << fromTimeSeen << QList<int>{0, 1, 2};
    // Already empty: only the direct call, so the displays still get the blank frame.
    QTest::newRow("already-empty") << "::" << false << QStringList{"::"} << QList<int>{};
    QTest::newRow("one-field-set") << "::07" << true << QStringList{"::", "::"} << QList<int>{2};
}

void TestCountdown::reset()
{
    QFETCH(QString, from);
    QFETCH(bool, running);
    QFETCH(QStringList, seen);
    QFETCH(QList<int>, indexes);
    Rig rig;
    rig.swGo.setChecked(running);
    rig.set(from);
    rig.bReset.click();

    QCOMPARE(rig.seen(), seen);
    for (const Call &call : std::as_const(rig.calls))
        QVERIFY(!call.running); // Run goes off before the first clear
    QCOMPARE(rig.changed, indexes);
    QCOMPARE(rig.texts(), QStringLiteral("::"));
    QVERIFY(!rig.swGo.isChecked());
    QVERIFY(!rig.timer.isActive());
    QVERIFY(rig.allColoured(kStopped));
}

void TestCountdown::doubleClickEmptiesOneField_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("nextTick");
    QTest::newRow("hours") << 0 << ":30:00"
                           << "00:29:59";
    QTest::newRow("minutes") << 1 << "01::00"
                             << "00:59:59";
    QTest::newRow("seconds") << 2 << "01:30:"
                             << "01:29:59";
}

void TestCountdown::doubleClickEmptiesOneField()
{
    QFETCH(int, index);
    QFETCH(QString, after);
    QFETCH(QString, nextTick);
    Rig rig;
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
    rig.swGo.setChecked(true);
    rig.set(QStringLiteral("01:30:00"));

    QTest::mouseDClick(rig.fields[index], Qt::LeftButton);
    QCOMPARE(rig.texts(), after);
    QCOMPARE(rig.calls.size(), 1);
    QCOMPARE(rig.changed, QList<int>{index});
    QVERIFY(rig.swGo.isChecked());
    QVERIFY(rig.timer.isActive());

    rig.countdown.TIM_REBOUR_Timer();
    QCOMPARE(rig.texts(), nextTick);
}

void TestCountdown::thirdCharacterRefused()
{
    Rig rig;
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
    rig.set(QStringLiteral("00:00:"));
    rig.seconds.setFocus();
    QTest::keyClicks(&rig.seconds, QStringLiteral("123"));
    QCOMPARE(rig.seconds.text(), QStringLiteral("12"));
    QCOMPARE(rig.seen(), (QStringList{"00:00:1", "00:00:12"}));
}

void TestCountdown::coloursReadFromSwatches()
{
    Rig rig;
    const QColor newRunning(10, 20, 30);
    const QColor newStopped(200, 100, 50);
    rig.vert.setFillColor(newRunning);
    rig.swGo.setChecked(true);
    QVERIFY(rig.allColoured(newRunning));
    rig.rouge.setFillColor(newStopped);
    rig.swGo.setChecked(false);
    QVERIFY(rig.allColoured(newStopped));
    // Painting the fields is not a change of their text.
    QVERIFY(rig.calls.isEmpty());
    QCOMPARE(rig.texts(), QStringLiteral("00:00:00"));
}

// The one run on the real timer: Run switched on by a click, two ticks, a stop.
void TestCountdown::realTimerCountsToZero()
{
    Rig rig;
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
    rig.set(QStringLiteral("00:00:02"));
    QTest::mouseClick(&rig.swGo, Qt::LeftButton);
    QVERIFY(rig.swGo.isChecked());
    QCOMPARE(rig.timer.timerType(), Qt::PreciseTimer);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.swGo.isChecked(), 3500);
    QCOMPARE(rig.seen(), (QStringList{"00:00:01", "00:00:00"}));
    QVERIFY(!rig.timer.isActive());
    QVERIFY(rig.allColoured(kStopped));
}

QTEST_MAIN(TestCountdown)
#include "tst_countdown.moc"
