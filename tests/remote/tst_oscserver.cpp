#include "support/remotefixture.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>
#include <QtTest>

#include <lo/lo.h>

// OSC over loopback from a liblo client against the real window.
class TestOscServer : public QObject
{
    Q_OBJECT

private slots:
    void commands_data();
    void commands();
    void refused_data();
    void refused();
    void feedback();
    void feedbackBounded();
    void senderAllowed_data();
    void senderAllowed();
};

namespace {

// Sends one message with liblo; `types` as lo_message_add_varargs takes them.
void send(quint16 port, const char *path, lo_message m)
{
    lo_address to = lo_address_new("127.0.0.1", QByteArray::number(port).constData());
    lo_send_message(to, path, m);
    lo_address_free(to);
    lo_message_free(m);
}

lo_message message(const QString &types, const QVariantList &values)
{
    lo_message m = lo_message_new();
    for (qsizetype i = 0; i < types.size(); ++i) {
        switch (types.at(i).toLatin1()) {
        case 'i':
            lo_message_add_int32(m, values[i].toInt());
            break;
        case 'f':
            lo_message_add_float(m, values[i].toFloat());
            break;
        case 's':
            lo_message_add_string(m, values[i].toString().toUtf8().constData());
            break;
        case 'T':
            lo_message_add_true(m);
            break;
        }
    }
    return m;
}

// One message as the bytes of a datagram, for sending from a socket of the test's own.
QByteArray bytes(const char *path, lo_message m)
{
    size_t size = 0;
    void *raw = lo_message_serialise(m, path, nullptr, &size);
    const QByteArray out(static_cast<const char *>(raw), static_cast<qsizetype>(size));
    free(raw);
    lo_message_free(m);
    return out;
}

// A feedback target: a UDP socket on loopback that collects the times sent to it.
struct Target
{
    QUdpSocket socket;
    QStringList times;
    explicit Target(const QString &from = QStringLiteral("127.0.0.1"))
    {
        socket.bind(QHostAddress(from), 0);
        QObject::connect(&socket, &QUdpSocket::readyRead, &socket, [this] {
            while (socket.hasPendingDatagrams()) {
                QByteArray d = socket.receiveDatagram().data();
                int result = 0;
                lo_message m
                    = lo_message_deserialise(d.data(), static_cast<size_t>(d.size()), &result);
                if (!m)
                    continue;
                if (QByteArray(lo_get_path(d.data(), d.size())) == "/rv38t/feedback/time"
                    && QByteArray(lo_message_get_types(m)) == "s")
                    times.append(QString::fromUtf8(
                        reinterpret_cast<const char *>(lo_message_get_argv(m)[0])));
                lo_message_free(m);
            }
        });
    }
    // Asks for feedback (0: to this socket's own port; -1: stop), sent from this socket.
    void ask(quint16 oscPort, int port)
    {
        lo_message m = lo_message_new();
        lo_message_add_int32(m, port);
        socket.writeDatagram(bytes("/rv38t/feedback", m), QHostAddress::LocalHost, oscPort);
    }
};

// Waits until the server has handled every datagram sent before this call.
bool settled(RemoteFixture &f)
{
    QSignalSpy refused(f.osc.get(), &OscServer::refused);
    send(f.osc->port(), "/rv38t/none", lo_message_new());
    return refused.wait(5000);
}

} // namespace

