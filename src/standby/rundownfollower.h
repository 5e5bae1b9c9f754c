#pragma once

#include "core/rundown.h"
#include "standby/followed.h"

#include <QObject>

#include <functional>

class QNetworkAccessManager;
class QNetworkReply;

// The main's running order, for its standby. The pushes carry only the current
// segment and the list's revision; the list itself is fetched whole
// (GET /api/rundown) whenever the revision changes, and checked as the file is
// before it is shown.
class RundownFollower : public QObject
{
    Q_OBJECT
public:
    using Show = std::function<void(const QList<rundown::Segment> &segments, int current)>;
    using Log = std::function<void(const QString &message)>;

    RundownFollower(const followed::MainAddress &main, Show show, Log log,
                    QObject *parent = nullptr);

    // From every state the main pushes.
    void follow(int revision, int current);

private:
    void fetch();
    void onFinished(QNetworkReply *reply);

    followed::MainAddress m_main;
    Show m_show;
    Log m_log;
    QNetworkAccessManager *m_nam = nullptr;
    QNetworkReply *m_inFlight = nullptr;
    int m_wanted = -1;   // the revision the main has
    int m_fetching = -1; // the revision asked for
    int m_have = -1;     // the revision shown
    int m_failed = -1;   // the revision whose fetch failed, logged once
    int m_current = 0;
    QList<rundown::Segment> m_segments;
};
