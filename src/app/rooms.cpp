#include "app/rooms.h"

#include "aids/eventlog.h"
#include "aids/title.h"
#include "app/mainwindow.h"
#include "app/rundownwindow.h"
#include "controls/controls.h"
#include "core/cfgfile.h"
#include "core/socketarray.h"
#include "countdown/countdown.h"
#include "countdown/presenterclock.h"
#include "countdown/timedstart.h"
#include "countdown/timeframesender.h"
#include "countdown/timemath.h"
#include "countdown/timeofday.h"
#include "links/addresslist.h"
#include "links/healthbook.h"
#include "links/supervisor.h"
#include "remote/remotehub.h"
#include "remote/zones.h"
#include "rundown/runningorder.h"
#include "standby/follower.h"
#include "standby/mainlink.h"
#include "standby/rundownfollower.h"

#include <QCheckBox>
#include <QDateTime>
#include <QListWidget>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>

namespace {

// The time to the next such local time of day, on the wall clock in the
// system's time zone: a show runs to the time on the wall.
void countUntil(Countdown *countdown, int secondOfDay)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    countdown->countTo(timeofday::nextOccurrence(now, QTime(0, 0).addSecs(secondOfDay)) - now);
}

// A segment loads as the operator's typing would: the title into its field
// and saved, the time into the three fields, each write sending its frame.
void wireRunningOrder(MainWindow &w, Rooms &r)
{
    RunningOrder::Hooks hooks;
    EventLog *log = r.log;
    TitleField *titleField = w.INP_TITLE;
    Title *title = r.title;
    const std::array<DelayField *, 3> fields = w.INP_DELAY;
    Countdown *countdown = r.countdown;
    QCheckBox *swGo = w.SW_GO;
    TimedStart *start = r.start;
    hooks.log = [log](const QString &message) { log->LOG_APPEND(message); };
    hooks.setTitle = [titleField](const QString &text) { titleField->setText(text); };
    hooks.saveTitle = [title] { title->INP_TITLE_LostFocus(); };
    hooks.setTime = [fields](int seconds) {
        fields[0]->setText(timemath::twoDigits(seconds / 3600));
        fields[1]->setText(timemath::twoDigits(seconds / 60 % 60));
        fields[2]->setText(timemath::twoDigits(seconds % 60));
    };
    hooks.until = [countdown](int secondOfDay) { countUntil(countdown, secondOfDay); };
    // A run asked for is the plain run: it disarms an armed start.
    hooks.run = [swGo, start] {
        start->disarm();
        swGo->setChecked(true);
    };
    hooks.maxTitle = [titleField] { return titleField->maxLength(); };
    r.rundown = new RunningOrder(std::move(hooks), &w);
    RunningOrder *rundown = r.rundown;
    QObject::connect(r.countdown, &Countdown::reachedZero, rundown, &RunningOrder::reachedZero);

    // The window's keys: a failure is one log line, never a dialog.
    const auto stepKey = [&w, rundown, log](QKeyCombination keys, int delta) {
        auto *shortcut = new QShortcut(QKeySequence(keys), &w);
        QObject::connect(shortcut, &QShortcut::activated, rundown, [rundown, log, delta] {
            const QString why = rundown->step(delta, false, QString());
            if (!why.isEmpty())
                log->LOG_APPEND(QStringLiteral("CUE: ") + why);
        });
    };
    stepKey(Qt::CTRL | Qt::Key_PageDown, 1);
    stepKey(Qt::CTRL | Qt::Key_PageUp, -1);
    auto *open = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_O), &w);
    QObject::connect(open, &QShortcut::activated, &w, [&w] { openRundownWindow(w); });
}

} // namespace

