#include "app/unixsignals.h"

#include <QSocketNotifier>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#if defined(Q_OS_UNIX)
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The pipe's two ends: [0] read on the event loop, [1] written by the handler.
int pipeEnds[2] = {-1, -1};
struct sigaction previous[std::size(kSignals)];

extern "C" void onSignal(int number)
{
    // Only async-signal-safe calls here: one write, errno left as found. A full
    // pipe drops the byte; the ones already in it close the console just the same.
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    errno = savedErrno;
}
#endif

} // namespace

UnixSignals::UnixSignals(Handler handler, QObject *parent)
    : QObject(parent), m_handler(std::move(handler))
{
#if defined(Q_OS_UNIX)
    if (pipeEnds[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pipeEnds) != 0)
        return;
    ::fcntl(pipeEnds[0], F_SETFL, O_NONBLOCK);
    ::fcntl(pipeEnds[1], F_SETFL, O_NONBLOCK);
    m_notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &UnixSignals::onReadable);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        struct sigaction action
        {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(kSignals[i], &action, &previous[i]);
    }
#endif
}

UnixSignals::~UnixSignals()
{
#if defined(Q_OS_UNIX)
    if (!m_notifier)
        return;
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &previous[i], nullptr);
    delete m_notifier;
    m_notifier = nullptr;
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    pipeEnds[0] = pipeEnds[1] = -1;
#endif
}

void UnixSignals::onReadable()
{
#if defined(Q_OS_UNIX)
    unsigned char bytes[16];
    const ssize_t got = ::read(pipeEnds[0], bytes, sizeof bytes);
    for (ssize_t i = 0; i < got; ++i)
        m_handler(bytes[i]);
#endif
}

#include "moc_unixsignals.cpp"
