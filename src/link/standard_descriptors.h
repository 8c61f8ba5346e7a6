#pragma once

namespace kt::link
{

// Opens the null device on each standard descriptor (input, output, error) that is closed, so
// that a serial port opened later never lands on one of them and the program's own output
// never reaches the line. Call first in main, before anything opens a file. Nothing to do on
// Windows, where a handle is never taken for a standard stream.
void reserveStandardDescriptors();

} // namespace kt::link
