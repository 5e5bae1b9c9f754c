#pragma once

#include <QtGlobal>

// The platform's own TCP options, in this one place. Everything else goes
// through Qt; a platform without one of these options still works, it only
// notices a vanished display later.
namespace sockopts {

// Arms keep-alive probing and the unacknowledged-data limit on a connected
// TCP socket, so that a display that vanishes without closing is noticed
// while one that is merely slow is not. Best effort; false when the platform
// refused any of it.
bool armDeadPeerDetection(qintptr descriptor);

// The kernel's smoothed round-trip time of a connected TCP socket, in
// microseconds; -1 where the platform does not say or the call failed.
qint64 smoothedRttMicros(qintptr descriptor);

// The values armed above, for tests and the README.
struct DeadPeerLimits
{
    int unackedTimeoutMs;
    int keepIdleSeconds;
    int keepIntervalSeconds;
    int keepCount;
};
DeadPeerLimits deadPeerLimits();

} // namespace sockopts
