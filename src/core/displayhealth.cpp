#include "core/displayhealth.h"

#include <QJsonValue>

bool DisplayHealth::operator==(const DisplayHealth &o) const
{
    return address == o.address && state == o.state && since == o.since && lastError == o.lastError
           && lastErrorAt == o.lastErrorAt && errorCount == o.errorCount
           && lastRecoveryAt == o.lastRecoveryAt && connectsLastHour == o.connectsLastHour
           && lossesLastHour == o.lossesLastHour && framesSent == o.framesSent
           && lastFrameText == o.lastFrameText && rttMicros == o.rttMicros;
}

namespace displayhealth {

QString stateName(DisplayHealth::State state)
{
    switch (state) {
    case DisplayHealth::State::Connected:
        return QStringLiteral("connected");
    case DisplayHealth::State::Connecting:
        return QStringLiteral("connecting");
    case DisplayHealth::State::Failing:
        return QStringLiteral("failing");
    case DisplayHealth::State::MarkedByHand:
        return QStringLiteral("marked");
    }
    return QString();
}

namespace {
QJsonValue when(const QDateTime &t)
{
    return t.isValid() ? QJsonValue(t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate))
                       : QJsonValue(QJsonValue::Null);
}
} // namespace

QJsonObject toJson(const DisplayHealth &h)
{
    return QJsonObject{
        {QStringLiteral("address"), h.address},
        {QStringLiteral("state"), stateName(h.state)},
        {QStringLiteral("since"), when(h.since)},
        {QStringLiteral("lastError"), h.lastError},
        {QStringLiteral("lastErrorAt"), when(h.lastErrorAt)},
        {QStringLiteral("errorCount"), h.errorCount},
        {QStringLiteral("lastRecoveryAt"), when(h.lastRecoveryAt)},
        {QStringLiteral("connectsLastHour"), h.connectsLastHour},
        {QStringLiteral("lossesLastHour"), h.lossesLastHour},
        {QStringLiteral("framesSent"), static_cast<double>(h.framesSent)},
        {QStringLiteral("lastFrame"), h.lastFrameText},
        {QStringLiteral("rttMs"),
         h.rttMicros >= 0 ? QJsonValue(h.rttMicros / 1000.0) : QJsonValue(QJsonValue::Null)},
    };
}

} // namespace displayhealth
