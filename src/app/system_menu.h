#pragma once

#include <cstdint>
#include <functional>

namespace kt::app
{

// Removes the last item of the window's system menu, chosen by position (on the standard
// menu that item is Close, so the title bar's close box shows disabled), then redraws the
// menu bar. Reports nothing: if it fails the window keeps its full menu. nativeWindow gives
// the window's handle (an HWND) and is called only on systems that have such a menu; on the
// others this does nothing, and the window's flags ask for no close button instead.
void removeLastSystemMenuItem(const std::function<std::uintptr_t()> &nativeWindow);

} // namespace kt::app
