#include "countdown/timeframesender.h"

#include "countdown/timemath.h"
#include "core/frames.h"
#include "core/socketarray.h"

#include <QLineEdit>

TimeFrameSender::TimeFrameSender(const std::array<QLineEdit *, 3> &fields, TcpSocketArray &sockets,
                                 IsMarked isMarked, QObject *parent)
    : QObject(parent), m_fields(fields), m_sockets(sockets), m_isMarked(std::move(isMarked))
{
    for (int i = 0; i < 3; ++i)
        connect(m_fields[i], &QLineEdit::textChanged, this, [this, i] { INP_DELAY_Change(i); });
}

void TimeFrameSender::INP_DELAY_Change(int)
{
    if (m_mayDrive && !m_mayDrive())
        return;
    // The frame always carries all three fields, whichever one changed.
    const QByteArray frame = frames::timeFrame(
        timemath::timeText(m_fields[0]->text(), m_fields[1]->text(), m_fields[2]->text()));
    const int n = m_sockets.count();
    for (int i = 0; i < n; ++i) {
        // The mark alone decides; a send that fails is dropped and the loop goes on.
        if (m_isMarked(i))
            m_sockets.sendData(i, frame);
    }
}

#include "moc_timeframesender.cpp"
