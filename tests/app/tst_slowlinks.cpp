#include "app/mainwindow.h"
#include "controls/delayfield.h"
#include "controls/logarea.h"
#include "core/qtsockets.h"
#include "links/addresslist.h"
#include "links/supervisor.h"
#include "support/netns.h"
#include "support/testfiles.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextBlock>
#include <QtTest>

#include <optional>

// A slow link is not a dead link. The whole console runs in a network
// namespace of the test's own and drives one display in another; nftables in
// the display's namespace drops packets as a congested or broken network
// would. A stall and a lossy link must be ridden out without a close or an
// error; a display that is gone for good must be noticed soon.
namespace {

const QString kTable = QStringLiteral("rv38t_link");

// Every packet between console and display dropped, both ways.
QString dropAll()
{
    return QStringLiteral("table inet %1 {\n"
                          " chain in { type filter hook input priority 0; ip saddr %2 drop; }\n"
                          " chain out { type filter hook output priority 0; ip daddr %2 drop; }\n"
                          "}\n")
        .arg(kTable, NamespacePair::kConsoleAddress);
}

// One packet in ten dropped at random, each way on its own.
QString dropOneInTen()
{
    return QStringLiteral("table inet %1 {\n"
                          " chain in { type filter hook input priority 0; ip saddr %2 numgen "
                          "random mod 10 < 1 drop; }\n"
                          " chain out { type filter hook output priority 0; ip daddr %2 numgen "
                          "random mod 10 < 1 drop; }\n"
                          "}\n")
        .arg(kTable, NamespacePair::kConsoleAddress);
}

QString letAllThrough()
{
    return QStringLiteral("table inet %1\ndelete table inet %1\n").arg(kTable);
}

int seconds(const QByteArray &hhmmss)
{
    return hhmmss.left(2).toInt() * 3600 + hhmmss.mid(2, 2).toInt() * 60 + hhmmss.mid(4, 2).toInt();
}

// RV38T_SOAK=1 (scripts/soak) runs the lossy link for its full two minutes.
int lossySeconds()
{
    return qEnvironmentVariableIntValue("RV38T_SOAK") > 0 ? 120 : 40;
}

} // namespace

class TestSlowLinks : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void stallIsRiddenOut();
    void lossyLinkStaysConnected();
    void deathIsNoticed_data();
    void deathIsNoticed();

private:
    // The console with one display at the far end, connected and marked.
    void startConsole(bool running);
    // The frames the display has received so far, as their six characters.
    QList<QByteArray> receivedFrames() const;
    // Event-log lines other than "= CONNECT" since the console started.
    QStringList troubleLines() const;
    QString currentTime() const;

    std::optional<NamespacePair> m_net;
    std::optional<TempCurrentDir> m_dir;
    std::optional<QtSocketFactory> m_factory;
    std::optional<MainWindow> m_window;
    QTcpServer *m_server = nullptr;
    QTcpSocket *m_peer = nullptr;
    QByteArray m_stream;
    QList<QByteArray> m_sent;
    QStringList m_logLines;
};

void TestSlowLinks::initTestCase()
{
    m_net.emplace(QStringLiteral("rv38t-slow-"));
    if (!m_net->isValid())
        QSKIP(qPrintable(m_net->why() + QStringLiteral("; skipped")));
    const QString complaint = m_net->nftInDisplay(dropAll() + letAllThrough());
    if (!complaint.isEmpty())
        QSKIP(qPrintable(QStringLiteral("nftables does not work in a namespace here (") + complaint
                         + QStringLiteral("); skipped")));
}

void TestSlowLinks::cleanupTestCase()
{
    m_net.reset();
}

void TestSlowLinks::init()
{
    QVERIFY(m_dir.emplace().isValid());
    m_stream.clear();
    m_sent.clear();
    m_logLines.clear();
}

void TestSlowLinks::cleanup()
{
    m_window.reset();
    m_factory.reset();
    delete m_server;
    m_server = nullptr;
    m_peer = nullptr;
    m_net->nftInDisplay(QStringLiteral("table inet %1\n").arg(kTable) + letAllThrough());
    m_dir.reset();
}

void TestSlowLinks::startConsole(bool running)
{
    QVERIFY(m_net->inDisplayNamespace([&] {
        m_server = new QTcpServer;
        m_server->listen(QHostAddress(NamespacePair::kDisplayAddress), 0);
    }));
    QVERIFY(m_server->isListening());
    QVERIFY(
        writeAll(QStringLiteral("LST_IP.CFG"), NamespacePair::kDisplayAddress.toLatin1() + "\r\n"));

    m_factory.emplace(); // the real recovery destination: it ends in the display's namespace
    m_window.emplace(*m_factory);
    m_window->supervisor()->setDisplayPort(m_server->serverPort());
    // Every line the log gains, since the log itself keeps only its latest few dozen.
    connect(m_window->INP_LOG, &QPlainTextEdit::textChanged, this, [this] {
        const QTextDocument *document = m_window->INP_LOG->document();
        for (QTextBlock b = document->lastBlock(); b.isValid(); b = b.previous()) {
            if (!b.text().isEmpty()) {
                if (m_logLines.isEmpty() || m_logLines.last() != b.text())
                    m_logLines.append(b.text());
                break;
            }
        }
    });
    m_window->INP_DELAY[0]->setText(QStringLiteral("00"));
    m_window->INP_DELAY[1]->setText(QStringLiteral("30"));
    m_window->INP_DELAY[2]->setText(QStringLiteral("00"));
    m_window->Form_Load();
    m_window->show();
    QTRY_VERIFY_WITH_TIMEOUT(m_server->hasPendingConnections(), 10000);
    m_peer = m_server->nextPendingConnection();
    // Drained as it comes, as a display would.
    connect(m_peer, &QTcpSocket::readyRead, this, [this] { m_stream += m_peer->readAll(); });
    m_stream += m_peer->readAll();
    QTRY_VERIFY_WITH_TIMEOUT(m_window->addressList()->isMarked(0), 5000);
    // What the console sends: the time on connecting, then the time after each
    // change of a field (a tick that rolls the minutes changes two).
    m_sent = {currentTime().toLatin1()};
    for (DelayField *field : m_window->INP_DELAY)
        connect(field, &QLineEdit::textChanged, this,
                [this] { m_sent.append(currentTime().toLatin1()); });
    if (running)
        m_window->SW_GO->setChecked(true);
}

