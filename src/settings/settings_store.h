#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kt::settings
{

// A typed value of the settings key, as the registry holds it.
struct Value {
    enum class Type {
        Dword,  // REG_DWORD: 32-bit integer
        String, // REG_SZ, or REG_EXPAND_SZ taken without expansion
        Other,  // any other stored type; reading it as an integer or a string fails
    };
    Type type = Type::Other;
    std::uint32_t dword = 0;
    std::string text; // UTF-8

    static Value ofDword(std::uint32_t v) { return {Type::Dword, v, {}}; }
    static Value ofString(std::string s) { return {Type::String, 0, std::move(s)}; }
};

using KeyValues = std::map<std::string, Value>;

// What a save did. A failed save also logs its problem under kt4500.settings.
struct SaveResult {
    bool saved = false;
    std::string problem; // when not saved: one line saying why, naming the file or folder

    explicit operator bool() const { return saved; }
    static SaveResult ok() { return {true, {}}; }
    static SaveResult failed(std::string why) { return {false, std::move(why)}; }
};

// The machine-wide settings key "Software\TALVO\ReaderConfig" under HKEY_LOCAL_MACHINE: a .reg
// file on POSIX, the registry on Windows.
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;

    // Every value of the key. nullopt when the key cannot be opened for full (read and write)
    // access: missing, unreadable or not writable. Never creates anything.
    virtual std::optional<KeyValues> load() = 0;

    // Writes the values in order into the key, creating it when missing and keeping every
    // other value. Not saved: what was stored before stays whole (see the store for the one
    // exception).
    virtual SaveResult save(const std::vector<std::pair<std::string, Value>> &values) = 0;
};

// The store of this OS. On POSIX: the .reg file named by $KT4500_SETTINGS, else
// /var/lib/kt4500/ReaderConfig.reg.
std::unique_ptr<SettingsStore> makeSystemStore();

} // namespace kt::settings
