#include "remote/command.h"

#include "remote/zones.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QList>

#include <cmath>
#include <limits>

QString Command::logText() const
{
    auto two = [](int v) { return QString::number(v).rightJustified(2, QLatin1Char('0')); };
    switch (kind) {
    case Kind::SetTime:
        return QStringLiteral("TIME %1:%2:%3").arg(two(hours), two(minutes), two(seconds));
    case Kind::Run:
        return QStringLiteral("RUN");
    case Kind::Pause:
        return QStringLiteral("PAUSE");
    case Kind::Reset:
        return QStringLiteral("RESET");
    case Kind::Nudge:
        return QStringLiteral("NUDGE %1%2")
            .arg(seconds < 0 ? QLatin1Char('-') : QLatin1Char('+'))
            .arg(std::abs(seconds));
    case Kind::Until:
        return QStringLiteral("UNTIL %1:%2:%3").arg(two(hours), two(minutes), two(seconds));
    case Kind::RunAt:
        return QStringLiteral("RUN AT %1:%2:%3").arg(two(hours), two(minutes), two(seconds));
    case Kind::Disarm:
        return QStringLiteral("DISARM");
    case Kind::Zones:
        return QStringLiteral("ZONES %1 %2").arg(zones::text(warning), zones::text(danger));
    case Kind::Message:
        if (visible == 0)
            return QStringLiteral("MESSAGE HIDDEN");
        // Quoted, a quote doubled: the line shows where the text begins and ends.
        return QStringLiteral("MESSAGE \"%1\"")
            .arg(QString(text).replace(QLatin1Char('"'), QStringLiteral("\"\"")));
    case Kind::Blackout:
        return on ? QStringLiteral("BLACKOUT ON") : QStringLiteral("BLACKOUT OFF");
    case Kind::Cue:
        // The running order logs the cue itself, with the segment it loaded.
        if (cueStep != 0)
            return cueStep > 0 ? QStringLiteral("CUE +1") : QStringLiteral("CUE -1");
        return QStringLiteral("CUE %1").arg(cueIndex);
    }
    return QString();
}

namespace remotecmd {
namespace {

Command simple(Command::Kind kind)
{
    Command c;
    c.kind = kind;
    return c;
}

Parsed timeCommand(int h, int m, int s)
{
    Command c;
    c.kind = Command::Kind::SetTime;
    c.hours = h;
    c.minutes = m;
    c.seconds = s;
    return Parsed::of(c);
}

// A JSON number that is a whole number within [lo, hi]; false for anything else.
bool wholeNumber(const QJsonValue &v, int lo, int hi, int *out)
{
    if (!v.isDouble())
        return false;
    const double d = v.toDouble();
    if (!std::isfinite(d) || d != std::floor(d) || d < lo || d > hi)
        return false;
    *out = static_cast<int>(d);
    return true;
}

// The body as a JSON object; an empty body is an empty object.
bool jsonObject(const QByteArray &body, QJsonObject *out, QString *error)
{
    if (body.trimmed().isEmpty()) {
        *out = QJsonObject();
        return true;
    }
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &err);
    if (err.error != QJsonParseError::NoError) {
        *error = QStringLiteral("malformed JSON: %1 at offset %2")
                     .arg(err.errorString())
                     .arg(err.offset);
        return false;
    }
    if (!doc.isObject()) {
        *error = QStringLiteral("the body must be a JSON object");
        return false;
    }
    *out = doc.object();
    return true;
}

QByteArray pathOf(const QByteArray &target)
{
    const qsizetype q = target.indexOf('?');
    return q < 0 ? target : target.left(q);
}

} // namespace

Parsed parseTimeText(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 3)
        return Parsed::fail(400, QStringLiteral("time must be \"HH:MM:SS\""));
    int v[3] = {0, 0, 0};
    const int max[3] = {kMaxHours, 59, 59};
    for (int i = 0; i < 3; ++i) {
        const QString &p = parts[i];
        if (p.isEmpty() || p.size() > 2)
            return Parsed::fail(400, QStringLiteral("time must be \"HH:MM:SS\""));
        for (QChar c : p) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return Parsed::fail(400, QStringLiteral("time must be \"HH:MM:SS\""));
        }
        v[i] = p.toInt();
        if (v[i] > max[i])
            return Parsed::fail(
                400, QStringLiteral("time out of range: hours 0-23, minutes and seconds 0-59"));
    }
    return timeCommand(v[0], v[1], v[2]);
}