QList<QByteArray> TestSlowLinks::receivedFrames() const
{
    QList<QByteArray> frames;
    for (qsizetype at = 0; at + 7 <= m_stream.size(); at += 7)
        frames.append(m_stream.mid(at + 1, 6));
    return frames;
}

QStringList TestSlowLinks::troubleLines() const
{
    QStringList trouble;
    for (const QString &line : m_logLines) {
        if (!line.endsWith(QStringLiteral("= CONNECT")))
            trouble.append(line);
    }
    return trouble;
}

QString TestSlowLinks::currentTime() const
{
    return m_window->INP_DELAY[0]->text() + m_window->INP_DELAY[1]->text()
           + m_window->INP_DELAY[2]->text();
}

void TestSlowLinks::stallIsRiddenOut()
{
    startConsole(true);
    QTest::qWait(3000); // the countdown runs on its own timer; nothing to wait for but time
    QCOMPARE(m_net->nftInDisplay(dropAll()), QString());
    QElapsedTimer stall;
    stall.start();
    int marked = 0, samples = 0;
    while (stall.elapsed() < 5000) {
        QTest::qWait(100);
        marked += m_window->addressList()->isMarked(0);
        ++samples;
    }
    const QString atStallEnd = currentTime();
    QCOMPARE(m_net->nftInDisplay(letAllThrough()), QString());

    // The frames it missed arrive in order, then the current ones: it catches
    // up with the console and has had every frame once.
    QTRY_VERIFY_WITH_TIMEOUT(receivedFrames().size() == m_sent.size()
                                 && seconds(m_sent.last()) < seconds(atStallEnd.toLatin1()),
                             8000);
    QCOMPARE(receivedFrames(), m_sent);
    QCOMPARE(marked, samples);
    QVERIFY(m_window->addressList()->isMarked(0));
    QVERIFY2(troubleLines().isEmpty(), qPrintable(troubleLines().join('\n')));
}

void TestSlowLinks::lossyLinkStaysConnected()
{
    const int runSeconds = lossySeconds();
    startConsole(true);
    QCOMPARE(m_net->nftInDisplay(dropOneInTen()), QString());
    const qsizetype before = receivedFrames().size();
    const qsizetype sentBefore = m_sent.size();
    QTest::qWait(runSeconds * 1000); // the loss runs its length; nothing else to wait for
    QSet<QByteArray> distinct;
    const QList<QByteArray> during = receivedFrames().mid(before);
    for (const QByteArray &frame : during)
        distinct.insert(frame);
    QCOMPARE(m_net->nftInDisplay(letAllThrough()), QString());

    // At least 110 of 120 seconds' frames, the same share of a shorter run.
    const int needed = (runSeconds * 110 + 119) / 120;
    qInfo() << runSeconds << "s at 10 % loss each way:" << distinct.size() << "distinct frames of"
            << m_sent.size() - sentBefore << "sent";
    QVERIFY2(distinct.size() >= needed, qPrintable(QString::number(distinct.size())));
    QVERIFY(m_window->addressList()->isMarked(0));
    QVERIFY2(troubleLines().isEmpty(), qPrintable(troubleLines().join('\n')));
}

void TestSlowLinks::deathIsNoticed_data()
{
    QTest::addColumn<bool>("running");
    QTest::addColumn<int>("withinMs");
    QTest::newRow("frames-pending") << true << 10000;
    QTest::newRow("idle") << false << 15000;
}

void TestSlowLinks::deathIsNoticed()
{
    QFETCH(bool, running);
    QFETCH(int, withinMs);
    startConsole(running);
    QTest::qWait(3000); // a link that has been up a while, probed or ticking
    QCOMPARE(m_net->nftInDisplay(dropAll()), QString());
    QElapsedTimer sinceDeath;
    sinceDeath.start();

    QTRY_VERIFY_WITH_TIMEOUT(!m_window->addressList()->isMarked(0), withinMs + 10000);
    const qint64 noticed = sinceDeath.elapsed();
    qInfo() << "noticed after" << noticed << "ms:" << troubleLines();
    QVERIFY2(noticed <= withinMs, qPrintable(QString::number(noticed)));
    QVERIFY(!troubleLines().isEmpty()); // the operator reads why
}

QTEST_MAIN(TestSlowLinks)
#include "tst_slowlinks.moc"
