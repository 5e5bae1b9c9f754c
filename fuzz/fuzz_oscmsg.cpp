// The OSC message handler on arbitrary datagrams: liblo's decoding, then the
// address and argument checks. A datagram is a command within its ranges, a
// feedback request with a port, or refused with a reason.

#include "remote/oscserver.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray datagram(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const oscmsg::Decoded d = oscmsg::decode(datagram);
    switch (d.kind) {
    case oscmsg::Decoded::Kind::Command: {
        const Command &c = d.parsed.command;
        if (c.kind == Command::Kind::SetTime
            && (c.hours < 0 || c.hours > remotecmd::kMaxHours || c.minutes < 0 || c.minutes > 59
                || c.seconds < 0 || c.seconds > 59))
            std::abort();
        if (c.kind == Command::Kind::Nudge && std::abs(c.seconds) > remotecmd::kMaxNudge)
            std::abort();
        break;
    }
    case oscmsg::Decoded::Kind::Feedback:
        if (d.replyPort < -1 || d.replyPort > 65535)
            std::abort();
        break;
    case oscmsg::Decoded::Kind::Error:
        if (d.parsed.error.isEmpty())
            std::abort();
        break;
    }
    return 0;
}
