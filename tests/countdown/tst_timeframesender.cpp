#include "support/countdownfixture.h"
#include "support/fakesockets.h"

#include <QtTest>

namespace {

// The countdown sending to an address list over fake sockets; entries 10.0.0.1 up.
struct Rig : FakeSocketFactory, SendingCountdown
{
    explicit Rig(int entries) : SendingCountdown(static_cast<FakeSocketFactory &>(*this))
    {
        for (int i = 0; i < entries; ++i)
            addEntry(QStringLiteral("10.0.0.%1").arg(i + 1));
    }
    void connectAndMark(const QList<int> &connected, const QList<int> &marked)
    {
        for (int i : connected)
            tcp.at(i)->setState(SocketState::Connected); // up, but the mark is the test's to set
        for (int i : marked)
            addresses.setMarked(i, true);
        sendLog.clear();
    }
    QList<int> sentTo() const
    {
        QList<int> out;
        for (const auto &send : sendLog)
            out << send.first;
        return out;
    }
    // The time texts that went out on one socket, each checked for its mark.
    QStringList timeTextsOn(int socket) const
    {
        QStringList out;
        for (const auto &send : sendLog) {
            if (send.first == socket)
                out << (send.second.startsWith('\xC7') ? QString::fromLatin1(send.second.mid(1))
                                                       : QStringLiteral("<no mark>"));
        }
        return out;
    }
};

} // namespace

class TestTimeFrameSender : public QObject
{
    Q_OBJECT
private slots:
    void whoGetsTheFrame_data();
    void whoGetsTheFrame();
    void countdownFrames_data();
    void countdownFrames();
};

void TestTimeFrameSender::whoGetsTheFrame_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<QList<int>>("connected");
    QTest::addColumn<QList<int>>("marked");
    QTest::addColumn<QList<int>>("failing");
    QTest::addColumn<QList<int>>("sentTo");
    QTest::newRow("marked-0-and-2")
        << 3 << QList<int>{0, 1, 2} << QList<int>{2, 0} << QList<int>{} << QList<int>{0, 2};
    QTest::newRow("all-marked-ascending") << 4 << QList<int>{3, 2, 1, 0} << QList<int>{3, 1, 2, 0}
                                          << QList<int>{} << QList<int>{0, 1, 2, 3};
    QTest::newRow("none-marked") << 3 << QList<int>{0, 1, 2} << QList<int>{} << QList<int>{}
                                 << QList<int>{};
    QTest::newRow("empty-list") << 0 << QList<int>{} << QList<int>{} << QList<int>{}
                                << QList<int>{};
    QTest::newRow("failure-on-0-not-blocking-1")
        << 2 << QList<int>{0, 1} << QList<int>{0, 1} << QList<int>{0} << QList<int>{1};
    // A mark the operator set by hand on a closed socket: that send fails, the rest go.
    QTest::newRow("marked-but-closed")
        << 3 << QList<int>{0, 2} << QList<int>{0, 1, 2} << QList<int>{} << QList<int>{0, 2};
}

void TestTimeFrameSender::whoGetsTheFrame()
{
    QFETCH(int, entries);
    QFETCH(QList<int>, connected);
    QFETCH(QList<int>, marked);
    QFETCH(QList<int>, failing);
    QFETCH(QList<int>, sentTo);
    Rig rig(entries);
    QCOMPARE(rig.addresses.count(), entries);
    rig.connectAndMark(connected, marked);
    for (int i : failing)
        rig.tcp.at(i)->setSendFails(true);

    rig.seconds.setText(QStringLiteral("01"));
    QCOMPARE(rig.sentTo(), sentTo);
    for (const auto &send : std::as_const(rig.sendLog))
        QCOMPARE(send.second.toHex(' '), QByteArray::fromHex("C7303030303031").toHex(' '));

    // The index makes no difference: a direct call sends the same again.
    rig.sendLog.clear();
    rig.sender.INP_DELAY_Change(0);
    QCOMPARE(rig.sentTo(), sentTo);

    // A failed send leaves the mark as it was.
    for (int i = 0; i < entries; ++i)
        QCOMPARE(rig.addresses.isMarked(i), marked.contains(i));
}

// The frames of the countdown's own writes, in order, on each marked display.
void TestTimeFrameSender::countdownFrames_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("tick-from-ten-hours") << "10:00:00"
                                         << "tick" << QStringList{"090000", "095900", "095959"};
    QTest::newRow("tick-from-one-hour") << "01:00:00"
                                        << "tick" << QStringList{"------", "005900", "005959"};
    QTest::newRow("tick-to-zero") << "00:00:01"
                                  << "tick" << QStringList{"------"};
    QTest::newRow("reset") << "01:02:03"
                           << "reset" << QStringList{"000203", "000003", "------", "------"};
    QTest::newRow("reset-when-empty") << "::"
                                      << "reset" << QStringList{"------"};
    QTest::newRow("double-click-hours") << "01:30:00"
                                        << "clear-hours" << QStringList{"003000"};
}

void TestTimeFrameSender::countdownFrames()
{
    QFETCH(QString, from);
    QFETCH(QString, action);
    QFETCH(QStringList, texts);
    Rig rig(2);
    rig.connectAndMark({0, 1}, {0, 1});
    rig.controls.swGo.setChecked(true);
    rig.set(from);
    rig.sendLog.clear();

    if (action == QLatin1String("tick"))
        rig.controls.countdown.TIM_REBOUR_Timer();
    else if (action == QLatin1String("reset"))
        rig.controls.bReset.click();
    else
        rig.controls.countdown.INP_DELAY_DblClick(0);

    QCOMPARE(rig.timeTextsOn(0), texts);
    QCOMPARE(rig.timeTextsOn(1), texts);
    // Each change goes to display 0 and then display 1 before the next write.
    QList<int> order;
    for (int i = 0; i < texts.size(); ++i)
        order << 0 << 1;
    QCOMPARE(rig.sentTo(), order);
}

QTEST_MAIN(TestTimeFrameSender)
#include "tst_timeframesender.moc"
