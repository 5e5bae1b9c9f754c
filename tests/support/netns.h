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

#include <cstdlib>
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
        if (m_home < 0 || !run("ip", {"netns", "add", m_console})) {
            m_why = QStringLiteral("'ip netns add' does not work here");
            return;
        }
        const bool made
            = run("ip", {"netns", "add", m_display})
              && run("ip", {"-n", m_console, "link", "set", "lo", "up"})
              && run("ip", {"-n", m_display, "link", "set", "lo", "up"})
              && run("ip", {"-n", m_console, "link", "add", "rvc1", "type", "veth", "peer", "name",
                            kDisplayLink, "netns", m_display})
              && run("ip", {"-n", m_console, "addr", "add", kConsoleAddress + "/24", "dev", "rvc1"})
              && run("ip",
                     {"-n", m_display, "addr", "add", kDisplayAddress + "/24", "dev", kDisplayLink})
              && run("ip", {"-n", m_console, "link", "set", "rvc1", "up"})
              && run("ip", {"-n", m_display, "link", "set", kDisplayLink, "up"})
              // The recovery broadcast needs a route; this one ends in the display's namespace.
              && run("ip", {"-n", m_console, "route", "add", "default", "dev", "rvc1"});
        m_consoleFd = ::open(qPrintable(QStringLiteral("/var/run/netns/") + m_console),
                             O_RDONLY | O_CLOEXEC);
        m_displayFd = ::open(qPrintable(QStringLiteral("/var/run/netns/") + m_display),
                             O_RDONLY | O_CLOEXEC);
        if (!made || m_consoleFd < 0 || m_displayFd < 0
            || ::setns(m_consoleFd, CLONE_NEWNET) != 0) {
            m_why = QStringLiteral("could not build two namespaces joined by a veth pair here");
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

    static bool run(const char *program, const QStringList &arguments)
    {
        QProcess process;
        process.start(QString::fromLatin1(program), arguments);
        if (!process.waitForFinished(10000))
            return false;
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

private:
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
    int m_home = -1;
    int m_consoleFd = -1;
    int m_displayFd = -1;
    bool m_valid = false;
};
