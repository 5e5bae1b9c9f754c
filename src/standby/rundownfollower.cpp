#include "standby/rundownfollower.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

RundownFollower::RundownFollower(const followed::MainAddress &main, Show show, Log log,
                                 QObject *parent)
    : QObject(parent), m_main(main), m_show(std::move(show)), m_log(std::move(log)),
      m_nam(new QNetworkAccessManager(this))
{
    connect(m_nam, &QNetworkAccessManager::finished, this, &RundownFollower::onFinished);
}

void RundownFollower::follow(int revision, int current)
{
    m_current = current;
    if (revision < 0)
        return; // a main without a running order
    m_wanted = revision;
    if (revision == 0 && m_have != 0) {
        // The main has never had a running order (its list starts empty at
        // revision 0): nothing to fetch.
        m_segments.clear();
        m_have = 0;
    }
    if (revision == m_have)
        m_show(m_segments, current);
    else if (!m_inFlight)
        fetch();
}

void RundownFollower::fetch()
{
    QNetworkRequest request(QUrl(QStringLiteral("http://%1/api/rundown").arg(m_main.text)));
    request.setTransferTimeout(5000);
    m_fetching = m_wanted;
    m_inFlight = m_nam->get(request);
    // A main that sends more than any list can be is cut off, not buffered.
    QNetworkReply *reply = m_inFlight;
    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64) {
        if (received > rundown::kMaxFileBytes)
            reply->abort();
    });
}

void RundownFollower::onFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    if (reply != m_inFlight)
        return;
    m_inFlight = nullptr;
    const rundown::Parsed p
        = reply->error() == QNetworkReply::NoError
              ? rundown::parseJson(reply->read(rundown::kMaxFileBytes + 1), 32767)
              : rundown::Parsed{false, {}, reply->errorString(), {}};
    if (!p.ok) {
        // Once per revision: the next push asks again, and pushes come every second.
        if (m_log && m_failed != m_fetching)
            m_log(QStringLiteral("STANDBY ") + m_main.text + QStringLiteral("= RUNDOWN ")
                  + p.error);
        m_failed = m_fetching;
        return;
    }
    m_segments = p.segments;
    m_have = m_fetching;
    m_show(m_segments, m_current);
    if (m_wanted != m_have)
        fetch();
}

#include "moc_rundownfollower.cpp"
