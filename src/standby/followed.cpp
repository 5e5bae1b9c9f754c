#include "standby/followed.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTime>

#include <algorithm>
#include <cmath>

namespace followed {

bool parseMain(const QString &text, MainAddress *out, QString *error)
{
    QString host;
    QString port;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QStringLiteral("]:"));
        if (close < 0) {
            *error = QStringLiteral("%1: give [IPV6]:PORT").arg(text);
            return false;
        }
        host = text.mid(1, close - 1);
        port = text.mid(close + 2);
    } else {
        const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
        if (colon < 0) {
            *error = QStringLiteral("%1: give HOST:PORT").arg(text);
            return false;
        }
        host = text.left(colon);
        port = text.mid(colon + 1);
    }
    const QHostAddress address(host);
    const bool v6 = text.startsWith(QLatin1Char('['));
    const auto protocol = v6 ? QAbstractSocket::IPv6Protocol : QAbstractSocket::IPv4Protocol;
    // Dotted quads only: "10.5" would be taken as 10.0.0.5.
    const bool quad = v6 || host.count(QLatin1Char('.')) == 3;
    if (address.isNull() || address.protocol() != protocol || !address.scopeId().isEmpty()
        || !quad) {
        *error = QStringLiteral("%1: %2 is no %3 address")
                     .arg(text, host, v6 ? QStringLiteral("IPv6") : QStringLiteral("IPv4"));
        return false;
    }
    bool ok = false;
    const uint number = port.toUInt(&ok);
    if (!ok || number == 0 || number > 65535 || port.startsWith(QLatin1Char('+'))) {
        *error = QStringLiteral("%1: the port must be 1 to 65535").arg(text);
        return false;
    }
    out->address = address;
    out->port = static_cast<quint16>(number);
    out->text = (v6 ? QLatin1Char('[') + address.toString() + QLatin1Char(']') : address.toString())
                + QLatin1Char(':') + QString::number(number);
    return true;
}

namespace {

// The main joins the three texts with ':'; a field may hold a ':' itself, so
// the split is the first one that gives three texts of at most two characters.
bool splitTime(const QString &time, std::array<QString, 3> *fields)
{
    const qsizetype n = time.size();
    for (qsizetype a = 0; a <= 2 && a < n; ++a) {
        if (time.at(a) != QLatin1Char(':'))
            continue;
        for (qsizetype b = a + 1; b <= a + 3 && b < n; ++b) {
            if (time.at(b) != QLatin1Char(':') || n - b - 1 > 2)
                continue;
            *fields = {time.left(a), time.mid(a + 1, b - a - 1), time.mid(b + 1)};
            return true;
        }
    }
    return false;
}

// Every member a state carries, with its type. A member added to the state is
// added here, and taken in fromJson below.
struct Member
{
    const char *name;
    QJsonValue::Type type;
};
constexpr Member kMembers[] = {
    {"time", QJsonValue::String},     {"frame", QJsonValue::String},
    {"running", QJsonValue::Bool},    {"title", QJsonValue::String},
    {"lamp", QJsonValue::String},     {"displays", QJsonValue::Array},
    {"role", QJsonValue::String},     {"following", QJsonValue::String},
    {"startsAt", QJsonValue::String}, {"term", QJsonValue::Double},
    {"standbys", QJsonValue::Array},  {"zones", QJsonValue::Object},
    {"zone", QJsonValue::String},     {"message", QJsonValue::Object},
    {"overtime", QJsonValue::String}, {"blackout", QJsonValue::Bool},
    {"length", QJsonValue::String},   {"cue", QJsonValue::Object},
};

bool isControl(QChar c)
{
    return c.category() == QChar::Other_Control || c == QChar::LineSeparator
           || c == QChar::ParagraphSeparator;
}

} // namespace

