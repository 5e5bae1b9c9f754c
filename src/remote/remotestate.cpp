#include "remote/remoteconsole.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace remotestate {

QByteArray toJson(const RemoteState &s)
{
    QJsonArray displays;
    for (const DisplayHealth &h : s.displays)
        displays.append(displayhealth::toJson(h));
    const QJsonObject o{
        {QStringLiteral("time"), s.time},
        {QStringLiteral("frame"), s.frame},
        {QStringLiteral("running"), s.running},
        {QStringLiteral("title"), s.title},
        {QStringLiteral("lamp"), s.lampGreen ? QStringLiteral("green") : QStringLiteral("red")},
        {QStringLiteral("displays"), displays},
        {QStringLiteral("role"),
         s.following.isEmpty() ? QStringLiteral("main") : QStringLiteral("standby")},
        {QStringLiteral("following"), s.following},
        {QStringLiteral("startsAt"), s.startsAt},
        {QStringLiteral("term"), s.term},
        {QStringLiteral("standbys"), QJsonArray::fromStringList(s.standbys)},
    };
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace remotestate
