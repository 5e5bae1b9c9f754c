#include "simulator/framereader.h"

#include "core/ansi.h"
#include "core/frames.h"

QStringList FrameReader::feed(const QByteArray &bytes)
{
    QStringList out;
    for (const char b : bytes) {
        if (b == frames::kTimeMark) {
            close(out);
            m_open = true;
            continue;
        }
        if (!m_open) {
            ++m_dropped;
            continue;
        }
        if (m_text.size() >= kMaxFrame) {
            m_dropped += m_text.size() + 2; // the text, its mark and this byte
            m_text.clear();
            m_open = false;
            continue;
        }
        m_text.append(b);
    }
    return out;
}

QStringList FrameReader::flush()
{
    QStringList out;
    if (hasPending()) {
        close(out);
        m_open = false;
    }
    return out;
}

void FrameReader::close(QStringList &out)
{
    // Two marks in a row carry no time: nothing to show.
    if (m_open && !m_text.isEmpty())
        out.append(ansi::decode(m_text));
    m_text.clear();
}
