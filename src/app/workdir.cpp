#include "app/workdir.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace workdir {

QString userDataDir()
{
    // The generic location with a name of our own, so the folder does not move
    // with the program's or an organisation's name.
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return base.isEmpty() ? QString() : base + QStringLiteral("/rv38t");
}

QString enter(const Options &options)
{
    QString target;
    if (options.dataDir) {
        target = userDataDir();
        if (target.isEmpty())
            return QStringLiteral("cannot tell the user's data directory (is HOME set?)");
    } else if (!options.dir.isEmpty()) {
        target = options.dir;
    } else {
        return {};
    }
    const QFileInfo info(target);
    if (info.exists() && !info.isDir())
        return QStringLiteral("%1 is not a directory").arg(target);
    if (!info.exists() && !QDir().mkpath(target))
        return QStringLiteral("cannot make the directory %1").arg(target);
    if (!QDir::setCurrent(target))
        return QStringLiteral("cannot enter the directory %1").arg(target);
    return {};
}

} // namespace workdir