Parsed parseTimeOfDay(const QString &text, Command::Kind kind)
{
    Parsed p = parseTimeText(text);
    if (!p.ok)
        return p;
    if (p.command.hours > 23)
        return Parsed::fail(
            400, QStringLiteral("time of day out of range: hours 0-23, minutes and seconds 0-59"));
    p.command.kind = kind;
    return p;
}

QString messageError(const QString &text)
{
    int characters = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        char32_t code = c.unicode();
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            code = QChar::surrogateToUcs4(c, text.at(i + 1));
            ++i;
        } else if (c.isSurrogate()) {
            return QStringLiteral("the message holds half of a surrogate pair");
        }
        const QChar::Category cat = QChar::category(code);
        if (cat == QChar::Other_Control || cat == QChar::Separator_Line
            || cat == QChar::Separator_Paragraph)
            return QStringLiteral("the message may not hold control characters or line breaks");
        ++characters;
    }
    if (characters > kMaxMessage)
        return QStringLiteral("the message holds more than %1 characters").arg(kMaxMessage);
    return QString();
}

namespace {

// A threshold "HH:MM:SS" in seconds; false with the reason.
bool threshold(const QString &name, const QJsonValue &v, int *out, QString *error)
{
    if (!v.isString()) {
        *error = QStringLiteral("%1 must be a string \"HH:MM:SS\"").arg(name);
        return false;
    }
    const Parsed p = parseTimeText(v.toString());
    if (!p.ok) {
        *error = name + QStringLiteral(": ") + p.error;
        return false;
    }
    *out = 3600 * p.command.hours + 60 * p.command.minutes + p.command.seconds;
    return true;
}

Parsed zonesCommand(int warning, int danger)
{
    Command c;
    c.kind = Command::Kind::Zones;
    c.warning = warning;
    c.danger = danger;
    // With both given the pair is checked here; with one, against the other's
    // current value where it is carried out.
    if (warning >= 0 && danger >= 0) {
        const QString why = zones::conflict({warning, danger});
        if (!why.isEmpty())
            return Parsed::fail(400, why);
    }
    return Parsed::of(c);
}

Parsed messageCommand(bool hasText, const QString &text, int visible)
{
    if (hasText) {
        const QString why = messageError(text);
        if (!why.isEmpty())
            return Parsed::fail(400, why);
    }
    Command c;
    c.kind = Command::Kind::Message;
    c.text = text;
    c.hasText = hasText;
    c.visible = visible;
    return Parsed::of(c);
}

Parsed blackoutCommand(bool on)
{
    Command c;
    c.kind = Command::Kind::Blackout;
    c.on = on;
    return Parsed::of(c);
}

} // namespace

