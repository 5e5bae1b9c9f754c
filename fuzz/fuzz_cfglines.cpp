// The address file reader on arbitrary bytes: the line rule, the line and
// length limits, and the file path of the reader.

#include "core/cfgfile.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const int maxLines = size ? data[0] % 101 : 99;
    const int maxLength = size > 1 ? 1 + data[1] * 8 : cfgfile::kMaxLineLength;

    const QStringList lines = cfgfile::splitLines(bytes, maxLines, maxLength);
    if (lines.size() > maxLines)
        std::abort();
    for (const QString &line : lines)
        if (line.size() > maxLength)
            std::abort();

    // What is written back reads back as many lines.
    const QStringList again = cfgfile::splitLines(cfgfile::joinLines(lines), maxLines, maxLength);
    if (again.size() < lines.size())
        std::abort();

    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("LST_IP.CFG"));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        f.write(bytes);
        f.close();
        if (cfgfile::readLines(path, 99).size() > 99)
            std::abort();
    }
    return 0;
}
