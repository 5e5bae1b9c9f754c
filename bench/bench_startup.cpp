// Start-up: from process start until the window is first painted, for the
// console (RV38T_REPORT_SHOWN=1, started in the current directory, which holds
// its LST_IP.CFG), for the smallest Qt Widgets window and, if given, for a
// minimal window showing text in the console's fonts; alternated.
//
//   rv38t-bench-startup --runs N CONSOLE MINIMAL [TEXT]
//
// The console is stopped as soon as it reports, before its first connection
// tick; still, run this inside a private network namespace.

#include "peers.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char **environ;

namespace {

// Milliseconds from spawn to the "shown" line; negative on failure.
double timeToShown(const char *program)
{
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char *argv[] = {const_cast<char *>(program), nullptr};
    pid_t pid = 0;
    const std::int64_t t0 = bench::nowNs();
    const int rc = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        return -1;
    }
    std::string seen;
    double ms = -1;
    char buf[256];
    while (ms < 0) {
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0)
            break;
        const ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n <= 0)
            break;
        seen.append(buf, std::size_t(n));
        if (seen.find("shown") != std::string::npos)
            ms = double(bench::nowNs() - t0) / 1e6;
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ::close(out[0]);
    return ms;
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 15;
    std::vector<const char *> programs;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else
            programs.push_back(argv[i]);
    }
    if (programs.size() != 2 && programs.size() != 3) {
        std::fprintf(stderr, "usage: rv38t-bench-startup [--runs N] CONSOLE MINIMAL [TEXT]\n");
        return 2;
    }
    const bool withText = programs.size() == 3;
    // One warm-up each: the first start pays for cold caches.
    for (const char *program : programs)
        timeToShown(program);
    std::vector<double> c, b, t;
    int failures = 0;
    for (int r = 0; r < runs; ++r) {
        const double x = timeToShown(programs[0]);
        const double y = timeToShown(programs[1]);
        const double z = withText ? timeToShown(programs[2]) : 0;
        if (x < 0 || y < 0 || z < 0) {
            ++failures;
            continue;
        }
        c.push_back(x);
        b.push_back(y);
        t.push_back(z);
    }
    if (c.empty())
        return 1;
    auto mm = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return std::make_pair(v.front(), v.back());
    };
    const double mc = bench::quantile(c, 0.5), mb = bench::quantile(b, 0.5);
    std::printf("startup runs=%zu failed=%d\n", c.size(), failures);
    std::printf("startup console_median_ms=%.1f spread=%.1f..%.1f\n", mc, mm(c).first,
                mm(c).second);
    std::printf("startup baseline_median_ms=%.1f spread=%.1f..%.1f\n", mb, mm(b).first,
                mm(b).second);
    std::printf("startup ratio_median=%.2f\n", mb > 0 ? mc / mb : 0);
    if (withText) {
        const double mt = bench::quantile(t, 0.5);
        std::printf("startup text_median_ms=%.1f spread=%.1f..%.1f\n", mt, mm(t).first,
                    mm(t).second);
        std::printf("startup ratio_text_median=%.2f\n", mt > 0 ? mc / mt : 0);
    }
    return failures ? 1 : 0;
}