Parsed parseCommandBody(const QByteArray &path, const QByteArray &body)
{
    if (body.size() > kMaxBody)
        return Parsed::fail(413, QStringLiteral("body larger than %1 bytes").arg(kMaxBody));
    QJsonObject o;
    QString error;
    if (!jsonObject(body, &o, &error))
        return Parsed::fail(400, error);

    if (path == "/api/run") {
        if (!o.contains(QLatin1String("at")))
            return Parsed::of(simple(Command::Kind::Run));
        const QJsonValue at = o.value(QLatin1String("at"));
        if (!at.isString())
            return Parsed::fail(400, QStringLiteral("at must be a string \"HH:MM:SS\""));
        return parseTimeOfDay(at.toString(), Command::Kind::RunAt);
    }
    if (path == "/api/disarm")
        return Parsed::of(simple(Command::Kind::Disarm));
    if (path == "/api/pause")
        return Parsed::of(simple(Command::Kind::Pause));
    if (path == "/api/reset")
        return Parsed::of(simple(Command::Kind::Reset));
    if (path == "/api/time") {
        if (o.contains(QLatin1String("until"))) {
            const QJsonValue u = o.value(QLatin1String("until"));
            if (o.contains(QLatin1String("time")) || o.contains(QLatin1String("hours"))
                || o.contains(QLatin1String("minutes")) || o.contains(QLatin1String("seconds")))
                return Parsed::fail(400, QStringLiteral("give either \"until\" or a time"));
            if (!u.isString())
                return Parsed::fail(400, QStringLiteral("until must be a string \"HH:MM:SS\""));
            return parseTimeOfDay(u.toString(), Command::Kind::Until);
        }
        if (o.contains(QLatin1String("time"))) {
            const QJsonValue t = o.value(QLatin1String("time"));
            if (!t.isString())
                return Parsed::fail(400, QStringLiteral("time must be a string \"HH:MM:SS\""));
            return parseTimeText(t.toString());
        }
        // Or the three parts as numbers; a missing part is 0.
        static const char *const names[3] = {"hours", "minutes", "seconds"};
        const int max[3] = {kMaxHours, 59, 59};
        int v[3] = {0, 0, 0};
        bool any = false;
        for (int i = 0; i < 3; ++i) {
            const QLatin1String name(names[i]);
            if (!o.contains(name))
                continue;
            any = true;
            if (!wholeNumber(o.value(name), 0, max[i], &v[i]))
                return Parsed::fail(
                    400,
                    QStringLiteral("%1 must be a whole number from 0 to %2").arg(name).arg(max[i]));
        }
        if (!any)
            return Parsed::fail(
                400, QStringLiteral("give \"time\": \"HH:MM:SS\", or hours, minutes and seconds"));
        return timeCommand(v[0], v[1], v[2]);
    }
    if (path == "/api/cue")
        return parseCueBody(body);
    if (path == "/api/nudge") {
        const QJsonValue s = o.value(QLatin1String("seconds"));
        if (s.isUndefined())
            return Parsed::fail(400, QStringLiteral("give \"seconds\": N"));
        int n = 0;
        if (!wholeNumber(s, -kMaxNudge, kMaxNudge, &n))
            return Parsed::fail(400, QStringLiteral("seconds must be a whole number from %1 to %2")
                                         .arg(-kMaxNudge)
                                         .arg(kMaxNudge));
        Command c = simple(Command::Kind::Nudge);
        c.seconds = n;
        return Parsed::of(c);
    }
    if (path == "/api/zones") {
        int values[2] = {-1, -1};
        static const char *const names[2] = {"warning", "danger"};
        for (int i = 0; i < 2; ++i) {
            const QLatin1String name(names[i]);
            if (!o.contains(name))
                continue;
            if (!threshold(name, o.value(name), &values[i], &error))
                return Parsed::fail(400, error);
        }
        if (values[0] < 0 && values[1] < 0)
            return Parsed::fail(400,
                                QStringLiteral("give \"warning\" or \"danger\": \"HH:MM:SS\""));
        return zonesCommand(values[0], values[1]);
    }
    if (path == "/api/message") {
        const QJsonValue t = o.value(QLatin1String("text"));
        const QJsonValue v = o.value(QLatin1String("visible"));
        if (t.isUndefined() && v.isUndefined())
            return Parsed::fail(400, QStringLiteral("give \"text\" or \"visible\""));
        if (!t.isUndefined() && !t.isString())
            return Parsed::fail(400, QStringLiteral("text must be a string"));
        if (!v.isUndefined() && !v.isBool())
            return Parsed::fail(400, QStringLiteral("visible must be true or false"));
        return messageCommand(!t.isUndefined(), t.toString(),
                              v.isUndefined() ? -1 : int(v.toBool()));
    }
    if (path == "/api/blackout") {
        const QJsonValue on = o.value(QLatin1String("on"));
        if (!on.isBool())
            return Parsed::fail(400, QStringLiteral("give \"on\": true or false"));
        return blackoutCommand(on.toBool());
    }
    return Parsed::fail(404, QStringLiteral("no such path"));
}

