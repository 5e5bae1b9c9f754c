#pragma once

#include <QtGlobal>

// Platform-specific socket options and readings, in one place.
namespace sockopts {

// The kernel's smoothed round-trip time of a connected TCP socket, in
// microseconds; -1 where the platform does not tell.
qint64 smoothedRttMicros(qintptr descriptor);

} // namespace sockopts
