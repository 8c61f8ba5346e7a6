#pragma once

#include "../line_settings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <termios.h>

namespace kt::link
{

// Puts the port into the state the link reads it in, over its current termios: raw bytes, no
// flow control, modem lines ignored, and reads that never wait (VMIN 1 and VTIME 0 on a
// non-blocking descriptor: an empty read is EAGAIN, not the 0 of end-of-file). Then the line
// settings, when given, replace speed and framing; nullopt keeps the port's own.
// The termios speed of a baud rate; B0 for a rate termios has no constant for.
speed_t termiosSpeed(std::uint32_t baudRate);
// The baud rate of a termios speed; 0 for B0 and unknown speeds.
std::uint32_t baudRateOf(speed_t speed);

void configureTermios(termios &t, const std::optional<LineSettings> &settings);

// The line settings a termios holds, as a line-settings text ("19200,e,8,1").
std::string describeLineSettings(const termios &t);

} // namespace kt::link
