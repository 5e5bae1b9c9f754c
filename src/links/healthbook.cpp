#include "links/healthbook.h"

#include "core/ansi.h"
#include "core/socketarray.h"
#include "links/addresslist.h"

namespace {

constexpr qint64 kHourSeconds = 3600;
// The lamp's tooltip names at most this many displays that are down.
constexpr int kDownListed = 10;

QString clockTime(const QDateTime &t)
{
    return t.toString(QStringLiteral("HH:mm:ss"));
}

QString duration(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(qMax<qint64>(0, seconds));
    if (seconds < kHourSeconds)
        return QStringLiteral("%1 min").arg(seconds / 60);
    return QStringLiteral("%1 h %2 min")
        .arg(seconds / kHourSeconds)
        .arg(seconds % kHourSeconds / 60);
}

QString roundTrip(qint64 micros)
{
    if (micros < 0)
        return QStringLiteral("rtt n/a");
    if (micros < 10000)
        return QStringLiteral("%1 ms").arg(micros / 1000.0, 0, 'f', 1);
    return QStringLiteral("%1 ms").arg((micros + 500) / 1000);
}

QString plural(qint64 n, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

// "001230" as "00:12:30"; the blank frame as it is.
QString frameTime(const QString &text)
{
    if (text.size() != 6)
        return text;
    return text.left(2) + QLatin1Char(':') + text.mid(2, 2) + QLatin1Char(':') + text.mid(4);
}

QString stateLabel(DisplayHealth::State state)
{
    return state == DisplayHealth::State::MarkedByHand ? QStringLiteral("marked by hand")
                                                       : displayhealth::stateName(state);
}

int withinHour(std::deque<QDateTime> &times, const QDateTime &now)
{
    const QDateTime start = now.addSecs(-kHourSeconds);
    while (!times.empty() && times.front() <= start)
        times.pop_front();
    return int(times.size());
}

} // namespace

HealthBook::HealthBook(AddressList &list, TcpSocketArray &tcp, Clock clock, QObject *parent)
    : QObject(parent), m_list(list), m_tcp(tcp), m_clock(std::move(clock))
{
    connect(&m_list, &AddressList::entryAdded, this, &HealthBook::added);
    connect(&m_list, &AddressList::entryRemoved, this, &HealthBook::removed);
    connect(&m_list, &AddressList::entriesCleared, this, &HealthBook::reloaded);
    for (int i = 0; i < m_list.count(); ++i)
        added(i);
}

HealthBook::Entry *HealthBook::at(int index)
{
    return index >= 0 && index < count() ? &m_entries[std::size_t(index)] : nullptr;
}

void HealthBook::added(int index)
{
    Entry entry;
    entry.health.address = m_list.text(index);
    entry.health.since = m_clock();
    m_entries.insert(m_entries.begin() + qBound(0, index, count()), std::move(entry));
    showToolTip(index, m_clock());
    emit changed();
}

void HealthBook::removed(int index)
{
    if (!at(index))
        return;
    m_entries.erase(m_entries.begin() + index);
    emit changed();
}

void HealthBook::reloaded()
{
    m_entries.clear();
    emit changed();
}

void HealthBook::setState(Entry &entry, DisplayHealth::State state, const QDateTime &now)
{
    if (entry.health.state == state)
        return;
    entry.health.state = state;
    entry.health.since = now;
}

void HealthBook::connected(int index)
{
    Entry *e = at(index);
    if (!e)
        return;
    const QDateTime now = m_clock();
    e->connects.push_back(now);
    setState(*e, DisplayHealth::State::Connected, now);
    showToolTip(index, now);
    emit changed();
}

void HealthBook::closed(int index)
{
    Entry *e = at(index);
    if (!e)
        return;
    const QDateTime now = m_clock();
    e->losses.push_back(now);
    setState(*e, DisplayHealth::State::Failing, now);
    showToolTip(index, now);
    emit changed();
}

void HealthBook::failed(int index, const QString &description)
{
    Entry *e = at(index);
    if (!e)
        return;
    const QDateTime now = m_clock();
    if (e->health.state == DisplayHealth::State::Connected)
        e->losses.push_back(now);
    e->health.lastError = description;
    e->health.lastErrorAt = now;
    setState(*e, DisplayHealth::State::Failing, now);
    showToolTip(index, now);
    emit changed();
}

void HealthBook::recoverySent(int index)
{
    if (Entry *e = at(index)) {
        e->health.lastRecoveryAt = m_clock();
        emit changed();
    }
}

void HealthBook::refresh()
{
    const QDateTime now = m_clock();
    // Durations and frame counts change every tick; their texts are only
    // worth making while the list can be seen.
    const bool shown = m_list.entriesOnScreen();
    for (int i = 0; i < count(); ++i) {
        Entry &e = m_entries[std::size_t(i)];
        const bool up = m_tcp.state(i) == SocketState::Connected;
        if (m_list.isMarked(i) && !up)
            setState(e, DisplayHealth::State::MarkedByHand, now);
        else if (!up
                 && (e.health.state == DisplayHealth::State::Connected
                     || e.health.state == DisplayHealth::State::MarkedByHand))
            // Dropped on purpose (a mark clicked off, a Del), not lost: tried again.
            setState(e, DisplayHealth::State::Connecting, now);
        if (shown)
            showToolTip(i, now);
    }
    emit changed();
}

DisplayHealth HealthBook::record(int index) const
{
    if (index < 0 || index >= count())
        return {};
    const Entry &e = m_entries[std::size_t(index)];
    const QDateTime now = m_clock();
    DisplayHealth h = e.health;
    h.address = m_list.text(index);
    h.errorCount = m_tcp.tag(index).toInt();
    h.connectsLastHour = withinHour(e.connects, now);
    h.lossesLastHour = withinHour(e.losses, now);
    const bool up = m_tcp.state(index) == SocketState::Connected;
    h.framesSent = up ? m_tcp.sentCount(index) : 0;
    const QByteArray last = m_tcp.lastSent(index);
    if (!last.isEmpty())
        h.lastFrameText = ansi::decode(last.mid(1));
    h.rttMicros = up ? m_tcp.roundTripMicros(index) : -1;
    return h;
}

QList<DisplayHealth> HealthBook::records() const
{
    QList<DisplayHealth> out;
    out.reserve(count());
    for (int i = 0; i < count(); ++i)
        out.append(record(i));
    return out;
}

QString HealthBook::lampToolTip() const
{
    // Address, state and since are all the summary shows.
    QList<DisplayHealth> brief;
    brief.reserve(count());
    for (int i = 0; i < count(); ++i) {
        DisplayHealth h = m_entries[std::size_t(i)].health;
        h.address = m_list.text(i);
        brief.append(h);
    }
    return lampToolTip(brief);
}

void HealthBook::showToolTip(int index, const QDateTime &now)
{
    m_list.setEntryToolTip(index, entryToolTip(record(index), now));
}

QString HealthBook::entryToolTip(const DisplayHealth &h, const QDateTime &now)
{
    QStringList lines{h.address};
    const QString since = clockTime(h.since);
    switch (h.state) {
    case DisplayHealth::State::Connected:
        lines << QStringLiteral("Connected since %1 (%2) · %3 · %4")
                     .arg(since, duration(h.since.secsTo(now)), roundTrip(h.rttMicros),
                          plural(h.framesSent, "frame", "frames"));
        break;
    case DisplayHealth::State::Failing: {
        QString line = QStringLiteral("Failing since %1").arg(since);
        if (!h.lastError.isEmpty())
            line += QStringLiteral(" · ") + h.lastError;
        line += QStringLiteral(" · ") + plural(h.errorCount, "error", "errors");
        if (h.lastRecoveryAt.isValid())
            line += QStringLiteral(" · recovery sent ") + clockTime(h.lastRecoveryAt);
        lines << line;
        break;
    }
    case DisplayHealth::State::Connecting:
        lines << QStringLiteral("Connecting since %1").arg(since);
        break;
    case DisplayHealth::State::MarkedByHand:
        lines << QStringLiteral("Marked by hand since %1 · not connected").arg(since);
        break;
    }
    if (!h.lastFrameText.isEmpty())
        lines << QStringLiteral("Last frame %1").arg(frameTime(h.lastFrameText));
    lines << QStringLiteral("Last hour: %1, %2")
                 .arg(plural(h.connectsLastHour, "connect", "connects"),
                      plural(h.lossesLastHour, "loss", "losses"));
    if (h.state != DisplayHealth::State::Failing && h.lastErrorAt.isValid())
        lines << QStringLiteral("Last error %1 · %2").arg(clockTime(h.lastErrorAt), h.lastError);
    return lines.join(QLatin1Char('\n'));
}

QString HealthBook::lampToolTip(const QList<DisplayHealth> &records)
{
    if (records.isEmpty())
        return QStringLiteral("No displays");
    QStringList down;
    int up = 0;
    for (const DisplayHealth &h : records) {
        if (h.state == DisplayHealth::State::Connected) {
            ++up;
            continue;
        }
        if (down.size() < kDownListed)
            down << QStringLiteral("%1 %2 since %3")
                        .arg(h.address, stateLabel(h.state), clockTime(h.since));
    }
    QStringList lines{QStringLiteral("%1 of %2 displays connected").arg(up).arg(records.size())};
    lines << down;
    const int more = int(records.size()) - up - int(down.size());
    if (more > 0)
        lines << QStringLiteral("and %1 more").arg(more);
    return lines.join(QLatin1Char('\n'));
}

#include "moc_healthbook.cpp"
