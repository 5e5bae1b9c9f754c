#include "support/remotefixture.h"
#include "support/tickwatch.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

// One address that opens a hundred connections and trickles a byte into each
// every two seconds, against the server's real limits: it may lock out only
// itself, and only until its requests' deadline; the countdown never waits.
class TestSlowClients : public QObject
{
    Q_OBJECT
private slots:
    void oneAddressTrickles();
};

void TestSlowClients::oneAddressTrickles()
{
    RemoteFixture f;
    QVERIFY(f.listening);
    TickWatch watch(f.window->INP_DELAY[2]);
    f.setFields(QStringLiteral("01"), QStringLiteral("00"), QStringLiteral("00"));
    f.window->SW_GO->setChecked(true);

    QElapsedTimer clock;
    clock.start();
    const auto slow = f.openClients(100, "GET / HTTP/1.1\r\n");
    QTimer drip;
    connect(&drip, &QTimer::timeout, this, [&] {
        for (auto &s : slow) {
            if (s->state() == QAbstractSocket::ConnectedState)
                s->write("X");
        }
    });
    drip.start(2000);
    QTRY_COMPARE_WITH_TIMEOUT(f.server->connectionCount(), 16, 5000);

    // Another address is served every time; this one again once its requests
    // have had their ten seconds.
    int asked = 0;
    int served = 0;
    qint64 sameAgainMs = -1;
    while (clock.elapsed() < 20000 && sameAgainMs < 0) {
        ++asked;
        served += f.stateFrom(QStringLiteral("127.0.0.2")).startsWith("HTTP/1.1 200 ");
        if (f.stateFrom(QStringLiteral("127.0.0.1")).startsWith("HTTP/1.1 200 "))
            sameAgainMs = clock.elapsed();
        QTest::qWait(250);
    }
    qInfo("other address: %d of %d served; the trickling address served again after %lld ms; "
          "%d ticks, %s",
          served, asked, sameAgainMs, watch.ticks(), qPrintable(watch.summary()));
    QCOMPARE(served, asked);
    QVERIFY2(sameAgainMs >= 0 && sameAgainMs <= 15000, qPrintable(QString::number(sameAgainMs)));
    QVERIFY2(watch.ticks() >= int(clock.elapsed() / 1000) - 1,
             qPrintable(QString::number(watch.ticks())));
    QVERIFY2(watch.fault().isEmpty(), qPrintable(watch.fault()));
}

QTEST_MAIN(TestSlowClients)
#include "tst_slowclients.moc"
