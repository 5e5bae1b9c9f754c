#include "remote/remotehub.h"

#include <QMetaObject>

RemoteHub::RemoteHub(QObject *parent) : QObject(parent) {}

void RemoteHub::setConsole(RemoteConsole console)
{
    m_console = std::move(console);
    notifyChanged();
}

void RemoteHub::execute(const Command &c, const QString &source)
{
    if (!refusal().isEmpty())
        return; // the servers answer the refusal; nothing may change here
    // The line comes first, so the log reads cause before effect.
    if (m_console.log)
        m_console.log(source + QStringLiteral("= ") + c.logText());
    switch (c.kind) {
    case Command::Kind::SetTime:
        if (m_console.setTime)
            m_console.setTime(c.hours, c.minutes, c.seconds);
        break;
    case Command::Kind::Run:
        if (m_console.run)
            m_console.run();
        break;
    case Command::Kind::Pause:
        if (m_console.pause)
            m_console.pause();
        break;
    case Command::Kind::Reset:
        if (m_console.reset)
            m_console.reset();
        break;
    case Command::Kind::Nudge:
        if (m_console.nudge)
            m_console.nudge(c.seconds);
        break;
    case Command::Kind::Until:
        if (m_console.until)
            m_console.until(c.hours, c.minutes, c.seconds);
        break;
    case Command::Kind::RunAt:
        if (m_console.runAt)
            m_console.runAt(c.hours, c.minutes, c.seconds, source);
        break;
    case Command::Kind::Disarm:
        if (m_console.disarm)
            m_console.disarm();
        break;
    }
}

void RemoteHub::setFollowing(const QString &main)
{
    m_following = main;
    notifyChanged();
}

QString RemoteHub::refusal() const
{
    return m_following.isEmpty() ? QString()
                                 : QStringLiteral("standby: send commands to ") + m_following;
}

void RemoteHub::standbyJoined(const QString &address)
{
    m_standbys.append(address);
    if (m_console.log)
        m_console.log(QStringLiteral("STANDBY ") + address + QStringLiteral("= JOINED"));
    notifyChanged();
    emit joined(address);
}

void RemoteHub::standbyLeft(const QString &address)
{
    m_standbys.removeOne(address);
    if (m_console.log)
        m_console.log(QStringLiteral("STANDBY ") + address + QStringLiteral("= LEFT"));
    notifyChanged();
    emit left(address);
}

void RemoteHub::standbyNotFenced(const QString &address)
{
    // Once per address in a row: a standby that reconnects, or a client that
    // keeps announcing, does not fill the log.
    if (address == m_notFenced)
        return;
    m_notFenced = address;
    if (m_console.log)
        m_console.log(QStringLiteral("STANDBY ") + address
                      + QStringLiteral("= NOT FENCED: no --remote-token shared with it"));
}

RemoteState RemoteHub::state() const
{
    RemoteState s = m_console.state ? m_console.state() : RemoteState{};
    s.following = m_following;
    s.standbys = m_standbys;
    s.standbys.removeDuplicates(); // one that reconnects before its old link is gone
    return s;
}

QByteArray RemoteHub::stateJson() const
{
    return remotestate::toJson(state());
}

void RemoteHub::notifyChanged()
{
    if (m_pending)
        return;
    m_pending = true;
    QMetaObject::invokeMethod(this, &RemoteHub::flush, Qt::QueuedConnection);
}

void RemoteHub::flush()
{
    m_pending = false;
    m_pushJson.clear(); // built on first demand: nobody watching costs nothing
    emit changed();
}

QByteArray RemoteHub::pushJson()
{
    if (m_pushJson.isEmpty())
        m_pushJson = stateJson();
    return m_pushJson;
}

#include "moc_remotehub.cpp"
