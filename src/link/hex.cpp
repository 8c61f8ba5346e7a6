#include "hex.h"

namespace kt::link
{

namespace
{
constexpr char kDigits[] = "0123456789ABCDEF";

std::uint32_t hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<std::uint32_t>(c - '0');
    if (c >= 'A' && c <= 'F')
        return static_cast<std::uint32_t>(c - 'A' + 10);
    return 0; // lower case, any other character: the reader sends upper case only
}
} // namespace

std::array<char, 2> byteToHex(std::uint8_t value)
{
    return {kDigits[value >> 4], kDigits[value & 0x0F]};
}

std::string hexDump(std::span<const std::uint8_t> bytes)
{
    std::string text;
    text.reserve(bytes.size() * 3);
    for (const std::uint8_t byte : bytes) {
        if (!text.empty())
            text += ' ';
        const auto digits = byteToHex(byte);
        text += digits[0];
        text += digits[1];
    }
    return text;
}

std::string hexDump(std::string_view bytes)
{
    return hexDump({reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size()});
}

std::int32_t hexToInt(std::string_view text)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        const char c = i < text.size() ? text[i] : '0';
        value = (value << 4) | hexDigit(c);
    }
    // The eight digits are the 32 bits of a signed value: 80000000..FFFFFFFF are negative.
    return static_cast<std::int32_t>(value);
}

} // namespace kt::link
