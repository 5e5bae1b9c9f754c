#include "support/netns.h"
#include "support/remotefixture.h"

#include <QCheckBox>
#include <QUdpSocket>
#include <QtTest>

#include <lo/lo.h>

#include <optional>

// The OSC server's own check of who sends, with a sender that is really off
// loopback: a host in a network namespace of the test's own.
class TestOscNetns : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase() { m_ns.reset(); }
    void senderOffLoopback_data();
    void senderOffLoopback();

private:
    std::optional<NamespacePair> m_ns;
};

void TestOscNetns::initTestCase()
{
    m_ns.emplace(QStringLiteral("rv38t-osc-"));
    if (!m_ns->isValid())
        QSKIP(qPrintable(m_ns->why()));
}

void TestOscNetns::senderOffLoopback_data()
{
    QTest::addColumn<QStringList>("allow");
    QTest::addColumn<bool>("taken");
    QTest::newRow("none-allowed") << QStringList{} << false;
    QTest::newRow("other-block") << QStringList{QStringLiteral("10.79.0.0/24")} << false;
    QTest::newRow("its-block") << QStringList{QStringLiteral("10.78.0.0/24")} << true;
    QTest::newRow("its-host") << QStringList{NamespacePair::kDisplayAddress} << true;
}

void TestOscNetns::senderOffLoopback()
{
    QFETCH(QStringList, allow);
    QFETCH(bool, taken);

    RemoteFixture f;
    QList<listenaddress::Subnet> subnets;
    QString error;
    QVERIFY(listenaddress::parseSubnets(allow, &subnets, &error));
    OscServer osc(f.hub);
    osc.setAllowed(subnets);
    QVERIFY2(osc.listen(QHostAddress(NamespacePair::kConsoleAddress), 0, &error),
             qPrintable(error));
    QSignalSpy refused(&osc, &OscServer::refused);
    const QString logBefore = f.log();

    std::unique_ptr<QUdpSocket> sender;
    QVERIFY(m_ns->inDisplayNamespace([&] {
        sender = std::make_unique<QUdpSocket>();
        sender->bind(QHostAddress(NamespacePair::kDisplayAddress), 0);
    }));
    lo_message m = lo_message_new();
    size_t size = 0;
    void *raw = lo_message_serialise(m, "/rv38t/run", nullptr, &size);
    const QByteArray run(static_cast<const char *>(raw), static_cast<qsizetype>(size));
    free(raw);
    lo_message_free(m);
    sender->writeDatagram(run, QHostAddress(NamespacePair::kConsoleAddress), osc.port());

    if (taken) {
        QTRY_VERIFY_WITH_TIMEOUT(f.window->SW_GO->isChecked(), 5000);
        QVERIFY2(f.log().endsWith(QStringLiteral("OSC 10.78.0.2= RUN\r\n")), qPrintable(f.log()));
    } else {
        QVERIFY(refused.wait(5000));
        QCOMPARE(refused.first().at(0).toString(), NamespacePair::kDisplayAddress);
        QVERIFY(!f.window->SW_GO->isChecked());
        QCOMPARE(f.log(), logBefore);
    }
}

QTEST_MAIN(TestOscNetns)
#include "tst_oscnetns.moc"
