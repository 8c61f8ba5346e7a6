#include "termios_setup.h"

#include <array>

namespace kt::link
{

namespace
{
// The termios speed of each of kBaudRates, in its order.
constexpr std::array<speed_t, kBaudRates.size()> kSpeeds{
    B110, B150, B300, B600, B1200, B2400, B4800, B9600, B19200, B38400, B57600, B115200, B230400};

constexpr speed_t speedOf(std::uint32_t baudRate)
{
    for (std::size_t i = 0; i < kBaudRates.size(); ++i) {
        if (kBaudRates[i] == baudRate)
            return kSpeeds[i];
    }
    return B0;
}

// Both lists ascend, so a rate and a speed out of step with each other show.
constexpr bool listsAscend()
{
    for (std::size_t i = 1; i < kBaudRates.size(); ++i) {
        if (kBaudRates[i] <= kBaudRates[i - 1] || kSpeeds[i] <= kSpeeds[i - 1])
            return false;
    }
    return true;
}
static_assert(listsAscend(), "the baud rates and their termios speeds are out of step");

constexpr bool everyLineSettingHasASpeed()
{
    for (const LineSetting &line : kLineSettings) {
        if (speedOf(line.baudRate) == B0)
            return false;
    }
    return true;
}
static_assert(everyLineSettingHasASpeed(), "a line setting's rate has no termios speed");
} // namespace

speed_t termiosSpeed(std::uint32_t baudRate)
{
    return speedOf(baudRate);
}

std::uint32_t baudRateOf(speed_t speed)
{
    for (std::size_t i = 0; i < kSpeeds.size(); ++i) {
        if (kSpeeds[i] == speed)
            return kBaudRates[i];
    }
    return 0;
}

namespace
{
tcflag_t sizeFlag(int dataBits)
{
    switch (dataBits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

void setParity(termios &t, Parity parity)
{
    tcflag_t parityFlags = PARENB | PARODD;
#ifdef CMSPAR
    parityFlags |= CMSPAR;
#endif
    t.c_cflag &= ~parityFlags;
    switch (parity) {
    case Parity::None:
        break;
    case Parity::Even:
        t.c_cflag |= PARENB;
        break;
    case Parity::Odd:
        t.c_cflag |= PARENB | PARODD;
        break;
#ifdef CMSPAR
    // Stick parity: CMSPAR sends PARODD's sense as a constant bit (set: mark, clear: space).
    case Parity::Mark:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case Parity::Space:
        t.c_cflag |= PARENB | CMSPAR;
        break;
#else
    case Parity::Mark:
    case Parity::Space:
        break;
#endif
    }
}
} // namespace

void configureTermios(termios &t, const std::optional<LineSettings> &settings)
{
    // cfmakeraw() would also force 8N1; the framing is left to the line settings instead.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL
                                        | IXON | IXOFF | IXANY | INPCK);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    if (!settings)
        return;
    const speed_t speed = termiosSpeed(settings->baudRate);
    if (speed != B0) {
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
    }
    if (settings->parity)
        setParity(t, *settings->parity);
    if (settings->dataBits) {
        t.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
        t.c_cflag |= sizeFlag(*settings->dataBits);
    }
    if (settings->stopBits) {
        if (*settings->stopBits == 2)
            t.c_cflag |= CSTOPB;
        else
            t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    }
}

std::string describeLineSettings(const termios &t)
{
    char parity = 'n';
    if ((t.c_cflag & PARENB) != 0)
        parity = (t.c_cflag & PARODD) != 0 ? 'o' : 'e';
#ifdef CMSPAR
    if ((t.c_cflag & PARENB) != 0 && (t.c_cflag & CMSPAR) != 0)
        parity = (t.c_cflag & PARODD) != 0 ? 'm' : 's';
#endif
    int dataBits = 8;
    switch (t.c_cflag & CSIZE) {
    case CS5:
        dataBits = 5;
        break;
    case CS6:
        dataBits = 6;
        break;
    case CS7:
        dataBits = 7;
        break;
    default:
        break;
    }
    return std::to_string(baudRateOf(cfgetospeed(&t))) + "," + parity + ","
           + std::to_string(dataBits) + "," + ((t.c_cflag & CSTOPB) != 0 ? "2" : "1");
}

} // namespace kt::link
