#include "core/rundown.h"

#include "core/ansi.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QStringDecoder>

#include <array>

namespace rundown {
namespace {

enum Column { TitleColumn, DurationColumn, UntilColumn, NoteColumn, AutoColumn, ColumnCount };
const std::array<const char *, ColumnCount> kColumnNames{"title", "duration", "until", "note",
                                                         "auto"};

// One segment's fields as they came, before any check.
struct RawSegment
{
    std::array<QString, ColumnCount> fields;
};

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// Line breaks and other control characters would break the title's one line
// and the log's; a note keeps its line breaks. Half a surrogate pair, which
// JSON can carry, could not be saved as UTF-8.
QString cleaned(const QString &text, bool keepLineBreaks)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
            continue; // the LF that follows stands for both
        const bool lineBreak = c == QLatin1Char('\n') || c == QLatin1Char('\r');
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out.append(c);
            out.append(text.at(++i));
        } else if (c.isSurrogate()) {
            out.append(QChar(QChar::ReplacementCharacter)); // half a character, from JSON
        } else if (lineBreak && keepLineBreaks)
            out.append(QLatin1Char('\n'));
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            out.append(QLatin1Char(' '));
        else
            out.append(c);
    }
    return out;
}

// The checks every segment passes, however it came. `where` is "row 4" or "item 4".
bool checkSegment(const RawSegment &raw, const QString &where, int maxTitle, Segment *out,
                  QString *error, QStringList *notices)
{
    const auto fail = [&](Column column, const QString &why) {
        *error = where + QStringLiteral(", ") + QLatin1String(kColumnNames[column])
                 + QStringLiteral(": ") + why;
        return false;
    };
    Segment s;
    s.title = cleaned(raw.fields[TitleColumn], false).trimmed();
    if (s.title.size() > maxTitle) {
        s.title.truncate(maxTitle);
        if (!s.title.isEmpty() && s.title.back().isHighSurrogate())
            s.title.chop(1); // not half a character
        s.title = s.title.trimmed();
        notices->append(where
                        + QStringLiteral(", title: cut at %1 characters, the title field's length")
                              .arg(maxTitle));
    }
    const QString duration = raw.fields[DurationColumn].trimmed();
    const QString until = raw.fields[UntilColumn].trimmed();
    if (!duration.isEmpty() && !until.isEmpty())
        return fail(UntilColumn, QStringLiteral("give a duration or an until, not both"));
    if (duration.isEmpty() && until.isEmpty())
        return fail(DurationColumn, QStringLiteral("empty; give a duration or an until"));
    if (!duration.isEmpty()) {
        s.duration = parseTime(duration, TwoParts::MinutesSeconds);
        if (s.duration < 0)
            return fail(DurationColumn, quoted(duration) + QStringLiteral(" is no time"));
        if (s.duration == 0)
            return fail(DurationColumn, quoted(duration) + QStringLiteral(" is zero"));
    } else {
        s.until = parseTime(until, TwoParts::HoursMinutes);
        if (s.until < 0)
            return fail(UntilColumn, quoted(until) + QStringLiteral(" is no time of day"));
    }
    s.note = cleaned(raw.fields[NoteColumn], true).trimmed();
    if (s.note.size() > kMaxNote)
        return fail(NoteColumn, QStringLiteral("longer than %1 characters").arg(kMaxNote));
    const QString autoText = raw.fields[AutoColumn].trimmed();
    if (autoText.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0)
        s.autoNext = true;
    else if (!autoText.isEmpty())
        return fail(AutoColumn, quoted(autoText) + QStringLiteral(" is not yes or empty"));
    *out = s;
    return true;
}

Parsed failed(const QString &error)
{
    Parsed p;
    p.error = error;
    return p;
}

// The file's text: UTF-8 without its byte-order mark, or Windows-1252 when it
// is no UTF-8 (a spreadsheet's plain CSV in a western locale).
QString decoded(const QByteArray &bytes)
{
    QByteArray body = bytes;
    if (body.startsWith("\xEF\xBB\xBF"))
        body.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(body);
    return utf8.hasError() ? ansi::decode(body) : text;
}

// A CSV record: its fields, and whether a quote was left open at the end.
struct Record
{
    QStringList fields;
    int row = 0;
    bool unclosed = false;
};

