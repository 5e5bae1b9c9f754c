#include "core/sockopts.h"

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace sockopts {

qint64 smoothedRttMicros(qintptr descriptor)
{
#ifdef Q_OS_LINUX
    if (descriptor < 0)
        return -1;
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(int(descriptor), IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
        return -1;
    return info.tcpi_rtt;
#else
    Q_UNUSED(descriptor);
    return -1;
#endif
}

} // namespace sockopts
