#include "core/sockopts.h"

#include <cstddef>

#if defined(Q_OS_UNIX)
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace sockopts {

namespace {

// A display behind a slow or lossy link (a switch re-converging, a Wi-Fi roam,
// a congested bridge) can leave frames unacknowledged for several seconds and
// is still healthy; a display that lost power never answers again. The two look
// the same until the silence ends, so the limits sit between them:
//
// - Unacknowledged data ends the connection after 8 s. A 5-s stall while frames
//   flow is ridden out: on a local network the first retransmission waits the
//   kernel's minimum of 200 ms and each next one twice as long (0.2, 0.6, 1.4,
//   3.0, 6.2 s after the oldest unacknowledged frame), so the one at 6.2 s gets
//   through and is acknowledged inside 8 s, and the frames queued meanwhile
//   follow in order (a round trip of up to about 50 ms still makes it, at
//   7.75 s). On a link losing 10 % each way a frame must miss five
//   retransmissions in a row to reach 8 s (about 2 in 10,000 losses). A dead
//   display with frames pending is noticed about 8.5 s after the first frame it
//   missed, within about 9.5 s of its death while the countdown ticks every
//   second. A longer limit would ride out longer stalls but miss the 10 s in
//   which an operator expects a dead display to show.
// - An idle link is probed after 2 s of silence and every second after; with
//   the limit above the kernel ends it once 8 s passed since the display last
//   answered. Probing that often keeps the last answer recent, so an idle stall
//   of 5 s is ridden out too, and an idle death is noticed within about 8-9 s.
//   A probe carries no payload; the display's software never sees it.
// - Where the unacknowledged-data limit does not exist, the probe count ends an
//   idle link after 2 + 6 x 1 = 8 s instead.
constexpr int kUnackedTimeoutMs = 8000;
constexpr int kKeepIdleSeconds = 2;
constexpr int kKeepIntervalSeconds = 1;
constexpr int kKeepCount = 6;

#if defined(Q_OS_UNIX)
bool setInt(qintptr fd, int level, int name, int value)
{
    return ::setsockopt(int(fd), level, name, &value, sizeof value) == 0;
}
#endif

} // namespace

DeadPeerLimits deadPeerLimits()
{
    return {kUnackedTimeoutMs, kKeepIdleSeconds, kKeepIntervalSeconds, kKeepCount};
}

bool armDeadPeerDetection(qintptr descriptor)
{
    if (descriptor < 0)
        return false;
#if defined(Q_OS_UNIX)
    bool ok = setInt(descriptor, SOL_SOCKET, SO_KEEPALIVE, 1);
#if defined(TCP_KEEPIDLE)
    ok &= setInt(descriptor, IPPROTO_TCP, TCP_KEEPIDLE, kKeepIdleSeconds);
#elif defined(TCP_KEEPALIVE)
    ok &= setInt(descriptor, IPPROTO_TCP, TCP_KEEPALIVE, kKeepIdleSeconds);
#endif
#if defined(TCP_KEEPINTVL)
    ok &= setInt(descriptor, IPPROTO_TCP, TCP_KEEPINTVL, kKeepIntervalSeconds);
#endif
#if defined(TCP_KEEPCNT)
    ok &= setInt(descriptor, IPPROTO_TCP, TCP_KEEPCNT, kKeepCount);
#endif
#if defined(TCP_USER_TIMEOUT)
    ok &= setInt(descriptor, IPPROTO_TCP, TCP_USER_TIMEOUT, kUnackedTimeoutMs);
#endif
    return ok;
#else
    // Elsewhere only Qt's own keep-alive switch applies, with the system's timings.
    return false;
#endif
}

qint64 smoothedRttMicros(qintptr descriptor)
{
#if defined(Q_OS_LINUX) && defined(TCP_INFO)
    if (descriptor < 0)
        return -1;
    struct tcp_info info
    {};
    socklen_t size = sizeof info;
    if (::getsockopt(int(descriptor), IPPROTO_TCP, TCP_INFO, &info, &size) != 0
        || size < socklen_t(offsetof(struct tcp_info, tcpi_rtt) + sizeof info.tcpi_rtt))
        return -1;
    return qint64(info.tcpi_rtt);
#else
    Q_UNUSED(descriptor);
    return -1;
#endif
}

} // namespace sockopts
