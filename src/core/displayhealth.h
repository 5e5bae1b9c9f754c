#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

// What the console knows of one display's link: a plain value, free of widgets,
// shown in tooltips and published as it is by the remote interface.
struct DisplayHealth
{
    enum class State {
        Connecting,   // not yet up: a first attempt, or retrying with no error yet
        Connected,    // the socket's connection is up
        Failing,      // the last attempt or connection ended in an error or a close
        MarkedByHand, // marked by the operator while the socket is not connected
    };

    QString address;
    State state = State::Connecting;
    QDateTime since;
    QString lastError;
    QDateTime lastErrorAt;
    int errorCount = 0; // the socket's Tag
    QDateTime lastRecoveryAt;
    int connectsLastHour = 0;
    int lossesLastHour = 0;
    qint64 framesSent = 0; // on the current connection
    QString lastFrameText; // the six time characters of the last frame sent
    qint64 rttMicros = -1; // the kernel's smoothed round-trip time; -1 where unknown

    bool operator==(const DisplayHealth &o) const;
    bool operator!=(const DisplayHealth &o) const { return !(*this == o); }
};

namespace displayhealth {

// "connected", "connecting", "failing", "marked"
QString stateName(DisplayHealth::State state);

// address, state, since, lastError, lastErrorAt, errorCount, lastRecoveryAt,
// connectsLastHour, lossesLastHour, framesSent, lastFrame, rttMs (null = n/a).
// Times are ISO 8601 local times with offset, or null when never.
QJsonObject toJson(const DisplayHealth &health);

} // namespace displayhealth
