#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// The request line and header fields of one HTTP/1.x request.
struct HttpHead
{
    QByteArray method;
    QByteArray target;  // origin-form: "/path?query"
    QByteArray version; // "HTTP/1.0" or "HTTP/1.1"
    QByteArray host;    // the one Host field, or the authority of an absolute-form target
    QList<QPair<QByteArray, QByteArray>> fields; // names in lower case, values trimmed
    qint64 contentLength = 0;
    bool keepAlive = true;
    bool upgradeWebSocket = false;
    bool expectContinue = false;

    QByteArray field(const QByteArray &lowerName) const;
};

namespace httphead {

constexpr int kMaxFields = 64;

// `head` is everything before the blank line. On failure `status` is 400,
// 431 (too many fields), 501 (a transfer coding we do not take) or 505 (an
// HTTP version other than 1.0 and 1.1). An absolute-form target
// ("http://HOST:PORT/path") is taken as its path, with HOST:PORT as the host.
bool parse(const QByteArray &head, HttpHead *out, int *status, QString *error);

// The reason phrase for the statuses this server answers with.
QByteArray reason(int status);

} // namespace httphead
