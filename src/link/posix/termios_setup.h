#pragma once

#include "line_settings.h"

#include <optional>
#include <termios.h>

namespace kt::link
{

// Puts the port into the state the link reads it in, over its current termios: raw bytes, no
// flow control, modem lines ignored, and reads that never wait (VMIN 1 and VTIME 0 on a
// non-blocking descriptor: an empty read is EAGAIN, not the 0 of end-of-file). Then the line
// settings, when given, replace speed and framing; nullopt keeps the port's own.
void configureTermios(termios &t, const std::optional<LineSettings> &settings);

} // namespace kt::link
