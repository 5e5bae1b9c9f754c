#include "aids/eventlog.h"

#include "controls/logarea.h"

#include <QLocale>
#include <QTextCursor>
#include <QTextDocument>

namespace logtext {

QString line(const QDateTime &when, QChar separator, const QString &message)
{
    const QDate date = when.date();
    const QTime time = when.time();
    const auto two
        = [](int value) { return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')); };
    return two(date.day()) + separator + two(date.month()) + separator + two(date.year() % 100)
           + QLatin1Char(' ') + two(time.hour()) + QLatin1Char(':') + two(time.minute())
           + QLatin1Char(':') + two(time.second()) + QLatin1Char(' ') + message
           + QLatin1String("\r\n");
}

QChar dateSeparator(const QLocale &locale)
{
    const QString format = locale.dateFormat(QLocale::ShortFormat);
    for (const QChar c : format) {
        // Quotes, blanks and invisible direction marks belong to the format, not the date.
        if (c.isLetterOrNumber() || c.isSpace() || c == QLatin1Char('\'') || !c.isPrint())
            continue;
        return c;
    }
    return QLatin1Char('/');
}

qsizetype storedLength(const QString &widgetText)
{
    return widgetText.size() + widgetText.count(QLatin1Char('\n'));
}

} // namespace logtext

EventLog::EventLog(LogArea *inpLog, QObject *parent)
    : QObject(parent), m_area(inpLog), m_clock([] { return QDateTime::currentDateTime(); }),
      m_separator(logtext::dateSeparator(QLocale::system()))
{
    connect(m_area, &LogArea::doubleClicked, this, &EventLog::INP_LOG_DblClick);
    // Appends would pile up in the undo history without bound.
    m_area->setUndoRedoEnabled(false);
}

QString EventLog::text() const
{
    QString stored = m_area->toPlainText();
    stored.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return stored;
}

void EventLog::setText(const QString &stored)
{
    // Plain text only: a message that looks like markup is shown as it is.
    m_area->setPlainText(stored);
}

void EventLog::LOG_APPEND(const QString &message)
{
    // The bound counts the old text and the message only, before the line is added.
    const bool clear = text().size() + message.size() >= logtext::kBound;
    // One reading of the clock, so date and time never straddle midnight.
    const QString line = logtext::line(m_clock(), m_separator, message);
    if (clear) {
        setText(line);
        return;
    }
    // Appended where the text ends, as joining old text and line would give, but
    // only the new line is laid out: a burst of socket errors stays cheap.
    QTextCursor end(m_area->document());
    end.movePosition(QTextCursor::End);
    end.insertText(line);
}

void EventLog::INP_LOG_DblClick()
{
    setText(QString());
}

#include "moc_eventlog.cpp"
