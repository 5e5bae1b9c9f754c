#include "support/countdownfixture.h"

#include <QHBoxLayout>
#include <QtTest>

namespace {

const QColor kRunning = CountdownControls::running();
const QColor kStopped = CountdownControls::stopped();

// What the change handling saw at each call: its index, the three texts, the Run value.
struct Call
{
    int index;
    QString texts;
    bool running;
};

struct Fields
{
    QWidget window;
    DelayField hours{&window};
    DelayField minutes{&window};
    DelayField seconds{&window};
    std::array<DelayField *, 3> fields{&hours, &minutes, &seconds};
    QList<Call> calls;
};

// The countdown's controls in one window, with a change handling that records
// what it sees instead of sending.
struct Rig : Fields, CountdownControls
{
    Rig() : CountdownControls(fields, [this](int index) { record(index); }, &window)
    {
        auto *layout = new QHBoxLayout(&window);
        for (int i = 0; i < 3; ++i) {
            layout->addWidget(fields[i]);
            QObject::connect(fields[i], &QLineEdit::textChanged, &countdown, [this, i] { record(i); });
        }
        layout->addWidget(&swGo);
        layout->addWidget(&bReset);
    }

    QString texts() const
    {
        return hours.text() + QLatin1Char(':') + minutes.text() + QLatin1Char(':') + seconds.text();
    }
    void record(int index) { calls.append({index, texts(), swGo.isChecked()}); }
    void set(const QString &hms)
    {
        const QStringList parts = hms.split(QLatin1Char(':'));
        for (int i = 0; i < 3; ++i)
            fields[i]->setText(parts.at(i));
        calls.clear();
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
    QTest::newRow("ten-hours") << "10:00:00"
                               << QStringList{"09:00:00", "09:59:00", "09:59:59"} << true;
    QTest::newRow("one-hour") << "01:00:00"
                              << QStringList{"00:00:00", "00:59:00", "00:59:59"} << true;
    QTest::newRow("minutes-75") << "00:75:00"
                                << QStringList{"01:75:00", "01:14:00", "01:14:59"} << true;
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
    QTest::addColumn<QList<int>>("indexes");
    const QStringList fromTimeSeen{":02:03", "::03", "::", "::"};
    QTest::newRow("running") << "01:02:03" << true << fromTimeSeen << QList<int>{0, 1, 2, 0};
    QTest::newRow("stopped") << "01:02:03" << false << fromTimeSeen << QList<int>{0, 1, 2, 0};
    // Already empty: only the direct call, so the displays still get the blank frame.
    QTest::newRow("already-empty") << "::" << false << QStringList{"::"} << QList<int>{0};
    QTest::newRow("one-field-set") << "::07" << true << QStringList{"::", "::"} << QList<int>{2, 0};
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
    QList<int> gotIndexes;
    for (const Call &call : std::as_const(rig.calls)) {
        gotIndexes << call.index;
        QVERIFY(!call.running); // Run goes off before the first clear
    }
    QCOMPARE(gotIndexes, indexes);
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
    QTest::newRow("hours") << 0 << ":30:00" << "00:29:59";
    QTest::newRow("minutes") << 1 << "01::00" << "00:59:59";
    QTest::newRow("seconds") << 2 << "01:30:" << "01:29:59";
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
    QCOMPARE(rig.calls.first().index, index);
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
