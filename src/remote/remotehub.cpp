#include "remote/remotehub.h"

#include "core/cfgfile.h"

#include <QFileInfo>
#include <QMetaObject>

RemoteHub::RemoteHub(QObject *parent) : QObject(parent) {}

void RemoteHub::setConsole(RemoteConsole console)
{
    m_console = std::move(console);
    notifyChanged();
}

Command RemoteHub::completed(const Command &command) const
{
    // What was left out stays as it is, and the log names the whole result.
    Command c = command;
    if (c.kind == Command::Kind::Zones) {
        if (c.warning < 0)
            c.warning = m_presenter.zones.warning;
        if (c.danger < 0)
            c.danger = m_presenter.zones.danger;
    } else if (c.kind == Command::Kind::Message) {
        if (!c.hasText)
            c.text = m_presenter.message;
        c.hasText = true;
        if (c.visible < 0)
            c.visible = m_presenter.messageVisible;
    }
    return c;
}

QString RemoteHub::rejection(const Command &command) const
{
    if (command.kind != Command::Kind::Zones)
        return QString();
    const Command c = completed(command);
    return zones::conflict({c.warning, c.danger});
}

QString RemoteHub::execute(const Command &command, const QString &source)
{
    if (!refusal().isEmpty())
        return refusal(); // the servers answer the refusal; nothing may change here
    if (const QString why = rejection(command); !why.isEmpty())
        return why;
    if (command.kind == Command::Kind::Cue)
        return cue(command, source);
    const Command c = completed(command);
    // The line comes first, so the log reads cause before effect.
    log(source + QStringLiteral("= ") + c.logText());
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
    case Command::Kind::Zones:
        m_presenter.zones = {c.warning, c.danger};
        saveZones();
        notifyChanged();
        break;
    case Command::Kind::Message:
        m_presenter.message = c.text;
        m_presenter.messageVisible = c.visible != 0;
        notifyChanged();
        break;
    case Command::Kind::Blackout:
        m_presenter.blackout = c.on;
        notifyChanged();
    case Command::Kind::Cue:
        break;
    }
    return QString();
}

QString RemoteHub::cue(const Command &c, const QString &source)
{
    // The running order logs the cue with the segment it names, or refuses it unlogged.
    if (!m_console.cue)
        return QStringLiteral("no running order here");
    return m_console.cue(c.cueIndex, c.cueStep, c.run, source);
}

QByteArray RemoteHub::rundownJson() const
{
    return m_console.rundownJson ? m_console.rundownJson()
                                 : QByteArray(R"({"items":[],"current":0})");
}

int RemoteHub::putRundown(const QByteArray &body, bool csv, const QString &source, QString *error)
{
    if (!refusal().isEmpty()) {
        *error = refusal();
        return 409;
    }
    if (!m_console.putRundown) {
        *error = QStringLiteral("no running order here");
        return 404;
    }
    return m_console.putRundown(body, csv, source, error);
}

void RemoteHub::log(const QString &line)
{
    if (m_console.log)
        m_console.log(line);
}

void RemoteHub::loadZones(const QString &fileName)
{
    m_zonesFile = fileName;
    QStringList problems;
    m_presenter.zones = zones::fromLines(cfgfile::readLines(fileName, 2), &problems);
    for (const QString &p : std::as_const(problems))
        log(QFileInfo(fileName).fileName() + QStringLiteral("= ") + p);
    notifyChanged();
}

bool RemoteHub::saveZones()
{
    if (m_zonesFile.isEmpty())
        return true;
    QString why;
    if (cfgfile::save(m_zonesFile, cfgfile::joinLines(zones::toLines(m_presenter.zones)), &why))
        return true;
    log(QFileInfo(m_zonesFile).fileName() + QStringLiteral("= ") + why);
    return false;
}

PresenterSettings RemoteHub::presenter() const
{
    return m_presenter;
}

void RemoteHub::followPresenter(const PresenterSettings &settings)
{
    m_presenter = settings;
    notifyChanged();
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
    s.zones = m_presenter.zones;
    s.zone = zones::name(zones::zoneOf(m_presenter.zones, s.secondsLeft, s.reachedZero));
    s.message = m_presenter.message;
    s.messageVisible = m_presenter.messageVisible;
    s.blackout = m_presenter.blackout;
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
