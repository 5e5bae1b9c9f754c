#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class AddressList;
class Countdown;
class EventLog;
class HealthBook;
class MainWindow;
class RemoteHub;
class RunningOrder;
class RundownWindow;
class Supervisor;
class TimedStart;
class TimeFrameSender;
class Title;
class Follower;
class MainLink;
class StandbyRoom;
namespace followed {
struct MainAddress;
}

// The rooms of the window, built and wired in one place. Each room holds the
// controls it works on and reaches the others only through what it is handed
// here: callbacks, or a signal connected here.
struct Rooms
{
    EventLog *log = nullptr;
    Title *title = nullptr;
    AddressList *list = nullptr;
    TimeFrameSender *sender = nullptr;
    Countdown *countdown = nullptr;
    Supervisor *supervisor = nullptr;
    HealthBook *health = nullptr;
    TimedStart *start = nullptr;    // a start armed for a time of day (remote control)
    StandbyRoom *standby = nullptr; // who drives the displays: this console, or a main it follows
    RunningOrder *rundown = nullptr;
};

// The one composition point: builds every room over the window's controls and
// sockets, owned by the window, and wires them to each other.
Rooms wireRooms(MainWindow &window);

// The running order's list window (Ctrl+O), made on first use.
RundownWindow *openRundownWindow(MainWindow &window);

// Wires the remote control's seam to the window: every remote action is the
// program write an operator's action makes, and every change is reported.
void wireRemote(MainWindow &window, RemoteHub &hub);

// Makes the window the standby of the main at `main`: it follows the main's
// state over `link` with the operator's controls and its own supervisor off,
// and on the main's death takes over. Its own remote control, wired before,
// refuses commands while it follows. Call after Form_Load, before the event
// loop runs: no display is ever connected while following.
Follower *wireStandby(MainWindow &window, const followed::MainAddress &main,
                      std::unique_ptr<MainLink> link, RemoteHub *hub = nullptr);

// How this console reaches other consoles: it announces `announce` (its own
// remote control) to a main it follows, and proves `token` to it.
void wireFencing(MainWindow &window, const QString &announce, const QByteArray &token);
