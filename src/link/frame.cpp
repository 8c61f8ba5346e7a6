#include "frame.h"

#include "hex.h"

namespace kt::link
{

namespace
{
// The checksum folds the frame's lead byte (TAB or LF) and then its body into one byte.
std::uint8_t xorOf(std::uint8_t leadByte, std::string_view body)
{
    std::uint8_t sum = leadByte;
    for (char c : body)
        sum ^= static_cast<std::uint8_t>(c);
    return sum;
}

std::string framed(char first, std::string_view body)
{
    const auto sum = byteToHex(xorOf(static_cast<std::uint8_t>(first), body));
    std::string frame;
    frame.reserve(body.size() + 4);
    frame += first;
    frame += body;
    frame += sum[0];
    frame += sum[1];
    frame += static_cast<char>(kCr);
    return frame;
}
} // namespace

std::string commandFrame(std::string_view command)
{
    return framed(static_cast<char>(kTab), command);
}

std::string replyFrame(std::string_view body)
{
    return framed(static_cast<char>(kLf), body);
}

bool checkFrame(std::string_view frame)
{
    if (frame.size() < 4)
        return false;
    const auto sum =
        byteToHex(xorOf(static_cast<std::uint8_t>(frame[0]), frame.substr(1, frame.size() - 4)));
    return frame[frame.size() - 3] == sum[0] && frame[frame.size() - 2] == sum[1];
}

} // namespace kt::link
