#pragma once

// The real rv38t-timer, started as a child on the offscreen platform.

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

inline QString consoleProgram()
{
    const QString build = qEnvironmentVariable("RV38T_BUILD_DIR");
    const QString dir
        = build.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/..") : build;
    return QFileInfo(dir + QStringLiteral("/rv38t-timer")).absoluteFilePath();
}

// Started in the current directory; the caller waits for what it needs.
inline void startConsole(QProcess &process, const QStringList &arguments = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.start(consoleProgram(), arguments);
}
