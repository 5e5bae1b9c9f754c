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
    QJsonObject o{
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
        {QStringLiteral("zones"),
         QJsonObject{{QStringLiteral("warning"), zones::text(s.zones.warning)},
                     {QStringLiteral("danger"), zones::text(s.zones.danger)}}},
        {QStringLiteral("zone"), s.zone},
        {QStringLiteral("message"), QJsonObject{{QStringLiteral("text"), s.message},
                                                {QStringLiteral("visible"), s.messageVisible}}},
        {QStringLiteral("overtime"), s.reachedZero ? zones::text(s.overtime) : QString()},
        {QStringLiteral("blackout"), s.blackout},
        {QStringLiteral("length"), s.length > 0 ? zones::text(s.length) : QString()},
    };
    o.insert(QStringLiteral("cue"), QJsonObject{
                                        {QStringLiteral("index"), s.cue.index},
                                        {QStringLiteral("count"), s.cue.count},
                                        {QStringLiteral("title"), s.cue.title},
                                        {QStringLiteral("next"), s.cue.next},
                                        {QStringLiteral("revision"), s.cue.revision},
                                    });
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace remotestate
