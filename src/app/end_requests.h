#pragma once

#include <functional>

class QObject;

namespace kt::app
{

// Calls onEnd from the event loop each time the program is asked from outside to end: on
// POSIX by SIGTERM (a service stop, a logout), SIGINT (Ctrl-C in the terminal that started it)
// or SIGHUP (that terminal closed). Without this the signal's default action would end the
// process at once, with the port still marked exclusive and its lock file in place. The watch
// lives as long as owner. On Windows nothing asks a window program this way; nothing is
// watched there.
void watchEndRequests(QObject &owner, std::function<void()> onEnd);

} // namespace kt::app
