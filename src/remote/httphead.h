#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// The request line and header fields of one HTTP/1.x request.
struct HttpHead
{
    QByteArray method;
    QByteArray target;
    QByteArray version;                          // "HTTP/1.1"
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
// 431 (too many fields) or 501 (a transfer coding we do not take).
bool parse(const QByteArray &head, HttpHead *out, int *status, QString *error);

// The reason phrase for the statuses this server answers with.
QByteArray reason(int status);

} // namespace httphead
