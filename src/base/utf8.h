#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kt::base
{

struct Utf8Sequence {
    std::uint32_t codePoint = 0;
    std::size_t length = 0; // 1 to 4 bytes
};

// The well-formed UTF-8 sequence at the start of text; nullopt when text is empty or starts
// with none: a stray continuation byte, a sequence cut short, an overlong form, a surrogate
// or a value above U+10FFFF.
std::optional<Utf8Sequence> firstUtf8Sequence(std::string_view text);

// Whether all of text is well-formed UTF-8.
bool isUtf8(std::string_view text);

} // namespace kt::base
