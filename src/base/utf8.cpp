#include "base/utf8.h"

namespace kt::base
{

std::optional<Utf8Sequence> firstUtf8Sequence(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = at(0);
    if (lead < 0x80)
        return Utf8Sequence{lead, 1};
    // The lead byte gives the length; the range of the second byte rules out overlong
    // forms, surrogates and values above U+10FFFF.
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else {
        return std::nullopt;
    }
    if (text.size() < length || at(1) < low || at(1) > high)
        return std::nullopt;
    std::uint32_t codePoint = lead & (0x7Fu >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((at(i) & 0xC0) != 0x80)
            return std::nullopt;
        codePoint = (codePoint << 6) | (at(i) & 0x3Fu);
    }
    return Utf8Sequence{codePoint, length};
}

bool isUtf8(std::string_view text)
{
    while (!text.empty()) {
        const auto sequence = firstUtf8Sequence(text);
        if (!sequence)
            return false;
        text.remove_prefix(sequence->length);
    }
    return true;
}

} // namespace kt::base
