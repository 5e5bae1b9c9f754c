#include "app/directorylock.h"

#include <QDir>
#include <QLockFile>
#include <QSysInfo>

#include <cstdio>

DirectoryLock::DirectoryLock() = default;
DirectoryLock::~DirectoryLock() = default;

DirectoryLock::Outcome DirectoryLock::take(QString *message)
{
    m_lock = std::make_unique<QLockFile>(QDir::current().absoluteFilePath(kFileName));
    // Never stale by age: a console runs for days. A lock whose process is gone
    // (a crash, a power cut) is stale and QLockFile takes it over.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0))
        return Outcome::Held;
    const QString where = QDir::toNativeSeparators(QDir::currentPath());
    if (m_lock->error() == QLockFile::LockFailedError) {
        qint64 pid = 0;
        QString host, application;
        m_lock->getLockInfo(&pid, &host, &application);
        if (message) {
            // A lock from another machine (a shared network directory) is never
            // taken over: its process cannot be looked for from here.
            const bool elsewhere = !host.isEmpty() && host != QSysInfo::machineHostName();
            *message = QStringLiteral(
                           "rv38t-timer: another console (%1:%2) already works in %3; "
                           "only one may use a directory's LST_IP.CFG and TITLE.CFG at a time.")
                           .arg(host)
                           .arg(pid)
                           .arg(where)
                       + (elsewhere ? QStringLiteral("\nIt runs on another machine, %1, so this "
                                                     "lock is never taken over by itself. If no "
                                                     "console runs there any more, delete %2.")
                                          .arg(host, QDir(where).filePath(kFileName))
                                    : QStringLiteral("\nIf that process is not a console, "
                                                     "delete %1.")
                                          .arg(QDir(where).filePath(kFileName)));
        }
        m_lock.reset();
        return Outcome::Busy;
    }
    if (message) {
        *message = QStringLiteral("rv38t-timer: cannot make the lock file %1 in %2; "
                                  "running without it.")
                       .arg(kFileName, where);
    }
    m_lock.reset();
    return Outcome::Unlockable;
}

bool takeDirectoryLock(DirectoryLock &lock)
{
    QString message;
    const DirectoryLock::Outcome outcome = lock.take(&message);
    if (outcome != DirectoryLock::Outcome::Held)
        std::fprintf(stderr, "%s\n", qPrintable(message));
    return outcome != DirectoryLock::Outcome::Busy;
}