namespace {

struct Entry
{
    const char *path;
    const char *method;
    Route::Kind kind;
};

const Entry *entryFor(const QByteArray &path, const QByteArray &method)
{
    static const Entry table[] = {
        {"/", "GET", Route::Kind::DisplayPage},
        {"/control", "GET", Route::Kind::ControlPage},
        {"/api/state", "GET", Route::Kind::State},
        {"/api/ws", "GET", Route::Kind::Push},
        {"/api/time", "POST", Route::Kind::Command},
        {"/api/run", "POST", Route::Kind::Command},
        {"/api/pause", "POST", Route::Kind::Command},
        {"/api/reset", "POST", Route::Kind::Command},
        {"/api/nudge", "POST", Route::Kind::Command},
        {"/api/disarm", "POST", Route::Kind::Command},
        {"/presenter", "GET", Route::Kind::PresenterPage},
        {"/api/zones", "POST", Route::Kind::Command},
        {"/api/message", "POST", Route::Kind::Command},
        {"/api/blackout", "POST", Route::Kind::Command},
        {"/api/cue", "POST", Route::Kind::Command},
        {"/api/rundown", "GET", Route::Kind::Rundown},
        {"/api/rundown", "PUT", Route::Kind::RundownPut},
    };
    // The entry for this method, else the path's first (a 405 names its methods).
    const Entry *found = nullptr;
    for (const Entry &e : table) {
        if (path == e.path && (!found || method == e.method))
            found = &e;
    }
    return found;
}

// The methods a path takes, for the Allow field.
QByteArray methodsOf(const QByteArray &path)
{
    QByteArray out;
    for (const char *m : {"GET", "POST", "PUT"}) {
        const Entry *e = entryFor(path, m);
        if (e && e->method == QByteArray(m))
            out += (out.isEmpty() ? "" : ", ") + QByteArray(m);
    }
    return out;
}

} // namespace

bool isCommand(const QByteArray &method, const QByteArray &target)
{
    const Entry *e = entryFor(pathOf(target), method);
    return e && (e->kind == Route::Kind::Command || e->kind == Route::Kind::RundownPut)
           && method == e->method;
}

Route route(const QByteArray &method, const QByteArray &target, const QByteArray &body)
{
    Route r;
    const QByteArray path = pathOf(target);
    const Entry *e = entryFor(path, method);
    if (!e) {
        r.parsed = Parsed::fail(404, QStringLiteral("no such path"));
        return r;
    }
    if (method != e->method) {
        r.allow = methodsOf(path);
        r.parsed = Parsed::fail(
            405, QStringLiteral("%1 takes %2 only")
                     .arg(QString::fromLatin1(e->path), QString::fromLatin1(r.allow)));
        return r;
    }
    r.kind = e->kind;
    if (e->kind == Route::Kind::Command) {
        r.parsed = parseCommandBody(path, body);
        if (!r.parsed.ok)
            r.kind = Route::Kind::None;
    } else {
        r.parsed.ok = true;
        r.parsed.status = 200;
    }
    return r;
}

Parsed parseOsc(const QByteArray &path, const QList<OscArg> &args)
{
    auto noArgs = [&](Command::Kind kind) {
        // Some senders add a value to every message; a trigger ignores it.
        return Parsed::of(simple(kind));
    };
    if (path == "/rv38t/run")
        return noArgs(Command::Kind::Run);
    if (path == "/rv38t/pause")
        return noArgs(Command::Kind::Pause);
    if (path == "/rv38t/reset")
        return noArgs(Command::Kind::Reset);
    if (path == "/rv38t/time") {
        if (args.size() != 1 || args[0].type != 's')
            return Parsed::fail(400, QStringLiteral("/rv38t/time takes one string \"HH:MM:SS\""));
        return parseTimeText(args[0].text);
    }
    if (path == "/rv38t/disarm")
        return noArgs(Command::Kind::Disarm);
    if (path == "/rv38t/until" || path == "/rv38t/runat") {
        const bool until = path == "/rv38t/until";
        if (args.size() != 1 || args[0].type != 's')
            return Parsed::fail(
                400,
                QStringLiteral("%1 takes one string \"HH:MM:SS\"").arg(QString::fromLatin1(path)));
        return parseTimeOfDay(args[0].text, until ? Command::Kind::Until : Command::Kind::RunAt);
    }
    if (path == "/rv38t/nudge") {
        if (args.size() != 1)
            return Parsed::fail(400, QStringLiteral("/rv38t/nudge takes one int32"));
        const OscArg &a = args[0];
        double v = 0;
        if (a.type == 'i' || a.type == 'h')
            v = static_cast<double>(a.integer);
        else if (a.type == 'f' || a.type == 'd')
            v = a.real; // some senders only send floats; a whole one is accepted
        else
            return Parsed::fail(400, QStringLiteral("/rv38t/nudge takes one int32"));
        if (!std::isfinite(v) || v != std::floor(v) || v < -kMaxNudge || v > kMaxNudge)
            return Parsed::fail(400, QStringLiteral("nudge must be a whole number from %1 to %2")
                                         .arg(-kMaxNudge)
                                         .arg(kMaxNudge));
        Command c = simple(Command::Kind::Nudge);
        c.seconds = static_cast<int>(v);
        return Parsed::of(c);
    }
    if (path == "/rv38t/zones") {
        if (args.size() != 2 || args[0].type != 's' || args[1].type != 's')
            return Parsed::fail(
                400,
                QStringLiteral("/rv38t/zones takes two strings \"HH:MM:SS\": warning, danger"));
        int values[2] = {-1, -1};
        QString error;
        if (!threshold(QStringLiteral("warning"), QJsonValue(args[0].text), &values[0], &error)
            || !threshold(QStringLiteral("danger"), QJsonValue(args[1].text), &values[1], &error))
            return Parsed::fail(400, error);
        return zonesCommand(values[0], values[1]);
    }
    // A switch takes an int32 0 or 1, nothing else.
    auto onOff = [&](int *out) {
        if (args.size() != 1 || args[0].type != 'i'
            || (args[0].integer != 0 && args[0].integer != 1))
            return false;
        *out = int(args[0].integer);
        return true;
    };
    if (path == "/rv38t/message") {
        if (args.size() != 1 || args[0].type != 's')
            return Parsed::fail(400, QStringLiteral("/rv38t/message takes one string"));
        return messageCommand(true, args[0].text, -1);
    }
    if (path == "/rv38t/message/visible") {
        int v = 0;
        if (!onOff(&v))
            return Parsed::fail(400,
                                QStringLiteral("/rv38t/message/visible takes one int32, 0 or 1"));
        return messageCommand(false, QString(), v);
    }
    if (path == "/rv38t/blackout") {
        int v = 0;
        if (!onOff(&v))
            return Parsed::fail(400, QStringLiteral("/rv38t/blackout takes one int32, 0 or 1"));
        return blackoutCommand(v == 1);
    }
    if (path == "/rv38t/cue" || path.startsWith("/rv38t/cue/"))
        return parseCueOsc(path, args);
    return Parsed::fail(404, QStringLiteral("no such OSC address"));
}

