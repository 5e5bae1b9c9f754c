#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Cuts the byte stream of one console connection into time frames.
//
// A frame starts at every time mark and carries the characters up to the next
// mark. The console sends no terminator, so a frame is complete either when the
// next mark arrives (feed) or when the stream falls quiet (flush, called by the
// owner after a short pause). Bytes before the first mark, and bytes after a
// frame was closed by flush(), belong to no frame and are dropped. A frame
// that grows past kMaxFrame bytes is garbage: it is dropped whole, so a peer
// that never sends a mark cannot grow memory.
class FrameReader
{
public:
    static constexpr qsizetype kMaxFrame = 64;

    // The frames that the bytes complete, oldest first, decoded from the code page.
    QStringList feed(const QByteArray &bytes);
    // The frame in progress, if it holds any character; empty otherwise. A
    // frame with no character yet stays open, as its text is still to come.
    QStringList flush();
    bool hasPending() const { return m_open && !m_text.isEmpty(); }
    // Bytes held for the frame in progress; never more than kMaxFrame.
    qsizetype pendingBytes() const { return m_text.size(); }
    // Bytes that belonged to no frame, for the curious.
    qint64 droppedBytes() const { return m_dropped; }

private:
    void close(QStringList &out);

    QByteArray m_text;
    bool m_open = false;
    qint64 m_dropped = 0;
};
