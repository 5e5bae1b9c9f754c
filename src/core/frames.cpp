#include "core/frames.h"

#include "core/ansi.h"

namespace frames {

QByteArray timeFrame(const QString &timeText)
{
    return kTimeMark + ansi::encode(timeText);
}

QByteArray recoveryFrame(const QString &entryText)
{
    return kRecoveryMark + ansi::encode(entryText);
}

} // namespace frames