Parsed parseCueBody(const QByteArray &body)
{
    QJsonObject o;
    QString error;
    if (!jsonObject(body, &o, &error))
        return Parsed::fail(400, error);
    Command c = simple(Command::Kind::Cue);
    const QJsonValue index = o.value(QLatin1String("index"));
    const QJsonValue step = o.value(QLatin1String("step"));
    const QJsonValue run = o.value(QLatin1String("run"));
    if (index.isUndefined() == step.isUndefined())
        return Parsed::fail(400, QStringLiteral("give \"index\": N or \"step\": 1 or -1"));
    if (!index.isUndefined()
        && !wholeNumber(index, 1, std::numeric_limits<int>::max(), &c.cueIndex))
        return Parsed::fail(400, QStringLiteral("index must be a whole number from 1"));
    if (!step.isUndefined() && (!wholeNumber(step, -1, 1, &c.cueStep) || c.cueStep == 0))
        return Parsed::fail(400, QStringLiteral("step must be 1 or -1"));
    if (!run.isUndefined() && !run.isBool())
        return Parsed::fail(400, QStringLiteral("run must be true or false"));
    c.run = run.toBool();
    return Parsed::of(c);
}

Parsed parseCueOsc(const QByteArray &path, const QList<OscArg> &args)
{
    Command c = simple(Command::Kind::Cue);
    if (path == "/rv38t/cue/next" || path == "/rv38t/cue/prev") {
        // A trigger: a value some senders add is ignored.
        c.cueStep = path == "/rv38t/cue/next" ? 1 : -1;
        return Parsed::of(c);
    }
    if (path != "/rv38t/cue")
        return Parsed::fail(404, QStringLiteral("no such OSC address"));
    double v = 0;
    if (args.size() == 1 && (args[0].type == 'i' || args[0].type == 'h'))
        v = static_cast<double>(args[0].integer);
    else if (args.size() == 1 && (args[0].type == 'f' || args[0].type == 'd'))
        v = args[0].real;
    else
        return Parsed::fail(400, QStringLiteral("/rv38t/cue takes one int32"));
    if (!std::isfinite(v) || v != std::floor(v) || v < 1 || v > 1e9)
        return Parsed::fail(400, QStringLiteral("/rv38t/cue takes a segment number from 1"));
    c.cueIndex = static_cast<int>(v);
    return Parsed::of(c);
}

bool isCsv(const QByteArray &contentType)
{
    return contentType.split(';').first().trimmed().toLower() == "text/csv";
}

} // namespace remotecmd
