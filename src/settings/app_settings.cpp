#include "settings/app_settings.h"

#include "link/line_table.h"
#include "settings/reg_format.h"
#include "settings/settings_log.h"
#include "text/text_table.h"

#include <string_view>

namespace kt::settings
{
namespace
{

constexpr const char *kPortName = "ScanCommNo";
constexpr const char *kLineTextName = "ScanBaudRate";
constexpr const char *kLineIndexName = "ScanBaudRateNo";
constexpr const char *kLanguageName = "LanguageFlag";

// What a key that exists but lacks a value gives, and what a damaged key gives for all four.
AppSettings defaults()
{
    constexpr int kLine = link::kFactoryLineSettingsIndex;
    return AppSettings{0, std::string(link::kLineSettings[kLine].text), kLine,
                       std::string(text::languageName(text::Language::English))};
}

// Value names are case-insensitive, as in the registry.
const Value *findValue(const KeyValues &values, std::string_view name)
{
    for (const auto &[stored, value] : values) {
        if (reg::sameName(stored, name))
            return &value;
    }
    return nullptr;
}

const char *typeName(Value::Type type)
{
    switch (type) {
    case Value::Type::Dword:
        return "a 32-bit integer";
    case Value::Type::String:
        return "a string";
    case Value::Type::Other:
        break;
    }
    return "another type, or unreadable";
}

} // namespace

LoadedSettings loadSettings(SettingsStore &store)
{
    LoadedSettings loaded;
    const auto values = store.load();
    if (!values)
        return loaded; // the store has logged why

    AppSettings s = defaults();
    bool isDamaged = false;
    const auto check = [&](const char *name, Value::Type expected) -> const Value * {
        const Value *value = findValue(*values, name);
        if (value == nullptr || value->type == expected)
            return value;
        KT_WARNING(lcSettings, "the stored %s is %s, not %s", name, typeName(value->type),
                   typeName(expected));
        isDamaged = true;
        return nullptr;
    };
    if (const Value *v = check(kPortName, Value::Type::Dword))
        s.portNumber = static_cast<std::int32_t>(v->dword);
    if (const Value *v = check(kLineTextName, Value::Type::String))
        s.lineSettingsText = v->text;
    if (const Value *v = check(kLineIndexName, Value::Type::Dword))
        s.lineSettingsIndex = static_cast<std::int32_t>(v->dword);
    if (const Value *v = check(kLanguageName, Value::Type::String))
        s.languageName = v->text;
    if (isDamaged) {
        KT_WARNING(lcSettings, "all four settings take their defaults");
        s = defaults();
    }

    loaded.settings = s;
    loaded.language = text::languageOf(s.languageName);
    return loaded;
}

SaveResult saveLinkSettings(SettingsStore &store, const AppSettings &settings)
{
    return store.save({
        {kPortName, Value::ofDword(static_cast<std::uint32_t>(settings.portNumber))},
        {kLineIndexName, Value::ofDword(static_cast<std::uint32_t>(settings.lineSettingsIndex))},
        {kLineTextName, Value::ofString(settings.lineSettingsText)},
    });
}

SaveResult saveLanguage(SettingsStore &store, const AppSettings &settings)
{
    return store.save({{kLanguageName, Value::ofString(settings.languageName)}});
}

} // namespace kt::settings
