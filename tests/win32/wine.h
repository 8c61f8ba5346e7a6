#pragma once

#include <windows.h>

namespace kt::test
{

// Wine's ntdll exports its version; Windows' does not. Under Wine a few things that Windows
// enforces are not enforced (exclusive opens of serial ports), so those checks are skipped.
inline bool runningUnderWine()
{
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

} // namespace kt::test