// The separator the header row uses: the first `,` or `;` outside quotes.
QChar separatorOf(const QString &text)
{
    bool inQuotes = false;
    for (const QChar c : text) {
        if (c == QLatin1Char('"'))
            inQuotes = !inQuotes;
        else if (!inQuotes && (c == QLatin1Char(',') || c == QLatin1Char(';')))
            return c;
        else if (!inQuotes && (c == QLatin1Char('\r') || c == QLatin1Char('\n')))
            break;
    }
    return QChar();
}

QList<Record> records(const QString &text, QChar separator)
{
    QList<Record> out;
    Record record;
    QString field;
    bool inQuotes = false;
    bool fieldStarted = false; // a record holds a field once anything of it is seen
    int row = 1;
    record.row = row;
    const auto endField = [&] {
        record.fields.append(field);
        field.clear();
        fieldStarted = false;
    };
    const auto endRecord = [&] {
        if (fieldStarted || !record.fields.isEmpty())
            endField();
        out.append(record);
        record = Record();
        record.row = ++row;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (inQuotes) {
            if (c != QLatin1Char('"')) {
                field.append(c);
            } else if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                field.append(c);
                ++i;
            } else {
                inQuotes = false;
            }
            continue;
        }
        if (c == QLatin1Char('"') && field.isEmpty()) {
            inQuotes = true;
            fieldStarted = true;
        } else if (c == separator) {
            endField();
            fieldStarted = true; // a separator always opens a next field
        } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            if (c == QLatin1Char('\r') && i + 1 < text.size()
                && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            endRecord();
        } else {
            field.append(c);
            fieldStarted = true;
        }
    }
    if (inQuotes)
        record.unclosed = true;
    if (fieldStarted || !record.fields.isEmpty() || inQuotes)
        endRecord();
    return out;
}

bool blank(const QStringList &fields)
{
    for (const QString &f : fields) {
        if (!f.trimmed().isEmpty())
            return false;
    }
    return true;
}

} // namespace

int parseTime(const QString &text, TwoParts twoParts)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 2 && parts.size() != 3)
        return -1;
    int v[3] = {0, 0, 0};
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString &p = parts[i];
        if (p.isEmpty() || p.size() > 2)
            return -1;
        for (const QChar c : p) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return -1;
        }
        v[i] = p.toInt();
    }
    int h = v[0], m = v[1], s = v[2];
    if (parts.size() == 2 && twoParts == TwoParts::MinutesSeconds) {
        h = 0;
        m = v[0];
        s = v[1];
    }
    if (h > 23 || m > 59 || s > 59)
        return -1;
    return h * 3600 + m * 60 + s;
}

QString timeText(int seconds)
{
    if (seconds < 0)
        return QString();
    const auto two = [](int v) { return QString::number(v).rightJustified(2, QLatin1Char('0')); };
    return two(seconds / 3600) + QLatin1Char(':') + two(seconds / 60 % 60) + QLatin1Char(':')
           + two(seconds % 60);
}

Parsed parseCsv(const QByteArray &bytes, int maxTitle)
{
    if (bytes.size() > kMaxFileBytes)
        return failed(QStringLiteral("larger than %1 bytes").arg(kMaxFileBytes));
    const QString text = decoded(bytes);
    const QChar separator = separatorOf(text);
    if (separator.isNull())
        return failed(QStringLiteral("row 1: the header must name the columns, title and "
                                     "duration or until, separated by , or ;"));
    const QList<Record> all = records(text, separator);

    // Which field holds which column; other columns are the spreadsheet's own.
    std::array<int, ColumnCount> at;
    at.fill(-1);
    const QStringList header = all.first().fields;
    for (qsizetype i = 0; i < header.size(); ++i) {
        const QString name = header[i].trimmed().toLower();
        for (int c = 0; c < ColumnCount; ++c) {
            if (name != QLatin1String(kColumnNames[c]))
                continue;
            if (at[c] >= 0)
                return failed(QStringLiteral("row 1, %1: named twice").arg(name));
            at[c] = int(i);
        }
    }
    if (at[TitleColumn] < 0)
        return failed(QStringLiteral("row 1: no title column"));
    if (at[DurationColumn] < 0 && at[UntilColumn] < 0)
        return failed(QStringLiteral("row 1: no duration or until column"));

    Parsed p;
    for (qsizetype r = 1; r < all.size(); ++r) {
        const Record &record = all[r];
        const QString where = QStringLiteral("row %1").arg(record.row);
        if (record.unclosed)
            return failed(where + QStringLiteral(": a quote is not closed"));
        if (blank(record.fields))
            continue; // the empty rows below a spreadsheet's table
        for (qsizetype i = header.size(); i < record.fields.size(); ++i) {
            if (!record.fields[i].trimmed().isEmpty())
                return failed(where
                              + QStringLiteral(": %1 fields, the header names %2")
                                    .arg(record.fields.size())
                                    .arg(header.size()));
        }
        if (p.segments.size() == kMaxSegments)
            return failed(where + QStringLiteral(": more than %1 segments").arg(kMaxSegments));
        RawSegment raw;
        for (int c = 0; c < ColumnCount; ++c) {
            if (at[c] >= 0 && at[c] < record.fields.size())
                raw.fields[c] = record.fields[at[c]];
        }
        Segment s;
        if (!checkSegment(raw, where, maxTitle, &s, &p.error, &p.notices))
            return failed(p.error);
        p.segments.append(s);
    }
    p.ok = true;
    return p;
}

