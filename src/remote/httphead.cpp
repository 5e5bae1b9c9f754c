#include "remote/httphead.h"

#include <algorithm>
#include <cctype>
#include <cstring>

QByteArray HttpHead::field(const QByteArray &lowerName) const
{
    for (const auto &f : fields) {
        if (f.first == lowerName)
            return f.second;
    }
    return QByteArray();
}

namespace httphead {
namespace {

bool isToken(const QByteArray &s)
{
    if (s.isEmpty())
        return false;
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 32 || u >= 127 || std::strchr("()<>@,;:\\\"/[]?={}", c))
            return false;
    }
    return true;
}

bool hasToken(const QByteArray &list, const char *token)
{
    for (const QByteArray &part : list.split(',')) {
        if (part.trimmed().toLower() == token)
            return true;
    }
    return false;
}

} // namespace

bool parse(const QByteArray &head, HttpHead *out, int *status, QString *error)
{
    *status = 400;
    const QList<QByteArray> lines = head.split('\n');
    QList<QByteArray> clean;
    clean.reserve(lines.size());
    for (QByteArray l : lines) {
        if (l.endsWith('\r'))
            l.chop(1);
        clean.append(l);
    }
    while (!clean.isEmpty() && clean.last().isEmpty())
        clean.removeLast();
    if (clean.isEmpty()) {
        *error = QStringLiteral("empty request");
        return false;
    }
    const QList<QByteArray> requestLine = clean.first().split(' ');
    if (requestLine.size() != 3 || !isToken(requestLine[0])
        || !requestLine[2].startsWith("HTTP/")) {
        *error = QStringLiteral("malformed request line");
        return false;
    }
    if (requestLine[2] != "HTTP/1.1" && requestLine[2] != "HTTP/1.0") {
        *status = 505;
        *error = QStringLiteral("only HTTP/1.0 and HTTP/1.1 are spoken here");
        return false;
    }
    out->method = requestLine[0];
    out->target = requestLine[1];
    out->version = requestLine[2];
    out->host.clear();
    // A client may name the server in the target itself; the authority then
    // stands for the Host field and meets the same rule.
    bool absolute = false;
    if (out->target.left(7).toLower() == "http://") {
        const QByteArray rest = out->target.mid(7);
        qsizetype end = 0;
        while (end < rest.size() && !std::strchr("/?#", rest[end]))
            ++end;
        out->host = rest.left(end);
        out->target = rest.mid(end);
        if (!out->target.startsWith('/'))
            out->target.prepend('/');
        absolute = true;
        if (out->host.isEmpty() || out->host.contains('@')) {
            *error = QStringLiteral("malformed request target");
            return false;
        }
    }
    if (!out->target.startsWith('/')) {
        *error = QStringLiteral("malformed request line");
        return false;
    }
    out->fields.clear();
    if (clean.size() - 1 > kMaxFields) {
        *status = 431;
        *error = QStringLiteral("more than %1 header fields").arg(kMaxFields);
        return false;
    }
    for (qsizetype i = 1; i < clean.size(); ++i) {
        const QByteArray &l = clean[i];
        const qsizetype colon = l.indexOf(':');
        if (colon <= 0 || !isToken(l.left(colon))) {
            *error = QStringLiteral("malformed header field");
            return false;
        }
        const QByteArray name = l.left(colon).toLower();
        // Which of two would count is the client's guess, and a page's: HTTP/1.1 makes it a 400.
        if ((name == "host" || name == "origin")
            && std::any_of(out->fields.cbegin(), out->fields.cend(),
                           [&](const auto &f) { return f.first == name; })) {
            *error = QStringLiteral("more than one %1 field").arg(QString::fromLatin1(name));
            return false;
        }
        out->fields.append({name, l.mid(colon + 1).trimmed()});
    }
    if (!absolute)
        out->host = out->field("host");

    out->contentLength = 0;
    bool seenLength = false;
    for (const auto &f : out->fields) {
        if (f.first == "content-length") {
            bool ok = false;
            const qint64 n = f.second.toLongLong(&ok);
            if (!ok || n < 0 || f.second.isEmpty()
                || !std::isdigit(static_cast<unsigned char>(f.second[0]))
                || (seenLength && n != out->contentLength)) {
                *error = QStringLiteral("bad Content-Length");
                return false;
            }
            out->contentLength = n;
            seenLength = true;
        } else if (f.first == "transfer-encoding") {
            *status = 501;
            *error = QStringLiteral("send the body with Content-Length, not a transfer coding");
            return false;
        }
    }
    const QByteArray connection = out->field("connection");
    out->keepAlive = out->version == "HTTP/1.1" ? !hasToken(connection, "close")
                                                : hasToken(connection, "keep-alive");
    out->upgradeWebSocket
        = hasToken(connection, "upgrade") && out->field("upgrade").toLower() == "websocket";
    out->expectContinue = out->field("expect").toLower() == "100-continue";
    return true;
}

QByteArray reason(int status)
{
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 409:
        return "Conflict";
    case 413:
        return "Content Too Large";
    case 431:
        return "Request Header Fields Too Large";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Error";
    }
}

} // namespace httphead
