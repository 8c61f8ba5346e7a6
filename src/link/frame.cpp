#include "frame.h"

#include "hex.h"

namespace kt::link {

namespace {
std::uint8_t xorOf(std::uint8_t seed, std::string_view bytes)
{
    for (char c : bytes)
        seed ^= static_cast<std::uint8_t>(c);
    return seed;
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

std::uint8_t frameChecksum(std::string_view command)
{
    return xorOf(kTab, command);
}

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
    const auto sum = byteToHex(xorOf(0, frame.substr(0, frame.size() - 3)));
    return frame[frame.size() - 3] == sum[0] && frame[frame.size() - 2] == sum[1];
}

} // namespace kt::link