RundownWindow *openRundownWindow(MainWindow &w)
{
    auto *window = w.findChild<RundownWindow *>(QString(), Qt::FindDirectChildrenOnly);
    if (!window) {
        // Its own top-level window, closed with the console's.
        window = new RundownWindow(*w.runningOrder(), &w);
        EventLog *log = w.eventLog();
        window->setLog([log](const QString &message) { log->LOG_APPEND(message); });
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

Rooms wireRooms(MainWindow &w)
{
    Rooms r;
    r.log = new EventLog(w.INP_LOG, &w);
    EventLog *log = r.log;
    const auto logLine = [log](const QString &message) { log->LOG_APPEND(message); };
    r.title = new Title(w.INP_TITLE, logLine, &w);
    r.list = new AddressList(w.LST_IP, w.INP_IP, w.B_IP_ADD, w.B_IP_DEL, *w.TCPIP_TCP, logLine, &w);

    AddressList *list = r.list;
    const std::array<QLineEdit *, 3> fields{w.INP_DELAY[0], w.INP_DELAY[1], w.INP_DELAY[2]};
    r.sender = new TimeFrameSender(
        fields, *w.TCPIP_TCP, [list](int index) { return list->isMarked(index); }, &w);

    TimeFrameSender *sender = r.sender;
    r.countdown = new Countdown(
        w.INP_DELAY, w.SW_GO, w.B_RESET, w.TIM_REBOUR, w.VERT, w.ROUGE,
        [sender](int index) { sender->INP_DELAY_Change(index); }, &w);

    ShapeWidget *lamp = w.TCP_OK;
    QCheckBox *swCfg = w.SW_CFG;
    Supervisor::Hooks hooks;
    hooks.log = logLine;
    hooks.sendCurrentTime = [sender] { sender->INP_DELAY_Change(0); };
    hooks.paintLamp = [lamp](const QColor &colour) {
        lamp->setFillColor(colour);
        // A screen reader hears what the colour shows.
        lamp->setAccessibleDescription(
            colour == Supervisor::kLampGreen
                ? QStringLiteral("TCP CONNECTION STATUS: every display connected")
                : QStringLiteral("TCP CONNECTION STATUS: not every display connected"));
    };
    hooks.openPanel = [swCfg] { swCfg->setChecked(true); };
    hooks.describeLamp = [lamp](const QString &text) { lamp->setToolTip(text); };
    r.supervisor
        = new Supervisor(*list, *w.TCPIP_TCP, *w.TCPIP_UDP, std::move(hooks), w.TIM_IP_CON, &w);
    r.health = new HealthBook(
        *list, *w.TCPIP_TCP, [log] { return log->now(); }, &w);
    r.supervisor->setHealthBook(r.health);

    // An armed start switches Run on as the operator's click does; its log line
    // names who armed it.
    QCheckBox *swGo = w.SW_GO;
    r.start = new TimedStart(
        [log, swGo](const QString &who) {
            log->LOG_APPEND(who + QStringLiteral("= RUN"));
            swGo->setChecked(true);
        },
        [log](const QString &who, QTime at) {
            log->LOG_APPEND(who + QStringLiteral("= RUN AT ")
                            + at.toString(QStringLiteral("HH:mm:ss")) + QStringLiteral(" MISSED"));
        },
        &w);
    // The operator's own Run or Reset overrides it. clicked, not toggled: the
    // countdown's own stop at zero leaves a start armed for later.
    QObject::connect(w.SW_GO, &QCheckBox::clicked, r.start, &TimedStart::disarm);
    QObject::connect(w.B_RESET, &QPushButton::clicked, r.start, &TimedStart::disarm);

    wireRunningOrder(w, r);
    return r;
}

namespace {

RemoteState::Cue cueState(const RunningOrder &rundown)
{
    RemoteState::Cue cue;
    cue.index = rundown.current();
    cue.count = rundown.count();
    cue.title = rundown.titleAt(cue.index);
    cue.next = rundown.titleAt(cue.index + 1);
    cue.revision = rundown.revision();
    return cue;
}

void wireRemoteRundown(RemoteConsole &c, RunningOrder *rundown)
{
    c.cue = [rundown](int index, int step, bool run, const QString &source) {
        return step != 0 ? rundown->step(step, run, source) : rundown->cue(index, run, source);
    };
    c.rundownJson = [rundown] { return rundown->json(); };
    c.putRundown = [rundown](const QByteArray &body, bool csv, const QString &source,
                             QString *error) {
        switch (rundown->replace(body, csv ? RunningOrder::Format::Csv : RunningOrder::Format::Json,
                                 source, error)) {
        case RunningOrder::Replaced::Ok:
            return 200;
        case RunningOrder::Replaced::Refused:
            return 400;
        case RunningOrder::Replaced::NotSaved:
            break;
        }
        return 500;
    };
}

} // namespace

void wireRemote(MainWindow &w, RemoteHub &hub)
{
    const std::array<DelayField *, 3> fields = w.INP_DELAY;
    QCheckBox *swGo = w.SW_GO;
    QPushButton *bReset = w.B_RESET;
    QLineEdit *title = w.INP_TITLE;
    ShapeWidget *lamp = w.TCP_OK;
    Countdown *countdown = w.countdown();
    EventLog *log = w.eventLog();
    TimedStart *start = w.timedStart();

    HealthBook *health = w.healthBook();
    const auto displays = [health] { return health ? health->records() : QList<DisplayHealth>(); };
    // Only with a remote control: without one nothing counts the overtime.
    auto *clock = new PresenterClock({fields[0], fields[1], fields[2]}, swGo, &w);

    RemoteConsole c;
    c.setTime = [fields, clock](int h, int m, int s) {
        // As typed: each field's write sends its own frame.
        fields[0]->setText(timemath::twoDigits(h));
        fields[1]->setText(timemath::twoDigits(m));
        fields[2]->setText(timemath::twoDigits(s));
        clock->end(); // a set ends the overtime, even one that leaves the text as it was
    };
    // A plain run, a pause or a reset disarms an armed start.
    c.run = [swGo, start] {
        start->disarm();
        swGo->setChecked(true);
    };
    c.pause = [swGo, start] {
        start->disarm();
        swGo->setChecked(false);
    };
    c.reset = [bReset, start] {
        start->disarm();
        bReset->click();
    };
    c.nudge = [countdown](int seconds) { countdown->nudge(seconds); };
    c.until = [countdown](int h, int m, int s) { countUntil(countdown, h * 3600 + m * 60 + s); };
    c.runAt = [start](int h, int m, int s, const QString &source) {
        start->arm(QTime(h, m, s), source);
    };
    c.disarm = [start] { start->disarm(); };
    c.log = [log](const QString &line) { log->LOG_APPEND(line); };
    RunningOrder *rundown = w.runningOrder();
    c.state = [fields, swGo, title, lamp, displays, start, clock, rundown] {
        RemoteState s;
        s.time = fields[0]->text() + QLatin1Char(':') + fields[1]->text() + QLatin1Char(':')
                 + fields[2]->text();
        s.frame = timemath::timeText(fields[0]->text(), fields[1]->text(), fields[2]->text());
        s.running = swGo->isChecked();
        s.title = title->text();
        s.lampGreen = lamp->fillColor() == Supervisor::kLampGreen;
        s.displays = displays();
        s.startsAt = start->text();
        s.secondsLeft = clock->secondsLeft();
        s.reachedZero = clock->reachedZero();
        s.overtime = clock->overtime();
        s.length = clock->length();
        s.cue = cueState(*rundown);
        return s;
    };
    wireRemoteRundown(c, rundown);
    hub.setConsole(std::move(c));
    hub.loadZones(QStringLiteral("ZONES.CFG"));

    RemoteHub *h = &hub;
    for (DelayField *f : fields)
        QObject::connect(f, &QLineEdit::textChanged, h, &RemoteHub::notifyChanged);
    QObject::connect(swGo, &QCheckBox::toggled, h, &RemoteHub::notifyChanged);
    QObject::connect(title, &QLineEdit::textChanged, h, &RemoteHub::notifyChanged);
    QObject::connect(lamp, &ShapeWidget::fillColorChanged, h, &RemoteHub::notifyChanged);
    if (health)
        QObject::connect(health, &HealthBook::changed, h, &RemoteHub::notifyChanged);
    QObject::connect(start, &TimedStart::changed, h, &RemoteHub::notifyChanged);
    QObject::connect(rundown, &RunningOrder::changed, h, &RemoteHub::notifyChanged);
    QObject::connect(clock, &PresenterClock::changed, h, &RemoteHub::notifyChanged);
    QObject::connect(bReset, &QPushButton::clicked, clock, &PresenterClock::end);
}

namespace {

// What the operator could change: off while following, so nobody types into
// the console that does not drive the displays.
QList<QWidget *> operatorControls(MainWindow &w)
{
    return {w.INP_DELAY[0], w.INP_DELAY[1], w.INP_DELAY[2], w.INP_TITLE, w.SW_GO,
            w.B_RESET,      w.B_IP_ADD,     w.B_IP_DEL,     w.INP_IP,    w.LST_IP};
}

void showEntries(AddressList &list, const QStringList &texts)
{
    QStringList shown;
    for (int i = 0; i < list.count(); ++i)
        shown.append(list.text(i));
    if (shown != texts.mid(0, AddressList::kMaxEntries))
        list.setEntries(texts);
}

// The presenter's view as the main has it: thresholds, message, blackout,
// each checked as typed input; a member that fails keeps what this console had.
PresenterSettings followPresenter(RemoteHub *hub, const Followed &f)
{
    PresenterSettings p = hub ? hub->presenter() : PresenterSettings{};
    const remotecmd::Parsed warning = remotecmd::parseTimeText(f.warning);
    const remotecmd::Parsed danger = remotecmd::parseTimeText(f.danger);
    const auto seconds
        = [](const Command &c) { return 3600 * c.hours + 60 * c.minutes + c.seconds; };
    if (warning.ok && danger.ok) {
        const zones::Thresholds t{seconds(warning.command), seconds(danger.command)};
        if (zones::conflict(t).isEmpty())
            p.zones = t;
    }
    if (f.hasMessage && remotecmd::messageError(f.message).isEmpty())
        p.message = f.message;
    p.messageVisible = f.messageVisible;
    p.blackout = f.blackout;
    if (hub)
        hub->followPresenter(p);
    return p;
}

// At a takeover the presenter's view stays as followed, and the thresholds
// are saved as the other files are, with or without a remote control here.
void keepPresenter(MainWindow &w, RemoteHub *hub, const Followed &f)
{
    const PresenterSettings p = followPresenter(hub, f);
    if (hub) {
        hub->saveZones();
        return;
    }
    if (f.warning.isEmpty() && f.danger.isEmpty())
        return; // a main that keeps no thresholds leaves the file as it is
    QString why;
    if (!cfgfile::save(QStringLiteral("ZONES.CFG"), cfgfile::joinLines(zones::toLines(p.zones)),
                       &why))
        w.eventLog()->LOG_APPEND(QStringLiteral("ZONES.CFG= ") + why);
}

// The main's state as it stands: texts as they are, Run as it is, but the
// countdown never ticks here; the main's pushes move it.
void showFollowed(MainWindow &w, RemoteHub *hub, const Followed &f)
{
    followPresenter(hub, f);
    showEntries(*w.addressList(), f.list);
    w.INP_TITLE->setText(f.title);
    for (int i = 0; i < 3; ++i)
        w.INP_DELAY[i]->setText(f.fields[i]);
    w.SW_GO->setChecked(f.running);
    w.TIM_REBOUR->stop();
}

void takeOver(MainWindow &w, RemoteHub *hub, const Followed &f, qint64 msSincePush,
              const QString &who)
{
    if (hub)
        hub->setFollowing(QString());
    // Saved as every save does, so a restart comes back with the show's list and title.
    showEntries(*w.addressList(), f.list);
    w.addressList()->IP_LIST_SAVE();
    w.INP_TITLE->setText(f.title);
    w.title()->INP_TITLE_LostFocus();
    keepPresenter(w, hub, f);
    for (QWidget *c : operatorControls(w))
        c->setEnabled(true);
    w.setWindowTitle(MainWindow::kCaption);

    if (f.running) {
        // Where the main would be now, not where it was when it last spoke: the
        // displays must not be set back by the seconds detection took.
        using timemath::numericValue;
        using timemath::roundHalfEven;
        const int pushed = 3600 * roundHalfEven(numericValue(f.fields[0]))
                           + 60 * roundHalfEven(numericValue(f.fields[1]))
                           + roundHalfEven(numericValue(f.fields[2]));
        const int now = followed::secondsNow(pushed, msSincePush) % 86400;
        w.INP_DELAY[0]->setText(timemath::twoDigits(now / 3600));
        w.INP_DELAY[1]->setText(timemath::twoDigits(now / 60 % 60));
        w.INP_DELAY[2]->setText(timemath::twoDigits(now % 60));
        // Already checked while following: the handling runs again to start the timer.
        w.SW_GO->setChecked(now > 0);
        w.countdown()->SW_GO_Click();
    }
    // The show's running order is this console's now, and kept as the main kept it.
    RunningOrder *rundown = w.runningOrder();
    rundown->setFollowing(false);
    if (rundown->count() > 0)
        rundown->save();
    // The main's armed start goes on here, named as this console's.
    const QTime startsAt = QTime::fromString(f.startsAt, QStringLiteral("HH:mm:ss"));
    if (startsAt.isValid() && w.timedStart())
        w.timedStart()->arm(startsAt, who, msSincePush);
    // Every display is connected now, not at the next tick, and gets the time on connecting.
    w.TIM_IP_CON->start(1000);
    w.supervisor()->TIM_IP_CON_Timer();
}

} // namespace

namespace {

// The main's running order shown here, its list fetched when it changes; no
// cue of this console's own while it follows.
RundownFollower *followRundown(MainWindow &w, const followed::MainAddress &main)
{
    RunningOrder *order = w.runningOrder();
    order->setFollowing(true);
    EventLog *log = w.eventLog();
    return new RundownFollower(
        main,
        [order](const QList<rundown::Segment> &segments, int current) {
            order->follow(segments, current);
        },
        [log](const QString &message) { log->LOG_APPEND(message); }, &w);
}

} // namespace

Follower *wireStandby(MainWindow &w, const followed::MainAddress &main,
                      std::unique_ptr<MainLink> link, RemoteHub *hub)
{
    // Nothing connects while following: the supervisor never ticks, no entry
    // is ever marked, so no frame and no recovery datagram leaves.
    w.TIM_IP_CON->stop();
    w.TIM_REBOUR->stop();
    w.addressList()->setEntries({});
    for (QWidget *c : operatorControls(w))
        c->setEnabled(false);
    w.setWindowTitle(MainWindow::kCaption + QStringLiteral("   STANDBY of ") + main.text);
    if (hub)
        hub->setFollowing(main.text);

    EventLog *log = w.eventLog();
    ShapeWidget *lamp = w.TCP_OK;
    const QString mainText = main.text;
    Follower::Hooks hooks;
    hooks.log = [log](const QString &message) { log->LOG_APPEND(message); };
    RundownFollower *rundown = followRundown(w, main);
    hooks.show = [&w, hub, rundown](const Followed &f) {
        showFollowed(w, hub, f);
        rundown->follow(f.cueRevision, f.cueIndex);
    };
    hooks.lamp = [lamp, mainText](bool live, bool green) {
        lamp->setFillColor(live && green ? Supervisor::kLampGreen : Supervisor::kLampRed);
        const QString text = live ? QStringLiteral("STANDBY: the lamp of %1").arg(mainText)
                                  : QStringLiteral("STANDBY: no link to %1").arg(mainText);
        lamp->setToolTip(text);
        lamp->setAccessibleDescription(text);
    };
    hooks.takeOver = [&w, hub, mainText](const Followed &f, qint64 msSincePush) {
        takeOver(w, hub, f, msSincePush, QStringLiteral("STANDBY ") + mainText);
    };
    return new Follower(main, std::move(link), std::move(hooks), &w);
}
