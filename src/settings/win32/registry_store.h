#pragma once

#include "settings/settings_store.h"

#include <string>
#include <windows.h>

namespace kt::settings
{

// A key of the Windows registry, opened with full access (KEY_ALL_ACCESS) both to load and
// to save: an account that may not write the key loads nothing, as if it were missing.
// Strings are passed through in the system's ANSI code page, byte for byte.
class RegistryStore : public SettingsStore
{
public:
    // The settings key: "Software\TALVO\ReaderConfig" under HKEY_LOCAL_MACHINE.
    static constexpr const char *kKeyPath = "Software\\TALVO\\ReaderConfig";

    explicit RegistryStore(HKEY root = HKEY_LOCAL_MACHINE, std::string keyPath = kKeyPath);

    // Every value with its stored type: REG_DWORD a Dword, REG_SZ and REG_EXPAND_SZ (not
    // expanded) a String, anything else, or a value that cannot be read as its type, Other.
    std::optional<KeyValues> load() override;
    // REG_DWORD of 4 bytes, REG_SZ with its terminating zero. Stops at the first value that
    // cannot be written; those before it stay written.
    SaveResult save(const std::vector<std::pair<std::string, Value>> &values) override;

private:
    HKEY m_root;
    std::string m_keyPath;
};

} // namespace kt::settings
