#pragma once

// The tone kt4500ctl provision sounds after each reader: the window's success or failure beep.

#include <functional>

namespace kt::cli
{

// Blocks while the tone sounds; empty where this build has no beeper.
std::function<void(bool succeeded)> makeTone();

} // namespace kt::cli
