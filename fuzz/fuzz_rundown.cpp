// The running order's file and its JSON on arbitrary bytes: one bad row loads
// nothing and says why; whatever loads is within its bounds and reads back the
// same from what the console writes.

#include "core/rundown.h"
#include "remote/command.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(const rundown::Parsed &p, int maxTitle)
{
    if (!p.ok) {
        if (p.error.isEmpty() || !p.segments.isEmpty())
            std::abort();
        return;
    }
    if (p.segments.size() > rundown::kMaxSegments)
        std::abort();
    for (const rundown::Segment &s : p.segments) {
        if ((s.duration < 0) == (s.until < 0) || s.duration == 0 || s.duration > 86399
            || s.until > 86399 || s.title.size() > maxTitle || s.note.size() > rundown::kMaxNote)
            std::abort();
        for (const QChar c : s.title) {
            if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                std::abort();
        }
    }
    if (rundown::parseCsv(rundown::toCsv(p.segments), maxTitle).segments != p.segments)
        std::abort();
    if (rundown::parseJson(rundown::toJson(p.segments, 0), maxTitle).segments != p.segments)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const int maxTitle = size ? 1 + data[0] % 64 : 32767;
    check(rundown::parseCsv(bytes, maxTitle), maxTitle);
    check(rundown::parseJson(bytes, maxTitle), maxTitle);

    const remotecmd::Parsed cue = remotecmd::parseCueBody(bytes);
    if (cue.ok
        && (cue.command.kind != Command::Kind::Cue
            || (cue.command.cueStep == 0) == (cue.command.cueIndex == 0) || cue.command.cueIndex < 0
            || cue.command.cueStep < -1 || cue.command.cueStep > 1))
        std::abort();
    return 0;
}
