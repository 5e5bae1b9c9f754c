#include "support/remotefixture.h"
#include "support/tickwatch.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QtTest>

// Clients that hold places, against the server's real limits: one address
// that opens a hundred connections and trickles a byte into each every two
// seconds may lock out only itself, and only until its requests' deadline;
// seven that hold every place with keep-alive requests lock out nobody. The
// countdown never waits.
class TestSlowClients : public QObject
{
    Q_OBJECT
private slots:
    void oneAddressTrickles();
    void sevenAddressesHoldEveryPlace();
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
    // Its heads' ten seconds (a coarse timer: 5 %), not its idle limit.
    QVERIFY2(sameAgainMs >= 9000 && sameAgainMs <= 11500, qPrintable(QString::number(sameAgainMs)));
    QVERIFY2(watch.ticks() >= int(clock.elapsed() / 1000) - 1,
             qPrintable(QString::number(watch.ticks())));
    QVERIFY2(watch.fault().isEmpty(), qPrintable(watch.fault()));
}

void TestSlowClients::sevenAddressesHoldEveryPlace()
{
    RemoteFixture f("s3cret");
    QVERIFY(f.listening);
    TickWatch watch(f.window->INP_DELAY[2]);
    f.setFields(QStringLiteral("01"), QStringLiteral("00"), QStringLiteral("00"));
    f.window->SW_GO->setChecked(true);

    // 16 from each of 127.0.0.1-7, each asking again before its idle limit;
    // one that loses its place connects again at once and asks. They run on
    // a thread of their own, so the tick shares its thread with the server only.
    const QByteArray get = "GET /api/state HTTP/1.1\r\nHost: " + f.host() + "\r\n\r\n";
    const quint16 port = f.server->port();
    QThread holders;
    holders.start();
    QObject *root = nullptr;
    QObject anchor;
    anchor.moveToThread(&holders);
    QMetaObject::invokeMethod(
        &anchor,
        [&] {
            root = new QObject;
            auto ask = [root, get, port] {
                const auto held = root->findChildren<QTcpSocket *>();
                for (qsizetype i = 0; i < 112; ++i) {
                    QTcpSocket *s = i < held.size() ? held[i] : new QTcpSocket(root);
                    s->readAll();
                    if (s->state() == QAbstractSocket::UnconnectedState) {
                        s->bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(i / 16 + 1)));
                        s->connectToHost(QHostAddress::LocalHost, port);
                    }
                    s->write(get);
                }
            };
            ask();
            auto *timer = new QTimer(root);
            connect(timer, &QTimer::timeout, root, ask);
            timer->start(2000);
        },
        Qt::BlockingQueuedConnection);
    auto stopHolders = qScopeGuard([&] {
        QMetaObject::invokeMethod(
            &anchor, [&] { delete root; }, Qt::BlockingQueuedConnection);
        holders.quit();
        holders.wait();
    });
    QTRY_COMPARE_WITH_TIMEOUT(f.server->connectionCount(), 100, 10000);

    // Another address is served at once, every time, and so is the token from
    // an address that holds its share; the holders keep their places meanwhile.
    const qint64 seconds = qMax(12, qEnvironmentVariableIntValue("RV38T_HOLD_SECONDS"));
    const QByteArray withToken = "GET /api/state HTTP/1.1\r\nHost: " + f.host()
                                 + "\r\nAuthorization: Bearer s3cret\r\n\r\n";
    QElapsedTimer clock;
    clock.start();
    int asked = 0;
    int served = 0;
    int worstMs = 0;
    while (clock.elapsed() < seconds * 1000) {
        for (const auto &[from, request] : {std::pair{QStringLiteral("127.0.0.8"), get},
                                            std::pair{QStringLiteral("127.0.0.1"), withToken}}) {
            QElapsedTimer one;
            one.start();
            served += f.exchange(from, request, 1000).startsWith("HTTP/1.1 200 ");
            worstMs = qMax(worstMs, int(one.elapsed()));
            ++asked;
        }
        QTest::qWait(250);
    }
    qInfo("%d of %d served, the slowest in %d ms, with %d places held; %d ticks, %s", served, asked,
          worstMs, f.server->connectionCount(), watch.ticks(), qPrintable(watch.summary()));
    QCOMPARE(served, asked);
    QVERIFY2(f.server->connectionCount() >= 90,
             qPrintable(QString::number(f.server->connectionCount())));
    QVERIFY2(watch.ticks() >= int(seconds) - 1, qPrintable(QString::number(watch.ticks())));
    QVERIFY2(watch.fault().isEmpty(), qPrintable(watch.fault()));
}

QTEST_MAIN(TestSlowClients)
#include "tst_slowclients.moc"
