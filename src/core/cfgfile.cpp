#include "core/cfgfile.h"

#include "core/ansi.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace cfgfile {

namespace {

// Feeds bytes through the line rule; keeps state across chunks of a file.
class LineSplitter
{
public:
    LineSplitter(int maxLines, int maxLineLength) : m_maxLines(maxLines), m_maxLength(maxLineLength)
    {}

    bool full() const { return m_lines.size() >= m_maxLines; }

    void feed(const char *data, qsizetype size)
    {
        for (qsizetype i = 0; i < size && !full(); ++i) {
            const char c = data[i];
            if (m_afterCr) {
                m_afterCr = false;
                if (c == '\n')
                    continue;
            }
            if (c == '\r') {
                endLine();
                m_afterCr = true;
            } else if (m_current.size() < m_maxLength) {
                m_current.append(c);
            }
            m_open = c != '\r';
        }
    }

    QStringList finish()
    {
        if (m_open && !full())
            endLine();
        return m_lines;
    }

private:
    void endLine()
    {
        m_lines.append(ansi::decode(m_current));
        m_current.clear();
    }

    int m_maxLines;
    int m_maxLength;
    QStringList m_lines;
    QByteArray m_current;
    bool m_afterCr = false;
    bool m_open = false; // bytes seen since the last line end
};

} // namespace

QStringList splitLines(const QByteArray &bytes, int maxLines, int maxLineLength)
{
    LineSplitter splitter(maxLines, maxLineLength);
    splitter.feed(bytes.constData(), bytes.size());
    return splitter.finish();
}

QStringList readLines(const QString &path, int maxLines, int maxLineLength)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    LineSplitter splitter(maxLines, maxLineLength);
    char chunk[16384];
    while (!splitter.full()) {
        const qint64 got = file.read(chunk, sizeof chunk);
        if (got <= 0)
            break;
        splitter.feed(chunk, got);
    }
    return splitter.finish();
}

QByteArray joinLines(const QStringList &lines)
{
    QByteArray out;
    for (const QString &line : lines)
        out += ansi::encode(line) + "\r\n";
    return out;
}

bool save(const QString &path, const QByteArray &content, QString *why)
{
    QSaveFile file(path);
    const auto failed = [&file, why] {
        if (why)
            *why = file.errorString();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return failed();
    // Writes are buffered: a failure shows only when the buffer is flushed, and
    // commit() would not notice it and put a short file over the old one.
    if (file.write(content) != content.size() || !file.flush()) {
        const bool result = failed();
        file.cancelWriting();
        return result;
    }
    return file.commit() || failed();
}

} // namespace cfgfile
