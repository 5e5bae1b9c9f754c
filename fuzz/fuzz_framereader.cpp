// The simulator's stream reader on arbitrary bytes cut at arbitrary places:
// nothing it holds may pass its frame bound, and no frame may be longer.

#include "simulator/framereader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FrameReader reader;
    std::size_t i = 0;
    while (i < size) {
        // The first byte of each chunk says how long the chunk is, as reads cut a stream.
        const std::size_t len = std::min<std::size_t>(size - i - 1, data[i] % 97);
        const QByteArray chunk(reinterpret_cast<const char *>(data + i + 1), qsizetype(len));
        i += len + 1;
        for (const QString &frame : reader.feed(chunk))
            if (frame.size() > FrameReader::kMaxFrame)
                std::abort();
        if (reader.pendingBytes() > FrameReader::kMaxFrame)
            std::abort();
        if (len % 5 == 0)
            for (const QString &frame : reader.flush())
                if (frame.size() > FrameReader::kMaxFrame)
                    std::abort();
    }
    return 0;
}
