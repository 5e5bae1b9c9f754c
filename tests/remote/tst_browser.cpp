#include "rundown/runningorder.h"
#include "support/headlesschromium.h"
#include "support/remotefixture.h"
#include "support/testfiles.h"

#include <QCheckBox>
#include <QTimer>
#include <QtTest>

// A real browser on the console's own pages: headless Chromium loads them from
// the console's server on loopback and must show what the console shows.
class TestBrowser : public QObject
{
    Q_OBJECT

private slots:
    void displayPageFollowsTheApi();
    void controlPageDrivesTheConsole();
    void displayPageReconnects();
    void presenterPageWalksTheZones();
};

static const QString kTimeText = QStringLiteral("document.getElementById('time').textContent");

void TestBrowser::displayPageFollowsTheApi()
{
    RemoteFixture f;
    QVERIFY(f.listening);
    f.setFields(QStringLiteral("00"), QStringLiteral("01"), QStringLiteral("30"));
    f.window->INP_TITLE->setText(QStringLiteral("Keynote"));
    f.window->TIM_REBOUR->stop();

    HeadlessChromium browser;
    QString why;
    if (!browser.start(f.url(QStringLiteral("/")), &why))
        QSKIP(qPrintable(QStringLiteral("no browser can start here: ") + why));

    QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate(kTimeText), QStringLiteral("00:01:30"), 10000);
    QCOMPARE(browser.evaluate(
                 QStringLiteral("document.getElementById('time').getAttribute('aria-label')")),
             QStringLiteral("00:01:30"));
    QCOMPARE(browser.evaluate(QStringLiteral("document.getElementById('title').textContent")),
             QStringLiteral("Keynote"));
    QCOMPARE(browser.evaluate(QStringLiteral("document.body.classList.contains('running')")),
             QStringLiteral("false"));

    QCOMPARE(f.request("POST", QStringLiteral("/api/time"), R"({"time":"00:05:00"})").status, 200);
    QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate(kTimeText), QStringLiteral("00:05:00"), 5000);
    QCOMPARE(f.request("POST", QStringLiteral("/api/run")).status, 200);
    QTRY_COMPARE_WITH_TIMEOUT(
        browser.evaluate(QStringLiteral("document.body.classList.contains('running')")),
        QStringLiteral("true"), 5000);
    // What the displays show at zero: dashes.
    QCOMPARE(f.request("POST", QStringLiteral("/api/reset")).status, 200);
    QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate(kTimeText), QStringLiteral("--:--:--"), 5000);
}

