#include "core/ansi.h"

#include <array>

namespace ansi {
namespace {

// 0x80..0x9F differ from Latin-1; 0 marks the five bytes Windows-1252 leaves undefined.
constexpr std::array<char16_t, 32> kHigh
    = {0x20AC, 0x0000, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
       0x2039, 0x0152, 0x0000, 0x017D, 0x0000, 0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
       0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x0000, 0x017E, 0x0178};

char encodeOne(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<char>(c);
    for (std::size_t i = 0; i < kHigh.size(); ++i) {
        if (kHigh[i] == c && c != 0)
            return static_cast<char>(0x80 + i);
    }
    // The undefined bytes round-trip through the C1 controls of the same value.
    if (c >= 0x80 && c <= 0x9F && kHigh[c - 0x80] == 0)
        return static_cast<char>(c);
    return '?';
}

} // namespace

QByteArray encode(const QString &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i; // one character outside the code page: one '?'
        out.append(c.isSurrogate() ? '?' : encodeOne(c.unicode()));
    }
    return out;
}

QString decode(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (const char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        if (u >= 0x80 && u <= 0x9F && kHigh[u - 0x80] != 0)
            out.append(QChar(kHigh[u - 0x80]));
        else
            out.append(QChar(u));
    }
    return out;
}

} // namespace ansi