Parsed parseJson(const QByteArray &bytes, int maxTitle)
{
    if (bytes.size() > kMaxFileBytes)
        return failed(QStringLiteral("larger than %1 bytes").arg(kMaxFileBytes));
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &err);
    if (err.error != QJsonParseError::NoError)
        return failed(QStringLiteral("malformed JSON: %1 at offset %2")
                          .arg(err.errorString())
                          .arg(err.offset));
    const QJsonValue items = doc.object().value(QLatin1String("items"));
    if (!doc.isObject() || !items.isArray())
        return failed(QStringLiteral("the body must be {\"items\":[...]}"));
    const QJsonArray array = items.toArray();
    Parsed p;
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QString where = QStringLiteral("item %1").arg(i + 1);
        if (i == kMaxSegments)
            return failed(where + QStringLiteral(": more than %1 segments").arg(kMaxSegments));
        if (!array[i].isObject())
            return failed(where + QStringLiteral(": must be an object"));
        const QJsonObject o = array[i].toObject();
        RawSegment raw;
        for (int c = 0; c < ColumnCount; ++c) {
            const QJsonValue v = o.value(QLatin1String(kColumnNames[c]));
            if (c == AutoColumn) {
                if (!v.isUndefined() && !v.isBool())
                    return failed(where + QStringLiteral(", auto: must be true or false"));
                raw.fields[c] = v.toBool() ? QStringLiteral("yes") : QString();
            } else if (v.isString()) {
                raw.fields[c] = v.toString();
            } else if (!v.isUndefined() && !v.isNull()) {
                return failed(where
                              + QStringLiteral(", %1: must be a string").arg(kColumnNames[c]));
            }
        }
        Segment s;
        if (!checkSegment(raw, where, maxTitle, &s, &p.error, &p.notices))
            return failed(p.error);
        p.segments.append(s);
    }
    p.ok = true;
    return p;
}

QByteArray toCsv(const QList<Segment> &segments)
{
    const auto field = [](const QString &text) {
        const bool quote = text.contains(QLatin1Char(',')) || text.contains(QLatin1Char(';'))
                           || text.contains(QLatin1Char('"')) || text.contains(QLatin1Char('\n'))
                           || text != text.trimmed();
        if (!quote)
            return text;
        QString t = text;
        t.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        return quoted(t);
    };
    QString out = QStringLiteral("title,duration,until,note,auto\r\n");
    for (const Segment &s : segments) {
        QString note = s.note;
        note.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
        out += field(s.title) + QLatin1Char(',') + timeText(s.duration) + QLatin1Char(',')
               + timeText(s.until) + QLatin1Char(',') + field(note) + QLatin1Char(',')
               + (s.autoNext ? QStringLiteral("yes") : QString()) + QStringLiteral("\r\n");
    }
    return "\xEF\xBB\xBF" + out.toUtf8();
}

QByteArray toJson(const QList<Segment> &segments, int current)
{
    QJsonArray items;
    for (const Segment &s : segments) {
        items.append(QJsonObject{
            {QStringLiteral("title"), s.title},
            {QStringLiteral("duration"), timeText(s.duration)},
            {QStringLiteral("until"), timeText(s.until)},
            {QStringLiteral("note"), s.note},
            {QStringLiteral("auto"), s.autoNext},
        });
    }
    const QJsonObject o{{QStringLiteral("items"), items}, {QStringLiteral("current"), current}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace rundown
