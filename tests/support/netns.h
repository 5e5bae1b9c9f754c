#pragma once

// Two network namespaces of the test's own, joined by a veth pair: the
// console's side (the test thread moves into it for the whole run) and a
// display's side (entered only to create the display's sockets, which stay
// there). Nothing reaches a real network. Needs root; isValid() false and
// why() says why otherwise.

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

class NamespacePair
{
public:
    static inline const QString kConsoleAddress = QStringLiteral("10.78.0.1");
    static inline const QString kDisplayAddress = QStringLiteral("10.78.0.2");
    static inline const QString kDisplayLink = QStringLiteral("rvd1");

    explicit NamespacePair(const QString &prefix) : m_prefix(prefix)
    {
        const QString pid = QString::number(QCoreApplication::applicationPid());
        m_console = prefix + pid + QStringLiteral("-console");
        m_display = prefix + pid + QStringLiteral("-display");
        if (::geteuid() != 0) {
            m_why = QStringLiteral("needs root to make its own network namespaces (ip netns add)");
            return;
        }
        removeStale();
        m_home = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        if (m_home < 0 || !step("ip", {"netns", "add", m_console})) {
            m_why = QStringLiteral("'ip netns add' does not work here") + cause();
            return;
        }
        const bool made
            = step("ip", {"netns", "add", m_display})
              && step("ip", {"-n", m_console, "link", "set", "lo", "up"})
              && step("ip", {"-n", m_display, "link", "set", "lo", "up"})
              && step("ip", {"-n", m_console, "link", "add", "rvc1", "type", "veth", "peer", "name",
                             kDisplayLink, "netns", m_display})
              && step("ip",
                      {"-n", m_console, "addr", "add", kConsoleAddress + "/24", "dev", "rvc1"})
              && step("ip", {"-n", m_display, "addr", "add", kDisplayAddress + "/24", "dev",
                             kDisplayLink})
              && step("ip", {"-n", m_console, "link", "set", "rvc1", "up"})
              && step("ip", {"-n", m_display, "link", "set", kDisplayLink, "up"})
              // The recovery broadcast needs a route; this one ends in the display's namespace.
              && step("ip", {"-n", m_console, "route", "add", "default", "dev", "rvc1"});
        m_consoleFd = made ? openNamespace(m_console) : -1;
        m_displayFd = m_consoleFd >= 0 ? openNamespace(m_display) : -1;
        if (m_displayFd >= 0 && ::setns(m_consoleFd, CLONE_NEWNET) != 0)
            m_failure = QStringLiteral("setns: ") + QString::fromLocal8Bit(std::strerror(errno));
        if (!made || m_consoleFd < 0 || m_displayFd < 0 || !m_failure.isEmpty()) {
            m_why = QStringLiteral("could not build two namespaces joined by a veth pair here")
                    + cause();
            return;
        }
        m_valid = true;
    }

    ~NamespacePair()
    {
        // Back home first, so the process never sits in a namespace being removed.
        if (m_home >= 0) {
            ::setns(m_home, CLONE_NEWNET);
            ::close(m_home);
        }
        if (m_consoleFd >= 0)
            ::close(m_consoleFd);
        if (m_displayFd >= 0)
            ::close(m_displayFd);
        run("ip", {"netns", "del", m_console});
        run("ip", {"netns", "del", m_display});
    }

    NamespacePair(const NamespacePair &) = delete;
    NamespacePair &operator=(const NamespacePair &) = delete;

    bool isValid() const { return m_valid; }
    QString why() const { return m_why; }
    QString displayNamespace() const { return m_display; }

    // Runs `create` inside the display's namespace: sockets made there stay there.
    template <typename F> bool inDisplayNamespace(F create)
    {
        if (::setns(m_displayFd, CLONE_NEWNET) != 0)
            return false;
        create();
        return ::setns(m_consoleFd, CLONE_NEWNET) == 0;
    }

    // An nftables rule set loaded into the display's namespace; "" on success,
    // else nft's complaint.
    QString nftInDisplay(const QString &ruleset) const
    {
        QProcess nft;
        nft.start(QStringLiteral("ip"), {"netns", "exec", m_display, "nft", "-f", "-"});
        if (!nft.waitForStarted(10000))
            return QStringLiteral("could not start ip netns exec nft");
        nft.write(ruleset.toUtf8());
        nft.closeWriteChannel();
        if (!nft.waitForFinished(10000) || nft.exitStatus() != QProcess::NormalExit
            || nft.exitCode() != 0)
            return QString::fromLocal8Bit(nft.readAllStandardError()).trimmed()
                   + QStringLiteral(" (nft)");
        return {};
    }

    // Runs a tool; on failure, `error` (when given) says what it said.
    static bool run(const char *program, const QStringList &arguments, QString *error = nullptr)
    {
        QProcess process;
        process.start(QString::fromLatin1(program), arguments);
        const bool finished = process.waitForFinished(10000);
        const QString said = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        const bool ok
            = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        if (error)
            *error = said.isEmpty() && !ok ? process.errorString() : said;
        return ok;
    }

private:
    // One set-up step. The first failure, and the first complaint of a step that
    // still succeeded (ip may warn and go on, as in a chroot whose root is not a
    // mount point), are kept for the skip message: the cause is what to fix.
    bool step(const char *program, const QStringList &arguments)
    {
        QString said;
        const bool ok = run(program, arguments, &said);
        const QString what = QString::fromLatin1(program) + ' ' + arguments.join(' ') + ": " + said;
        if (!ok && m_failure.isEmpty())
            m_failure = what;
        else if (ok && !said.isEmpty() && m_warning.isEmpty())
            m_warning = what;
        return ok;
    }

    int openNamespace(const QString &name)
    {
        const QString path = QStringLiteral("/var/run/netns/") + name;
        const int fd = ::open(qPrintable(path), O_RDONLY | O_CLOEXEC);
        if (fd < 0 && m_failure.isEmpty())
            m_failure = path + ": " + QString::fromLocal8Bit(std::strerror(errno));
        return fd;
    }

    QString cause() const
    {
        QStringList said;
        for (const QString &s : {m_failure, m_warning})
            if (!s.isEmpty())
                said << s;
        return said.isEmpty() ? QString() : QStringLiteral(" (") + said.join("; ") + ')';
    }

    // Namespaces left by an earlier run that was killed before it could tidy up.
    void removeStale() const
    {
        QProcess list;
        list.start(QStringLiteral("ip"), {"netns", "list"});
        list.waitForFinished(10000);
        const QStringList lines = QString::fromLocal8Bit(list.readAllStandardOutput()).split('\n');
        for (const QString &line : lines) {
            const QString name = line.section(' ', 0, 0);
            if (!name.startsWith(m_prefix))
                continue;
            const QString pid = name.mid(m_prefix.size()).section('-', 0, 0);
            if (!QDir(QStringLiteral("/proc/") + pid).exists())
                run("ip", {"netns", "del", name});
        }
    }

    QString m_prefix;
    QString m_console;
    QString m_display;
    QString m_why;
    QString m_failure;
    QString m_warning;
    int m_home = -1;
    int m_consoleFd = -1;
    int m_displayFd = -1;
    bool m_valid = false;
};
