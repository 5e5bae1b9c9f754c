#pragma once

#include <QByteArray>
#include <QString>

// Text in files and on the wire is one byte per character in Windows-1252,
// the Western single-byte code page the displays and the stored files use.
namespace ansi {

// A character the code page cannot hold leaves as '?'. Never UTF-8.
QByteArray encode(const QString &text);
QString decode(const QByteArray &bytes);

} // namespace ansi
