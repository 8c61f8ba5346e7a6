#include "system_menu.h"

#include <windows.h>

namespace kt::app
{

void removeLastSystemMenuItem(const std::function<std::uintptr_t()> &nativeWindow)
{
    const auto window = reinterpret_cast<HWND>(nativeWindow());
    const HMENU menu = ::GetSystemMenu(window, FALSE);
    if (menu == nullptr)
        return;
    const int count = ::GetMenuItemCount(menu);
    if (count < 1)
        return;
    ::RemoveMenu(menu, static_cast<UINT>(count - 1), MF_BYPOSITION);
    ::DrawMenuBar(window);
}

} // namespace kt::app