void TestOscServer::commands_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("types");
    QTest::addColumn<QVariantList>("values");
    QTest::addColumn<QByteArrayList>("frames");
    QTest::addColumn<QString>("time");
    QTest::addColumn<bool>("running");
    QTest::addColumn<QString>("logged");

    QTest::newRow("time") << QByteArray("/rv38t/time") << "s" << QVariantList{"00:02:00"}
                          << QByteArrayList{frame("000230"), frame("000200")} << "00:02:00" << false
                          << "OSC 127.0.0.1= TIME 00:02:00";
    QTest::newRow("run") << QByteArray("/rv38t/run") << "" << QVariantList{} << QByteArrayList{}
                         << "00:01:30" << true << "OSC 127.0.0.1= RUN";
    QTest::newRow("run-with-trigger-value")
        << QByteArray("/rv38t/run") << "i" << QVariantList{1} << QByteArrayList{} << "00:01:30"
        << true << "OSC 127.0.0.1= RUN";
    QTest::newRow("reset") << QByteArray("/rv38t/reset") << "" << QVariantList{}
                           << QByteArrayList{frame("000130"), frame("000030"), frame("------"),
                                             frame("------")}
                           << "::" << false << "OSC 127.0.0.1= RESET";
    QTest::newRow("nudge-int") << QByteArray("/rv38t/nudge") << "i" << QVariantList{-60}
                               << QByteArrayList{frame("000030")} << "00:00:30" << false
                               << "OSC 127.0.0.1= NUDGE -60";
    QTest::newRow("nudge-whole-float")
        << QByteArray("/rv38t/nudge") << "f" << QVariantList{60.0}
        << QByteArrayList{frame("000230")} << "00:02:30" << false << "OSC 127.0.0.1= NUDGE +60";
    QTest::newRow("runat-arms-only")
        << QByteArray("/rv38t/runat") << "s" << QVariantList{"4:05:06"} << QByteArrayList{}
        << "00:01:30" << false << "OSC 127.0.0.1= RUN AT 04:05:06";
    QTest::newRow("disarm") << QByteArray("/rv38t/disarm") << "" << QVariantList{}
                            << QByteArrayList{} << "00:01:30" << false << "OSC 127.0.0.1= DISARM";
    QTest::newRow("zones") << QByteArray("/rv38t/zones") << "ss"
                           << QVariantList{"00:03:00", "00:00:30"} << QByteArrayList{} << "00:01:30"
                           << false << "OSC 127.0.0.1= ZONES 00:03:00 00:00:30";
    QTest::newRow("message") << QByteArray("/rv38t/message") << "s" << QVariantList{"Wrap up"}
                             << QByteArrayList{} << "00:01:30" << false
                             << R"(OSC 127.0.0.1= MESSAGE "Wrap up")";
    QTest::newRow("message-hidden")
        << QByteArray("/rv38t/message/visible") << "i" << QVariantList{0} << QByteArrayList{}
        << "00:01:30" << false << "OSC 127.0.0.1= MESSAGE HIDDEN";
    QTest::newRow("blackout-off") << QByteArray("/rv38t/blackout") << "i" << QVariantList{0}
                                  << QByteArrayList{} << "00:01:30" << false
                                  << "OSC 127.0.0.1= BLACKOUT OFF";
}

void TestOscServer::commands()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, types);
    QFETCH(QVariantList, values);
    QFETCH(QByteArrayList, frames);
    QFETCH(QString, time);
    QFETCH(bool, running);
    QFETCH(QString, logged);

    RemoteFixture f;
    QVERIFY(f.oscListening);
    f.setFields(QStringLiteral("00"), QStringLiteral("01"), QStringLiteral("30"));
    f.window->TIM_REBOUR->stop();
    f.clearSent();
    send(f.osc->port(), path.constData(), message(types, values));
    QTRY_VERIFY_WITH_TIMEOUT(f.log().contains(QLatin1String("OSC ")), 5000);
    QVERIFY2(f.log().endsWith(logged + QStringLiteral("\r\n")), qPrintable(f.log()));
    QCOMPARE(f.frames(), frames);
    QCOMPARE(f.fields(), time);
    QCOMPARE(f.window->SW_GO->isChecked(), running);
}

void TestOscServer::refused_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("types");
    QTest::addColumn<QVariantList>("values");

    QTest::newRow("unknown-address") << QByteArray("/rv38t/stop") << "" << QVariantList{};
    QTest::newRow("time-as-int") << QByteArray("/rv38t/time") << "i" << QVariantList{90};
    QTest::newRow("time-out-of-range")
        << QByteArray("/rv38t/time") << "s" << QVariantList{"00:00:60"};
    QTest::newRow("time-no-argument") << QByteArray("/rv38t/time") << "" << QVariantList{};
    QTest::newRow("until-as-int") << QByteArray("/rv38t/until") << "i" << QVariantList{72000};
    QTest::newRow("until-hour-24") << QByteArray("/rv38t/until") << "s" << QVariantList{"24:00:00"};
    QTest::newRow("until-two-strings")
        << QByteArray("/rv38t/until") << "ss" << QVariantList{"20:00:00", "20:00:00"};
    QTest::newRow("runat-no-argument") << QByteArray("/rv38t/runat") << "" << QVariantList{};
    QTest::newRow("runat-minute-60")
        << QByteArray("/rv38t/runat") << "s" << QVariantList{"19:60:00"};
    QTest::newRow("runat-as-float") << QByteArray("/rv38t/runat") << "f" << QVariantList{19.5};
    QTest::newRow("nudge-string") << QByteArray("/rv38t/nudge") << "s" << QVariantList{"60"};
    QTest::newRow("nudge-fraction") << QByteArray("/rv38t/nudge") << "f" << QVariantList{1.5};
    QTest::newRow("nudge-two-arguments")
        << QByteArray("/rv38t/nudge") << "ii" << QVariantList{60, 60};
    QTest::newRow("nudge-bool") << QByteArray("/rv38t/nudge") << "T" << QVariantList{true};
    // At most a day less a second, as over HTTP.
    QTest::newRow("time-hours-24") << QByteArray("/rv38t/time") << "s" << QVariantList{"24:00:00"};
    QTest::newRow("nudge-past-a-day") << QByteArray("/rv38t/nudge") << "i" << QVariantList{86400};
    QTest::newRow("zones-one-string")
        << QByteArray("/rv38t/zones") << "s" << QVariantList{"00:05:00"};
    QTest::newRow("zones-bad-time")
        << QByteArray("/rv38t/zones") << "ss" << QVariantList{"5:00", "00:01:00"};
    QTest::newRow("zones-danger-above")
        << QByteArray("/rv38t/zones") << "ss" << QVariantList{"00:01:00", "00:05:00"};
    QTest::newRow("message-int") << QByteArray("/rv38t/message") << "i" << QVariantList{1};
    QTest::newRow("message-tab") << QByteArray("/rv38t/message") << "s" << QVariantList{"a\tb"};
    QTest::newRow("visible-2") << QByteArray("/rv38t/message/visible") << "i" << QVariantList{2};
    QTest::newRow("blackout-string") << QByteArray("/rv38t/blackout") << "s" << QVariantList{"1"};
    QTest::newRow("blackout-float") << QByteArray("/rv38t/blackout") << "f" << QVariantList{1.0};
}

