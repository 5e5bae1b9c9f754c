#pragma once

#include <QChar>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>

class QLocale;
class LogArea;

namespace logtext {

constexpr int kBound = 3000;

// "DD/MM/YY HH:MM:SS message" followed by CR LF, with the given date separator.
QString line(const QDateTime &when, QChar separator, const QString &message);

// The system's date separator: the first character of the locale's short date
// format that is neither digit nor letter; '/' where there is none.
QChar dateSeparator(const QLocale &locale);

// The log's length as stored: every line end counts as CR LF, two characters.
qsizetype storedLength(const QString &widgetText);

} // namespace logtext

// The on-screen event log: the text of INP_LOG, bounded to 3000 characters.
class EventLog : public QObject
{
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;

    // Wires the log area's double-click. The separator is the system's.
    explicit EventLog(LogArea *inpLog, QObject *parent = nullptr);

    void setClock(Clock clock) { m_clock = std::move(clock); }
    // The log's clock, for what must agree with the log's times.
    QDateTime now() const { return m_clock(); }
    void setDateSeparator(QChar separator) { m_separator = separator; }

    // The log's text as stored: line ends as CR LF.
    QString text() const;

    void LOG_APPEND(const QString &message);
    void INP_LOG_DblClick();

private:
    void setText(const QString &stored);

    LogArea *m_area;
    Clock m_clock;
    QChar m_separator;
};
