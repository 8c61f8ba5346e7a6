#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kt::link
{

// Two upper-case hexadecimal characters, high nibble first.
std::array<char, 2> byteToHex(std::uint8_t value);

// Every byte as two upper-case hexadecimal characters, separated by single spaces
// ("09 41 0D"); empty for no bytes. For log lines.
std::string hexDump(std::span<const std::uint8_t> bytes);
std::string hexDump(std::string_view bytes);

// The first eight characters read as hexadecimal digits, most significant first, in 32-bit
// arithmetic. Only "0"-"9" and "A"-"F" count; every other character and a missing one count
// as 0, so "ABCD" gives 0xABCD0000. Characters after the eighth are ignored.
std::int32_t hexToInt(std::string_view text);

} // namespace kt::link
