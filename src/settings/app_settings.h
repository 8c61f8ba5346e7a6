#pragma once

#include "settings_store.h"
#include "text/text_table.h"

#include <cstdint>
#include <string>

namespace kt::settings
{

// The four values that survive a restart, as the process holds them. The defaults here are
// the start-up values, kept when the settings key cannot be opened.
struct AppSettings {
    std::int32_t portNumber = 0;        // "ScanCommNo"; 0: no port known
    std::string lineSettingsText;       // "ScanBaudRate"
    std::int32_t lineSettingsIndex = 0; // "ScanBaudRateNo"; taken as stored, range unchecked
    std::string languageName;           // "LanguageFlag"
};

struct LoadedSettings {
    AppSettings settings;
    text::Language language = text::Language::English; // of the name, matched exactly
};

// Reads the key without creating it. No key: start-up values. A missing value: its default.
// A value of another type: all four defaults. Never fails outward; problems are logged.
LoadedSettings loadSettings(SettingsStore &store);

// Write "ScanCommNo", "ScanBaudRateNo", "ScanBaudRate" / "LanguageFlag", creating the key
// when missing and keeping every other value. A failure is logged and returned.
SaveResult saveLinkSettings(SettingsStore &store, const AppSettings &settings);
SaveResult saveLanguage(SettingsStore &store, const AppSettings &settings);

} // namespace kt::settings