void TestBrowser::controlPageDrivesTheConsole()
{
    RemoteFixture f;
    QVERIFY(f.listening);
    f.setFields(QStringLiteral("00"), QStringLiteral("01"), QStringLiteral("30"));
    f.window->TIM_REBOUR->stop();

    HeadlessChromium browser;
    QString why;
    if (!browser.start(f.url(QStringLiteral("/control")), &why))
        QSKIP(qPrintable(QStringLiteral("no browser can start here: ") + why));
    QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate(kTimeText), QStringLiteral("00:01:30"), 10000);

    browser.evaluate(QStringLiteral("document.getElementById('plus').click(); 'ok'"));
    QTRY_COMPARE_WITH_TIMEOUT(f.fields(), QStringLiteral("00:02:30"), 5000);
    QVERIFY(f.log().contains(QLatin1String("REMOTE 127.0.0.1= NUDGE +60")));
    QCOMPARE(
        browser.evaluate(QStringLiteral(
            "[...document.querySelectorAll('button')].map(b => b.textContent).join('|')")),
        QString::fromUtf8("Set|Run|Reset|Set|Arm|Cancel|\u22121 min|+1 min|Set|Show|Hide|Blackout|"
                          "OK|Previous|Next"));

    // The running order: listed once it has one, a title shown as text, a row loaded.
    QString error;
    QCOMPARE(
        f.window->runningOrder()->replace("title,duration\n<b>Doors</b>,00:05:00\nTalk,10:00\n",
                                          RunningOrder::Format::Csv, QString(), &error),
        RunningOrder::Replaced::Ok);
    const QString rows = QStringLiteral(
        "[...document.querySelectorAll('#cues .what')].map(d => d.textContent).join('|')");
    QTRY_COMPARE_WITH_TIMEOUT(
        browser.evaluate(rows),
        QString::fromUtf8("1. <b>Doors</b> \u2014 00:05:00|2. Talk \u2014 00:10:00"), 5000);
    browser.evaluate(QStringLiteral("document.querySelectorAll('#cues button')[1].click(); 'ok'"));
    QTRY_COMPARE_WITH_TIMEOUT(f.window->INP_TITLE->text(), QStringLiteral("Talk"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(
        browser.evaluate(QStringLiteral("document.querySelector('#cues li.current').textContent")),
        QString::fromUtf8("2. Talk \u2014 00:10:00Load"), 5000);

    // "23:59" is taken as 23:59:00.
    browser.evaluate(QStringLiteral("document.getElementById('until').value = '23:59';"
                                    "document.getElementById('setuntil').click(); 'ok'"));
    QTRY_VERIFY_WITH_TIMEOUT(f.log().contains(QLatin1String("REMOTE 127.0.0.1= UNTIL 23:59:00")),
                             5000);
    const QString armed
        = QStringLiteral("getComputedStyle(document.getElementById('armed')).display + ' ' + "
                         "document.getElementById('armedtext').textContent");
    QCOMPARE(browser.evaluate(armed), QStringLiteral("none "));
    browser.evaluate(QStringLiteral("document.getElementById('at').value = '04:05:06';"
                                    "document.getElementById('arm').click(); 'ok'"));
    QTRY_COMPARE_WITH_TIMEOUT(f.hub.state().startsAt, QStringLiteral("04:05:06"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate(armed), QStringLiteral("flex Starts at 04:05:06"),
                              5000);
    browser.evaluate(QStringLiteral("document.getElementById('disarm').click(); 'ok'"));
    QTRY_COMPARE_WITH_TIMEOUT(f.hub.state().startsAt, QString(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate(armed), QStringLiteral("none "), 5000);

    browser.evaluate(QStringLiteral("document.getElementById('go').click(); 'ok'"));
    QTRY_VERIFY_WITH_TIMEOUT(f.window->SW_GO->isChecked(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(
        browser.evaluate(QStringLiteral("document.getElementById('go').textContent")),
        QStringLiteral("Pause"), 5000);
}

void TestBrowser::displayPageReconnects()
{
    RemoteFixture f;
    QVERIFY(f.listening);
    f.setFields(QStringLiteral("00"), QStringLiteral("01"), QStringLiteral("30"));
    f.window->TIM_REBOUR->stop();
    HeadlessChromium browser;
    QString why;
    if (!browser.start(f.url(QStringLiteral("/")), &why))
        QSKIP(qPrintable(QStringLiteral("no browser can start here: ") + why));
    QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate(kTimeText), QStringLiteral("00:01:30"), 10000);

    // The console goes away and comes back on the same port, meanwhile the time changed.
    const quint16 port = f.server->port();
    f.server.reset();
    QTRY_COMPARE_WITH_TIMEOUT(
        browser.evaluate(QStringLiteral("document.body.classList.contains('offline')")),
        QStringLiteral("true"), 5000);
    f.setFields(QStringLiteral("00"), QStringLiteral("07"), QStringLiteral("00"));
    f.server = std::make_unique<RemoteServer>(f.hub);
    QString error;
    QVERIFY2(f.server->listen(QHostAddress::LocalHost, port, &error), qPrintable(error));
    QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate(kTimeText), QStringLiteral("00:07:00"), 10000);
    QCOMPARE(browser.evaluate(QStringLiteral("document.body.classList.contains('offline')")),
             QStringLiteral("false"));
}

// The presenter's page through a short run: the zones with each tick's time,
// the overtime, the message, and the blackout of both pages.
void TestBrowser::presenterPageWalksTheZones()
{
    RemoteFixture f;
    QVERIFY(f.listening);
    QCOMPARE(f.request("POST", QStringLiteral("/api/zones"),
                       R"({"warning":"00:00:03","danger":"00:00:01"})")
                 .status,
             200);
    QCOMPARE(readAll(QStringLiteral("ZONES.CFG")), QByteArray("00:00:03\r\n00:00:01\r\n"));
    f.setFields(QStringLiteral("00"), QStringLiteral("00"), QStringLiteral("04"));
    f.window->TIM_REBOUR->stop();

    HeadlessChromium browser;
    QString why;
    if (!browser.start(f.url(QStringLiteral("/presenter")), &why))
        QSKIP(qPrintable(QStringLiteral("no browser can start here: ") + why));
    const QString shown = QStringLiteral(
        "document.getElementById('time').textContent + ' ' + document.body.dataset.zone + ' ' + "
        "document.getElementById('barfill').style.width");
    QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate(shown), QStringLiteral("00:00:04 normal 0%"), 10000);
    QVERIFY(browser.evaluate(QStringLiteral("document.getElementById('clock').textContent"))
                .contains(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$"))));

    // Each tick's push carries the zone with the time it crosses at: never a tick late.
    f.window->SW_GO->setChecked(true);
    f.window->TIM_REBOUR->stop();
    for (const QString &expected :
         {QStringLiteral("00:00:03 warning 25%"), QStringLiteral("00:00:02 warning 50%"),
          QStringLiteral("00:00:01 danger 75%"), QStringLiteral("00:00:00 zero 100%")}) {
        f.window->countdown()->TIM_REBOUR_Timer();
        QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate(shown), expected, 5000);
    }
    QCOMPARE(f.frames().last(), frame("------")); // the hardware as ever
    QCOMPARE(browser.evaluate(QStringLiteral("document.body.classList.contains('blink')")),
             QStringLiteral("true"));
    const QString time = QStringLiteral("document.getElementById('time').textContent");
    QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate(time), QStringLiteral("+00:00:01"), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate(time), QStringLiteral("+00:00:02"), 3000);
    QVERIFY(browser.evaluate(QStringLiteral("document.getElementById('time').ariaLabel"))
                .endsWith(QLatin1String("over time")));

    const QString message
        = QStringLiteral("getComputedStyle(document.getElementById('message')).display + ' ' + "
                         "document.getElementById('message').textContent");
    f.request("POST", QStringLiteral("/api/message"), R"({"text":"Wrap up","visible":true})");
    QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate(message), QStringLiteral("block Wrap up"), 5000);
    f.request("POST", QStringLiteral("/api/message"), R"({"visible":false})");
    QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate(message), QStringLiteral("none "), 5000);

    // A set ends the overtime.
    f.request("POST", QStringLiteral("/api/time"), R"({"time":"00:00:10"})");
    QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate(shown), QStringLiteral("00:00:10 normal 0%"), 5000);

    // The display page, framed here as the control page frames this one, blanks too.
    browser.evaluate(QStringLiteral("const d = document.createElement('iframe'); d.src = '/';"
                                    "d.id = 'display'; document.body.append(d); 'ok'"));
    const QString blank
        = QStringLiteral("document.body.dataset.blackout + ' ' +"
                         "getComputedStyle(document.getElementById('time')).visibility + ' ' + "
                         "getComputedStyle(document.getElementById('display').contentDocument"
                         ".getElementById('time')).visibility");
    QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate(blank), QStringLiteral("false visible visible"),
                              5000);
    f.request("POST", QStringLiteral("/api/blackout"), R"({"on":true})");
    QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate(blank), QStringLiteral("true hidden hidden"), 5000);

    // The running order's next segment, under the message.
    QCOMPARE(f.request("PUT", QStringLiteral("/api/rundown"),
                       R"({"items":[{"title":"Doors","duration":"10:00"},)"
                       R"({"title":"Panel","duration":"20:00"}]})")
                 .status,
             200);
    f.request("POST", QStringLiteral("/api/cue"), R"({"index":1})");
    QTRY_COMPARE_WITH_TIMEOUT(
        browser.evaluate(QStringLiteral("document.getElementById('next').textContent")),
        QStringLiteral("Panel"), 5000);
}

QTEST_MAIN(TestBrowser)
#include "tst_browser.moc"
