#pragma once

// Loopback displays for the benchmarks: listening sockets on 127.0.0.x that
// accept and read on their own thread, so the console's event loop is never
// the one reading. Each accepted connection counts its bytes and keeps the
// steady-clock time of its latest arrival.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace bench {

inline std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// "127.0.0.<2 + i>": every 127/8 address is loopback on Linux.
inline std::string loopbackAddress(int i)
{
    return "127.0.0." + std::to_string(2 + i);
}

// A listening socket on address:port (port 0 = any); -1 on failure.
inline int listenOn(const std::string &address, std::uint16_t port, std::uint16_t *bound = nullptr,
                    int backlog = 128)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0
        || ::listen(fd, backlog) != 0) {
        ::close(fd);
        return -1;
    }
    if (bound) {
        socklen_t len = sizeof sa;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len);
        *bound = ntohs(sa.sin_port);
    }
    return fd;
}

class Peers
{
public:
    struct Conn
    {
        int fd = -1;
        int group = 0; // which listener set accepted it
        std::atomic<std::int64_t> bytes{0};
        std::atomic<std::int64_t> lastNs{0};
        std::atomic<std::int64_t> target{0};
    };

    // Called on the reader thread when every armed connection reached its target.
    std::function<void()> onAllReached;

    ~Peers() { stop(); }

    // Listens on `count` loopback addresses at one common port (chosen here
    // when port is 0); returns the port, 0 on failure.
    std::uint16_t addGroup(int group, int count, std::uint16_t port = 0)
    {
        for (int attempt = 0; attempt < 20; ++attempt) {
            std::vector<int> fds;
            std::uint16_t p = port;
            bool ok = true;
            for (int i = 0; i < count && ok; ++i) {
                const int fd = listenOn(loopbackAddress(i), p, i == 0 && p == 0 ? &p : nullptr);
                ok = fd >= 0;
                if (ok)
                    fds.push_back(fd);
            }
            if (ok) {
                for (int fd : fds)
                    m_listeners.push_back({fd, group});
                return p;
            }
            for (int fd : fds)
                ::close(fd);
            if (port != 0)
                break;
        }
        return 0;
    }

    void start()
    {
        m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
        for (std::size_t i = 0; i < m_listeners.size(); ++i) {
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.u64 = kListenerBit | i;
            ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listeners[i].first, &ev);
        }
        m_conns.reserve(1024); // never reallocated while the thread runs
        m_thread = std::thread([this] { run(); });
    }

    void stop()
    {
        if (!m_thread.joinable())
            return;
        m_stop = true;
        m_thread.join();
        for (auto &c : m_conns)
            ::close(c->fd);
        for (auto &l : m_listeners)
            ::close(l.first);
        ::close(m_epoll);
        m_conns.clear();
        m_listeners.clear();
    }

    int connections(int group) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return int(std::count_if(m_conns.begin(), m_conns.end(),
                                 [group](const auto &c) { return c->group == group; }));
    }

    // Every connection of the group is to receive `more` bytes beyond what it has.
    void arm(int group, std::int64_t more)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        int armed = 0;
        for (auto &c : m_conns) {
            if (c->group != group)
                continue;
            c->target = c->bytes + more;
            ++armed;
        }
        m_pending = armed;
        m_armedGroup = group;
    }

    // Latest arrival over the armed group.
    std::int64_t lastArrivalNs(int group) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::int64_t last = 0;
        for (const auto &c : m_conns)
            if (c->group == group)
                last = std::max<std::int64_t>(last, c->lastNs);
        return last;
    }

    std::int64_t totalBytes(int group) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::int64_t sum = 0;
        for (const auto &c : m_conns)
            if (c->group == group)
                sum += c->bytes;
        return sum;
    }

private:
    static constexpr std::uint64_t kListenerBit = std::uint64_t(1) << 62;

    void run()
    {
        epoll_event events[64];
        char buf[65536];
        while (!m_stop) {
            const int n = ::epoll_wait(m_epoll, events, 64, 50);
            for (int k = 0; k < n; ++k) {
                const std::uint64_t tag = events[k].data.u64;
                if (tag & kListenerBit) {
                    const auto &l = m_listeners[tag & ~kListenerBit];
                    const int fd
                        = ::accept4(l.first, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
                    if (fd < 0)
                        continue;
                    const int on = 1;
                    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                    std::lock_guard<std::mutex> lock(m_mutex);
                    auto c = std::make_unique<Conn>();
                    c->fd = fd;
                    c->group = l.second;
                    epoll_event ev{};
                    ev.events = EPOLLIN;
                    ev.data.u64 = m_conns.size();
                    m_conns.push_back(std::move(c));
                    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev);
                    continue;
                }
                Conn *c;
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    c = m_conns[tag].get();
                }
                const ssize_t got = ::recv(c->fd, buf, sizeof buf, 0);
                const std::int64_t t = nowNs();
                if (got <= 0) {
                    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, c->fd, nullptr);
                    continue;
                }
                const std::int64_t before = c->bytes;
                c->bytes = before + got;
                c->lastNs = t;
                bool all = false;
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    if (c->group == m_armedGroup && m_pending > 0 && before < c->target
                        && before + got >= c->target)
                        all = --m_pending == 0;
                }
                if (all && onAllReached)
                    onAllReached();
            }
        }
    }

    std::vector<std::pair<int, int>> m_listeners; // fd, group
    std::vector<std::unique_ptr<Conn>> m_conns;
    mutable std::mutex m_mutex;
    int m_epoll = -1;
    int m_pending = 0;
    int m_armedGroup = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Median and the q-quantile (nearest rank) of a sample.
inline double quantile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t rank = std::size_t(std::max(0.0, q * double(v.size()) - 1e-9));
    return v[std::min(rank, v.size() - 1)];
}

} // namespace bench