void TestOscServer::refused()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, types);
    QFETCH(QVariantList, values);

    RemoteFixture f;
    QVERIFY(f.oscListening);
    f.setFields(QStringLiteral("00"), QStringLiteral("01"), QStringLiteral("30"));
    f.clearSent();
    const QString logBefore = f.log();
    QSignalSpy refused(f.osc.get(), &OscServer::refused);
    send(f.osc->port(), path.constData(), message(types, values));
    QVERIFY(refused.wait(5000));
    QCOMPARE(f.frames(), QByteArrayList());
    QCOMPARE(f.fields(), QStringLiteral("00:01:30"));
    QCOMPARE(f.log(), logBefore);
    QCOMPARE(f.hub.state().startsAt, QString());
    QVERIFY(f.hub.presenter() == PresenterSettings{});
}

// Every change of the time goes back to each target. A full list keeps its
// targets while their leases run: a newcomer is refused, not given a place
// that silently ends QLab's; and only a target itself stops its replies.
void TestOscServer::feedback()
{
    RemoteFixture f;
    QVERIFY(f.oscListening);
    qint64 now = 0;
    f.osc->setClock([&now] { return now; });
    f.setFields(QStringLiteral("00"), QStringLiteral("01"), QStringLiteral("30"));
    f.window->TIM_REBOUR->stop();
    std::vector<std::unique_ptr<Target>> targets;
    for (int i = 0; i < OscServer::kMaxReplyTargets + 1; ++i) {
        targets.push_back(std::make_unique<Target>(QStringLiteral("127.0.0.%1").arg(i + 1)));
        targets.back()->ask(f.osc->port(), 0);
    }
    QVERIFY(settled(f));
    QTRY_COMPARE_WITH_TIMEOUT(targets[7]->times, QStringList{QStringLiteral("00:01:30")}, 5000);
    QCOMPARE(targets[8]->times, QStringList());

    // Another program on the same machine asks to stop the first one's replies.
    Target other;
    lo_message stop = lo_message_new();
    lo_message_add_int32(stop, -1);
    other.socket.writeDatagram(bytes("/rv38t/feedback", stop), QHostAddress::LocalHost,
                               f.osc->port());
    QVERIFY(settled(f));
    f.window->INP_DELAY[2]->setText(QStringLiteral("29"));
    QTRY_COMPARE_WITH_TIMEOUT(targets[0]->times.size(), 2, 5000);
    QCOMPARE(targets[0]->times.last(), QStringLiteral("00:01:29"));
    QTRY_COMPARE_WITH_TIMEOUT(targets[7]->times.size(), 2, 5000);

    // The first one stops its own; the place it frees is taken.
    targets[0]->ask(f.osc->port(), -1);
    targets[8]->ask(f.osc->port(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(targets[8]->times.size(), 1, 5000);
    f.window->INP_DELAY[2]->setText(QStringLiteral("28"));
    QTRY_COMPARE_WITH_TIMEOUT(targets[8]->times.size(), 2, 5000);
    QVERIFY(settled(f));
    QCOMPARE(targets[0]->times.size(), 2);

    // An hour on, one target asks again; a newcomer takes the oldest lease that ran out.
    Target late(QStringLiteral("127.0.0.10"));
    late.ask(f.osc->port(), 0);
    QVERIFY(settled(f));
    QCOMPARE(late.times, QStringList());
    now += OscServer::kLeaseMs;
    targets[1]->ask(f.osc->port(), 0);
    late.ask(f.osc->port(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(late.times.size(), 1, 5000);
    f.window->INP_DELAY[2]->setText(QStringLiteral("27"));
    QTRY_COMPARE_WITH_TIMEOUT(late.times.size(), 2, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(targets[1]->times.last(), QStringLiteral("00:01:27"), 5000);
    QVERIFY(settled(f));
    QCOMPARE(targets[2]->times.last(), QStringLiteral("00:01:28"));
}

// What one sender, forged or not, can make the console send stays bounded:
// two places per address, and at most ten reply pairs a second per place.
void TestOscServer::feedbackBounded()
{
    RemoteFixture f;
    QVERIFY(f.oscListening);
    f.setFields(QStringLiteral("00"), QStringLiteral("01"), QStringLiteral("30"));
    f.window->TIM_REBOUR->stop();
    std::vector<std::unique_ptr<Target>> ports;
    Target asker;
    for (int i = 0; i < 7; ++i) {
        ports.push_back(std::make_unique<Target>());
        asker.ask(f.osc->port(), ports.back()->socket.localPort());
    }
    Target newcomer(QStringLiteral("127.0.0.2"));
    newcomer.ask(f.osc->port(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(newcomer.times.size(), 1, 5000);
    f.window->INP_DELAY[2]->setText(QStringLiteral("29"));
    QTRY_COMPARE_WITH_TIMEOUT(newcomer.times.size(), 2, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(std::count_if(ports.cbegin(), ports.cend(),
                                            [](const auto &t) { return t->times.size() == 2; }),
                              2, 5000);

    // A change every millisecond for a second.
    QElapsedTimer clock;
    QTimer storm;
    storm.setTimerType(Qt::PreciseTimer);
    int n = 0;
    const qsizetype before = newcomer.times.size();
    qsizetype during = -1;
    QEventLoop loop; // a wait of QtTest's own would sleep between the changes
    connect(&storm, &QTimer::timeout, &storm, [&] {
        f.window->INP_DELAY[1]->setText(QString::number(n++ % 60));
        if (clock.elapsed() >= 1000) {
            storm.stop();
            during = newcomer.times.size() - before;
            loop.quit();
        }
    });
    clock.start();
    storm.start(1);
    loop.exec();
    QVERIFY2(during <= 10 && n > 300,
             qPrintable(QStringLiteral("%1 pairs, %2 changes").arg(during).arg(n)));
    QTRY_COMPARE_WITH_TIMEOUT(newcomer.times.last(), f.fields(), 5000);
}

void TestOscServer::senderAllowed_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QStringList>("allow");
    QTest::addColumn<bool>("allowed");

    QTest::newRow("loopback-always") << "127.0.0.1" << QStringList{} << true;
    QTest::newRow("loopback-other") << "127.3.2.1" << QStringList{} << true;
    QTest::newRow("loopback-v6") << "::1" << QStringList{} << true;
    QTest::newRow("lan-by-default") << "192.168.1.20" << QStringList{} << false;
    QTest::newRow("lan-in-block") << "192.168.1.20" << QStringList{"192.168.1.0/24"} << true;
    QTest::newRow("lan-outside-block") << "192.168.2.20" << QStringList{"192.168.1.0/24"} << false;
    QTest::newRow("single-host") << "10.0.0.7" << QStringList{"10.0.0.7"} << true;
    QTest::newRow("single-host-other") << "10.0.0.8" << QStringList{"10.0.0.7"} << false;
    QTest::newRow("mapped-loopback") << "::ffff:127.0.0.1" << QStringList{} << true;
    QTest::newRow("mapped-v4") << "::ffff:10.0.0.7" << QStringList{"10.0.0.0/8"} << true;
    QTest::newRow("second-block") << "172.16.5.5" << QStringList{"10.0.0.0/8", "172.16.0.0/12"}
                                  << true;
}

void TestOscServer::senderAllowed()
{
    QFETCH(QString, sender);
    QFETCH(QStringList, allow);
    QFETCH(bool, allowed);
    QList<listenaddress::Subnet> subnets;
    QString error;
    QVERIFY(listenaddress::parseSubnets(allow, &subnets, &error));
    QCOMPARE(listenaddress::senderAllowed(QHostAddress(sender), subnets), allowed);
}

QTEST_MAIN(TestOscServer)
#include "tst_oscserver.moc"
