#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kt::link
{

constexpr std::uint8_t kTab = 0x09;
constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kCr = 0x0D;
constexpr std::size_t kMaxCommandLength = 255;

// TAB, the command, its two checksum characters, CR.
std::string commandFrame(std::string_view command);

// LF, the body, its two checksum characters (XOR of LF and the body), CR.
std::string replyFrame(std::string_view body);

// Whether the two characters before the final CR are the upper-case hex of the XOR of every
// byte before them. Fewer than four bytes always fail.
bool checkFrame(std::string_view frame);

} // namespace kt::link
