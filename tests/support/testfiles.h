#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

// A fresh temporary directory, current while it lives. Tests whose every case
// writes files hold one made in init() and dropped in cleanup().
class TempCurrentDir
{
public:
    TempCurrentDir() : m_previous(QDir::currentPath())
    {
        m_ok = m_dir.isValid() && QDir::setCurrent(m_dir.path());
    }
    ~TempCurrentDir() { QDir::setCurrent(m_previous); }
    bool isValid() const { return m_ok; }

private:
    QString m_previous;
    QTemporaryDir m_dir;
    bool m_ok = false;
};

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && file.write(bytes) == bytes.size();
}

// While it lives, every write to a regular file fails (file size limit 0), for
// root as well, whom directory permissions do not stop. Compare nothing while it
// lives: a failure report written to a file would be lost.
class FileWritesFail
{
public:
    FileWritesFail()
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit none = m_old;
        none.rlim_cur = 0;
        m_active = setrlimit(RLIMIT_FSIZE, &none) == 0;
    }
    ~FileWritesFail()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileWritesFail(const FileWritesFail &) = delete;
    FileWritesFail &operator=(const FileWritesFail &) = delete;

    bool active() const { return m_active; }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_active = false;
};
