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
#include "standby/standbyroom.h"

#include <QCheckBox>
#include <QDateTime>
#include <QListWidget>
#include <QLineEdit>
#include <QPointer>
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

// The standby room over the window's controls and the rooms built so far.
StandbyRoom *wireStandbyRoom(MainWindow &w, const Rooms &r)
{
    StandbyRoom::Console c;
    EventLog *log = r.log;
    AddressList *list = r.list;
    Countdown *countdown = r.countdown;
    Supervisor *supervisor = r.supervisor;
    TimeFrameSender *sender = r.sender;
    TimedStart *start = r.start;
    Title *title = r.title;
    TcpSocketArray *tcp = w.TCPIP_TCP;
    QTimer *timIpCon = w.TIM_IP_CON;
    QTimer *timRebour = w.TIM_REBOUR;
    QCheckBox *swGo = w.SW_GO;
    QLineEdit *titleField = w.INP_TITLE;
    ShapeWidget *lamp = w.TCP_OK;
    const std::array<DelayField *, 3> fields = w.INP_DELAY;
    c.log = [log](const QString &line) { log->LOG_APPEND(line); };
    c.enterFollowing = [&w, list, timIpCon, timRebour, start](const QString &main) {
        // The room's role already keeps every frame and connect back; the
        // timers stop too, so nothing even tries.
        timIpCon->stop();
        timRebour->stop();
        start->disarm();
        list->setEntries({});
        for (QWidget *control : operatorControls(w))
            control->setEnabled(false);
        w.setWindowTitle(MainWindow::kCaption + QStringLiteral("   STANDBY of ") + main);
    };
    c.leaveFollowing = [&w] {
        for (QWidget *control : operatorControls(w))
            control->setEnabled(true);
        w.setWindowTitle(MainWindow::kCaption);
    };
    c.showEntries = [list](const QStringList &texts) { showEntries(*list, texts); };
    c.showTitle = [titleField](const QString &text) { titleField->setText(text); };
    c.showTime = [fields, swGo, timRebour](const std::array<QString, 3> &texts, bool running) {
        for (int i = 0; i < 3; ++i)
            fields[i]->setText(texts[i]);
        swGo->setChecked(running);
        timRebour->stop(); // the main's pushes move it, not a tick of its own
    };
    c.secondsOf = [](const std::array<QString, 3> &texts) {
        using timemath::numericValue;
        using timemath::roundHalfEven;
        return 3600 * roundHalfEven(numericValue(texts[0]))
               + 60 * roundHalfEven(numericValue(texts[1])) + roundHalfEven(numericValue(texts[2]));
    };
    c.lamp = [lamp](bool live, bool green, const QString &main) {
        lamp->setFillColor(live && green ? Supervisor::kLampGreen : Supervisor::kLampRed);
        const QString text = live ? QStringLiteral("STANDBY: the lamp of %1").arg(main)
                                  : QStringLiteral("STANDBY: no link to %1").arg(main);
        lamp->setToolTip(text);
        lamp->setAccessibleDescription(text);
    };
    c.save = [list, title] {
        list->IP_LIST_SAVE();
        title->INP_TITLE_LostFocus();
    };
    c.runFor = [swGo, countdown](qint64 msLeft) {
        // Already checked while following: the handling runs again to start the timer.
        swGo->setChecked(true);
        countdown->SW_GO_Click();
        countdown->countTo(msLeft);
    };
    c.arm = [start](const QString &hhmmss, const QString &who, qint64 msLate) {
        const QTime at = QTime::fromString(hhmmss, QStringLiteral("HH:mm:ss"));
        if (at.isValid())
            start->arm(at, who, msLate);
    };
    c.stopCountdown = [swGo, timRebour] {
        swGo->setChecked(false);
        timRebour->stop();
    };
    c.sendCurrentTime = [sender] { sender->INP_DELAY_Change(0); };
    c.connectDisplays = [timIpCon, supervisor] {
        timIpCon->start(1000);
        supervisor->TIM_IP_CON_Timer();
    };
    c.dropDisplays = [list, tcp] {
        for (int i = 0; i < tcp->count(); ++i) {
            list->setMarked(i, false);
            tcp->close(i);
        }
    };
    auto *room = new StandbyRoom(std::move(c), &w);
    // The main's running order: its list fetched whenever it changes, no cue of
    // this console's own while it follows, kept as the main kept it at a takeover.
    RunningOrder *order = r.rundown;
    const auto fetcher = std::make_shared<QPointer<RundownFollower>>();
    QObject::connect(room, &StandbyRoom::followingChanged, &w,
                     [&w, order, fetcher, log](const QString &main) {
                         if (*fetcher)
                             (*fetcher)->deleteLater();
                         *fetcher = nullptr;
                         followed::MainAddress where;
                         QString error;
                         if (main.isEmpty() || !followed::parseMain(main, &where, &error))
                             return;
                         order->setFollowing(true);
                         *fetcher = new RundownFollower(
                             where,
                             [order](const QList<rundown::Segment> &segments, int current) {
                                 order->follow(segments, current);
                             },
                             [log](const QString &line) { log->LOG_APPEND(line); }, &w);
                     });
    room->addView(
        [fetcher](const Followed &f) {
            if (*fetcher)
                (*fetcher)->follow(f.cueRevision, f.cueIndex);
        },
        [order](const Followed &) {
            order->setFollowing(false);
            if (order->count() > 0)
                order->save();
        });
    followed::Rules rules;
    rules.titleLength = w.INP_TITLE->maxLength();
    rules.entryLength = w.INP_IP->maxLength();
    rules.maxEntries = AddressList::kMaxEntries;
    room->setRules(rules);
    return room;
}

} // namespace

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
    const auto lampText = std::make_shared<QString>();
    // Filled in below, once the standby room exists.
    const auto standbyNote = std::make_shared<std::function<QString()>>();
    hooks.describeLamp = [lamp, lampText, standbyNote](const QString &text) {
        *lampText = text;
        const QString note = *standbyNote ? (*standbyNote)() : QString();
        lamp->setToolTip(note.isEmpty() ? text : text + QLatin1Char('\n') + note);
    };
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
    r.standby = wireStandbyRoom(w, r);
    StandbyRoom *standby = r.standby;
    *standbyNote = [standby] { return standby->standbyNote(); };
    r.sender->setMayDrive([standby] { return standby->mayDrive(); });
    r.supervisor->setMayDrive([standby] { return standby->mayDrive(); });
    // The supervisor's words on the displays, and whether a standby follows.
    QObject::connect(standby, &StandbyRoom::changed, lamp, [lamp, standby, lampText] {
        const QString note = standby->standbyNote();
        if (standby->role() != StandbyRoom::Role::Following)
            lamp->setToolTip(note.isEmpty() ? *lampText : *lampText + QLatin1Char('\n') + note);
    });
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
    StandbyRoom *standby = w.standbyRoom();

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
    c.state = [fields, swGo, title, lamp, displays, start, clock, standby, rundown] {
        RemoteState s;
        s.time = fields[0]->text() + QLatin1Char(':') + fields[1]->text() + QLatin1Char(':')
                 + fields[2]->text();
        s.frame = timemath::timeText(fields[0]->text(), fields[1]->text(), fields[2]->text());
        s.running = swGo->isChecked();
        s.title = title->text();
        s.lampGreen = lamp->fillColor() == Supervisor::kLampGreen;
        s.displays = displays();
        s.startsAt = start->text();
        s.term = standby->term();
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

    // The room tells the remote whom it follows and its term; the remote tells
    // the room which standbys announced themselves.
    QObject::connect(standby, &StandbyRoom::followingChanged, h, &RemoteHub::setFollowing);
    QObject::connect(standby, &StandbyRoom::changed, h, &RemoteHub::notifyChanged);
    QObject::connect(h, &RemoteHub::joined, standby, &StandbyRoom::standbyJoined);
    QObject::connect(h, &RemoteHub::left, standby, &StandbyRoom::standbyLeft);
    // The presenter's view follows the main's, and is kept at a takeover.
    standby->addView([h](const Followed &f) { followPresenter(h, f); },
                     [&w, h](const Followed &f) { keepPresenter(w, h, f); });
}

Follower *wireStandby(MainWindow &w, const followed::MainAddress &main,
                      std::unique_ptr<MainLink> link, RemoteHub *)
{
    return w.standbyRoom()->follow(main, std::move(link));
}

void wireFencing(MainWindow &w, const QString &announce, const QByteArray &token)
{
    const QtMainLink::Fence fence{announce, token};
    w.standbyRoom()->setLinks([fence](const followed::MainAddress &to) {
        return std::make_unique<QtMainLink>(to, fence);
    });
    w.standbyRoom()->setFenced(!token.isEmpty());
}
