#include "rundown/runningorder.h"

#include "core/cfgfile.h"

#include <QFile>
#include <QFileInfo>

RunningOrder::RunningOrder(Hooks hooks, QObject *parent)
    : QObject(parent), m_hooks(std::move(hooks))
{
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(0);
    connect(&m_saveTimer, &QTimer::timeout, this, &RunningOrder::saveLoaded);
}

void RunningOrder::flushSaves()
{
    if (!m_saveTimer.isActive())
        return;
    m_saveTimer.stop();
    saveLoaded();
}

void RunningOrder::saveLoaded()
{
    if (m_hooks.saveTitle)
        m_hooks.saveTitle();
    saveCurrent();
}

void RunningOrder::setFileNames(const QString &list, const QString &current)
{
    m_fileName = list;
    m_currentFileName = current;
}

void RunningOrder::log(const QString &message) const
{
    if (m_hooks.log)
        m_hooks.log(message);
}

QString RunningOrder::titleAt(int index) const
{
    return index >= 1 && index <= count() ? m_segments[index - 1].title : QString();
}

void RunningOrder::load()
{
    QFile file(m_fileName);
    if (!QFileInfo(m_fileName).isFile())
        return; // no running order: the console runs as it always has
    const QString name = QFileInfo(m_fileName).fileName() + QStringLiteral("= ");
    if (!file.open(QIODevice::ReadOnly)) {
        log(name + file.errorString());
        return;
    }
    // One byte more than the parser takes, so a larger file is refused, not cut.
    const QByteArray bytes = file.read(rundown::kMaxFileBytes + 1);
    const rundown::Parsed p
        = rundown::parseCsv(bytes, m_hooks.maxTitle ? m_hooks.maxTitle() : 32767);
    for (const QString &notice : p.notices)
        log(name + notice);
    if (!p.ok) {
        log(name + p.error);
        return;
    }

    // The current segment as it was saved, if the list still has it there.
    int current = 0;
    QFile cur(m_currentFileName);
    if (cur.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = cur.read(4096).split('\n');
        const int index = lines.value(0).trimmed().toInt();
        const QString title
            = QString::fromUtf8(lines.value(1)).chopped(lines.value(1).endsWith('\r') ? 1 : 0);
        if (index >= 1 && index <= p.segments.size() && p.segments[index - 1].title == title)
            current = index;
    }
    take(p.segments, current);
    log(name + QStringLiteral("%1 segments").arg(count()));
}

RunningOrder::Replaced RunningOrder::replace(const QByteArray &bytes, Format format,
                                             const QString &source, QString *why)
{
    if (m_following) {
        *why = QStringLiteral("a standby takes its running order from its main");
        return Replaced::Refused;
    }
    const int maxTitle = m_hooks.maxTitle ? m_hooks.maxTitle() : 32767;
    const rundown::Parsed p = format == Format::Csv ? rundown::parseCsv(bytes, maxTitle)
                                                    : rundown::parseJson(bytes, maxTitle);
    if (!p.ok) {
        *why = p.error;
        return Replaced::Refused;
    }
    // The operator's own file as it came, with its columns; JSON as a spreadsheet opens it.
    QString reason;
    if (!cfgfile::save(m_fileName, format == Format::Csv ? bytes : rundown::toCsv(p.segments),
                       &reason)) {
        *why = QFileInfo(m_fileName).fileName() + QStringLiteral(" not saved: ") + reason;
        log(QFileInfo(m_fileName).fileName() + QStringLiteral("= ") + reason);
        return Replaced::NotSaved;
    }
    const QString head = source.isEmpty() ? QString() : source + QStringLiteral("= ");
    for (const QString &notice : p.notices)
        log(head + notice);
    // A corrected list keeps the show where it is; another list starts before its first.
    const int current = m_current >= 1 && m_current <= p.segments.size()
                                && p.segments[m_current - 1].title == titleAt(m_current)
                            ? m_current
                            : 0;
    take(p.segments, current);
    saveCurrent();
    log(head + QStringLiteral("RUNDOWN %1 segments").arg(count()));
    return Replaced::Ok;
}

QString RunningOrder::cue(int index, bool run, const QString &source)
{
    if (m_following)
        return QStringLiteral("a standby follows its main's cues");
    if (m_segments.isEmpty())
        return QStringLiteral("no running order loaded");
    if (index < 1 || index > count())
        return QStringLiteral("cue %1 out of range: 1-%2").arg(index).arg(count());
    const rundown::Segment s = m_segments[index - 1];
    // The line first, so the log reads cause before effect.
    log((source.isEmpty() ? QString() : source + QStringLiteral("= "))
        + QStringLiteral("CUE %1/%2 \"%3\"").arg(index).arg(count()).arg(s.title));
    m_current = index;
    // The displays first, the title after: it is not on the wire.
    if (s.duration >= 0) {
        if (m_hooks.setTime)
            m_hooks.setTime(s.duration);
        if (run && m_hooks.run)
            m_hooks.run();
    } else {
        // Running first: the count to a time of day moves the next tick onto its second.
        if (run && m_hooks.run)
            m_hooks.run();
        if (m_hooks.until)
            m_hooks.until(s.until);
    }
    if (m_hooks.setTitle)
        m_hooks.setTitle(s.title);
    m_saveTimer.start();
    emit changed();
    return QString();
}

QString RunningOrder::step(int delta, bool run, const QString &source)
{
    if (m_segments.isEmpty())
        return QStringLiteral("no running order loaded");
    const int index = m_current + delta;
    if (index > count())
        return QStringLiteral("no next segment after %1/%2").arg(m_current).arg(count());
    if (index < 1)
        return QStringLiteral("no previous segment before %1/%2").arg(m_current).arg(count());
    return cue(index, run, source);
}

void RunningOrder::reachedZero()
{
    if (m_current < 1 || m_current >= count() || !m_segments[m_current - 1].autoNext)
        return;
    cue(m_current + 1, true, QStringLiteral("AUTO"));
}

void RunningOrder::follow(const QList<rundown::Segment> &segments, int current)
{
    if (segments == m_segments && current == m_current)
        return;
    take(segments, current >= 0 && current <= segments.size() ? current : 0);
}

bool RunningOrder::save()
{
    QString reason;
    if (!cfgfile::save(m_fileName, rundown::toCsv(m_segments), &reason)) {
        log(QFileInfo(m_fileName).fileName() + QStringLiteral("= ") + reason);
        return false;
    }
    saveCurrent();
    return true;
}

QByteArray RunningOrder::json() const
{
    return rundown::toJson(m_segments, m_current);
}

void RunningOrder::take(const QList<rundown::Segment> &segments, int current)
{
    if (segments != m_segments)
        ++m_revision;
    m_segments = segments;
    m_current = current;
    emit changed();
}

void RunningOrder::saveCurrent()
{
    // Its own small file: the operator's list is never rewritten for a cue.
    const QByteArray content
        = QByteArray::number(m_current) + "\r\n" + titleAt(m_current).toUtf8() + "\r\n";
    QString reason;
    if (!cfgfile::save(m_currentFileName, content, &reason))
        log(QFileInfo(m_currentFileName).fileName() + QStringLiteral("= ") + reason);
}

#include "moc_runningorder.cpp"
