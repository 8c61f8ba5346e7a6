// The line-settings text comes from the settings file, so it can be anything. Whatever it
// is, the parser either refuses it or gives settings in range that mean the same when written
// out again, and the termios built from them is raw, without flow control, and carries them.

#include "fuzz_support.h"
#include "link/line_settings.h"
#include "link/posix/termios_setup.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <termios.h>

namespace
{

using kt::fuzz::require;
using kt::link::LineSettings;
using kt::link::Parity;

constexpr std::uint32_t kRates[] = {110,  150,   300,   600,   1200,   2400,  4800,
                                    9600, 19200, 38400, 57600, 115200, 230400};

bool isKnownRate(std::uint32_t rate)
{
    for (auto known : kRates) {
        if (known == rate)
            return true;
    }
    return false;
}

std::string written(const LineSettings &s)
{
    std::string text = std::to_string(s.baudRate);
    if (s.parity) {
        constexpr const char *kLetters = "neoms";
        text += ',';
        text += kLetters[static_cast<int>(*s.parity)];
    }
    if (s.dataBits)
        text += "," + std::to_string(*s.dataBits);
    if (s.stopBits)
        text += "," + std::to_string(*s.stopBits);
    return text;
}

speed_t speedOf(std::uint32_t rate)
{
    termios t{};
    const LineSettings s{rate, {}, {}, {}};
    kt::link::configureTermios(t, s);
    return cfgetospeed(&t);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    kt::fuzz::silenceLog();
    // The port's own termios before the settings apply: any bits at all.
    termios port{};
    const std::size_t portBytes = std::min(size, sizeof port);
    std::memcpy(&port, data, portBytes);
    const auto text = kt::fuzz::textOf(data + portBytes, size - portBytes);

    const auto settings = kt::link::parseLineSettings(text);
    termios t = port;
    kt::link::configureTermios(t, settings);
    require((t.c_lflag & (ICANON | ECHO | ISIG)) == 0, "the line is raw");
    require((t.c_iflag & (IXON | IXOFF)) == 0 && (t.c_cflag & CRTSCTS) == 0, "no flow control");
    require(t.c_cc[VMIN] == 1 && t.c_cc[VTIME] == 0, "reads never wait");
    if (!settings) {
        require(cfgetospeed(&t) == cfgetospeed(&port), "a refused text keeps the speed");
        require((t.c_cflag & (CSIZE | PARENB | CSTOPB))
                    == (port.c_cflag & (CSIZE | PARENB | CSTOPB)),
                "a refused text keeps the framing");
        return 0;
    }

    require(isKnownRate(settings->baudRate), "a baud rate the port can take");
    require(!settings->dataBits || (*settings->dataBits >= 5 && *settings->dataBits <= 8),
            "5 to 8 data bits");
    require(!settings->stopBits || *settings->stopBits == 1 || *settings->stopBits == 2,
            "1 or 2 stop bits");
    require(kt::link::parseLineSettings(written(*settings)) == settings,
            "the settings mean the same when written out again");

    require(cfgetospeed(&t) == speedOf(settings->baudRate) && cfgetispeed(&t) == cfgetospeed(&t),
            "the speed is the text's");
    if (settings->dataBits == 8)
        require((t.c_cflag & CSIZE) == CS8, "eight data bits");
    if (settings->parity == Parity::None)
        require((t.c_cflag & PARENB) == 0, "no parity");
    if (settings->parity == Parity::Even)
        require((t.c_cflag & (PARENB | PARODD)) == PARENB, "even parity");
    if (settings->stopBits)
        require(((t.c_cflag & CSTOPB) != 0) == (*settings->stopBits == 2), "the stop bits");
    return 0;
}