bool fromJson(const QByteArray &json, const Rules &rules, Followed *out)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject())
        return false;
    const QJsonObject o = document.object();
    for (const Member &m : kMembers) {
        if (o.value(QLatin1String(m.name)).type() != m.type)
            return false;
    }
    Followed f;
    if (!splitTime(o.value(QLatin1String("time")).toString(), &f.fields))
        return false;
    for (const QString &field : f.fields) {
        if (std::any_of(field.begin(), field.end(), isControl))
            return false;
    }
    f.running = o.value(QLatin1String("running")).toBool();
    for (const QChar c : o.value(QLatin1String("title")).toString()) {
        if (!isControl(c))
            f.title.append(c);
    }
    f.title.truncate(rules.titleLength);
    const QString lamp = o.value(QLatin1String("lamp")).toString();
    f.role = o.value(QLatin1String("role")).toString();
    if ((lamp != QLatin1String("green") && lamp != QLatin1String("red"))
        || (f.role != QLatin1String("main") && f.role != QLatin1String("standby")))
        return false;
    f.lampGreen = lamp == QLatin1String("green");
    f.startsAt = o.value(QLatin1String("startsAt")).toString();
    if (!f.startsAt.isEmpty()
        && !QTime::fromString(f.startsAt, QStringLiteral("HH:mm:ss")).isValid())
        return false;
    // A whole number a double holds exactly.
    const double term = o.value(QLatin1String("term")).toDouble();
    if (term < 0 || term > 9007199254740991.0 || term != std::floor(term))
        return false;
    f.term = static_cast<qint64>(term);
    const QJsonObject zones = o.value(QLatin1String("zones")).toObject();
    const QJsonObject message = o.value(QLatin1String("message")).toObject();
    // Inside the presenter's members too: the types only; their values are
    // checked as typed input where they are applied.
    if (!zones.value(QLatin1String("warning")).isString()
        || !zones.value(QLatin1String("danger")).isString()
        || !message.value(QLatin1String("text")).isString()
        || !message.value(QLatin1String("visible")).isBool())
        return false;
    f.warning = zones.value(QLatin1String("warning")).toString();
    f.danger = zones.value(QLatin1String("danger")).toString();
    f.hasMessage = message.value(QLatin1String("text")).isString();
    f.message = message.value(QLatin1String("text")).toString();
    f.messageVisible = message.value(QLatin1String("visible")).toBool(true);
    f.blackout = o.value(QLatin1String("blackout")).toBool();
    const QJsonArray displays = o.value(QLatin1String("displays")).toArray();
    if (displays.size() > rules.maxEntries)
        return false;
    for (const QJsonValue &d : displays) {
        const QJsonValue address = d.toObject().value(QLatin1String("address"));
        if (!address.isString())
            return false;
        const QString text = address.toString();
        if (text.size() > rules.entryLength || std::any_of(text.begin(), text.end(), isControl))
            return false;
        f.list.append(text);
    }
    // The running order's place: whole numbers within bounds (the list itself is
    // fetched apart, when the revision changes).
    const QJsonObject cue = o.value(QLatin1String("cue")).toObject();
    const double index = cue.value(QLatin1String("index")).toDouble(-1);
    const double revision = cue.value(QLatin1String("revision")).toDouble(-1);
    if (index < 0 || index > 1e6 || index != std::floor(index) || revision < 0 || revision > 2e9
        || revision != std::floor(revision))
        return false;
    f.cueIndex = int(index);
    f.cueRevision = int(revision);
    *out = f;
    return true;
}

Verdict judge(qint64 ownTerm, const QString &theirRole, qint64 theirTerm)
{
    if (theirRole != QLatin1String("main") || theirTerm < ownTerm)
        return Verdict::Keep;
    return theirTerm > ownTerm ? Verdict::StepDown : Verdict::SameTerm;
}

int secondsNow(int pushedSeconds, qint64 msSincePush)
{
    const qint64 left = qint64(pushedSeconds) - qMax<qint64>(0, msSincePush) / 1000;
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace followed
