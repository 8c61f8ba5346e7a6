#include "registry_store.h"

#include "settings/settings_log.h"

#include <cstring>

namespace kt::settings
{

namespace
{
// Value names are at most 16383 characters long.
constexpr DWORD kMaxValueName = 16384;

std::string errorText(LSTATUS status)
{
    char buffer[512] = {};
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                         static_cast<DWORD>(status), 0, buffer, sizeof buffer, nullptr);
    std::string text(buffer, length < sizeof buffer ? length : sizeof buffer);
    while (
        !text.empty()
        && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    if (text.empty())
        text = "system error";
    return text + " (error " + std::to_string(status) + ")";
}

// Closes the key on every path.
class KeyHandle
{
public:
    KeyHandle() = default;
    ~KeyHandle()
    {
        if (m_key != nullptr)
            ::RegCloseKey(m_key);
    }
    KeyHandle(const KeyHandle &) = delete;
    KeyHandle &operator=(const KeyHandle &) = delete;

    HKEY *out() { return &m_key; }
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

Value readDword(HKEY key, const char *name)
{
    DWORD value = 0;
    DWORD size = sizeof value;
    const LSTATUS status =
        ::RegGetValueA(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    if (status != ERROR_SUCCESS) {
        KT_WARNING(lcSettings, "the value %s cannot be read as a 32-bit integer: %s", name,
                   errorText(status).c_str());
        return {};
    }
    // A REG_DWORD of another length is damaged; not every registry refuses to read it.
    if (size != sizeof value) {
        KT_WARNING(lcSettings, "the value %s is a 32-bit integer of %lu bytes", name,
                   static_cast<unsigned long>(size));
        return {};
    }
    return Value::ofDword(value);
}

Value readString(HKEY key, const char *name)
{
    constexpr DWORD kFlags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
    std::string buffer;
    // The size is asked first; a value that grows in between is asked again.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD size = 0;
        LSTATUS status = ::RegGetValueA(key, nullptr, name, kFlags, nullptr, nullptr, &size);
        if (status == ERROR_SUCCESS) {
            buffer.assign(size + 1, '\0');
            size = static_cast<DWORD>(buffer.size());
            status = ::RegGetValueA(key, nullptr, name, kFlags, nullptr, buffer.data(), &size);
        }
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS) {
            KT_WARNING(lcSettings, "the value %s cannot be read as a string: %s", name,
                       errorText(status).c_str());
            return {};
        }
        // The text ends at its first zero, as the registry's string readers take it.
        return Value::ofString(std::string(buffer.c_str()));
    }
    KT_WARNING(lcSettings, "the value %s kept changing while it was read", name);
    return {};
}
} // namespace

RegistryStore::RegistryStore(HKEY root, std::string keyPath)
    : m_root(root)
    , m_keyPath(std::move(keyPath))
{
}

std::optional<KeyValues> RegistryStore::load()
{
    KeyHandle key;
    const LSTATUS opened = ::RegOpenKeyExA(m_root, m_keyPath.c_str(), 0, KEY_ALL_ACCESS, key.out());
    if (opened != ERROR_SUCCESS) {
        if (opened == ERROR_FILE_NOT_FOUND)
            KT_INFO(lcSettings, "no settings key %s: start-up values", m_keyPath.c_str());
        else
            KT_WARNING(lcSettings, "settings key %s not used, start-up values: %s",
                       m_keyPath.c_str(), errorText(opened).c_str());
        return std::nullopt;
    }

    KeyValues values;
    std::string name(kMaxValueName, '\0');
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = kMaxValueName;
        DWORD type = REG_NONE;
        const LSTATUS status = ::RegEnumValueA(key.get(), index, name.data(), &nameLength, nullptr,
                                               &type, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS) {
            KT_WARNING(lcSettings, "settings key %s: the values cannot be listed: %s",
                       m_keyPath.c_str(), errorText(status).c_str());
            return std::nullopt;
        }
        const std::string valueName(name.data(), nameLength);
        Value value;
        switch (type) {
        case REG_DWORD:
            value = readDword(key.get(), valueName.c_str());
            break;
        case REG_SZ:
        case REG_EXPAND_SZ:
            value = readString(key.get(), valueName.c_str());
            break;
        default:
            break; // Other: reading it as an integer or a string fails
        }
        values.insert_or_assign(valueName, std::move(value));
    }
    return values;
}

SaveResult RegistryStore::save(const std::vector<std::pair<std::string, Value>> &values)
{
    KeyHandle key;
    const LSTATUS created =
        ::RegCreateKeyExA(m_root, m_keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, key.out(), nullptr);
    if (created != ERROR_SUCCESS) {
        return saveFailed("settings not saved: the key %s cannot be opened: %s", m_keyPath.c_str(),
                          errorText(created).c_str());
    }
    for (const auto &[name, value] : values) {
        LSTATUS status = ERROR_INVALID_PARAMETER;
        switch (value.type) {
        case Value::Type::Dword: {
            const DWORD data = value.dword;
            status = ::RegSetValueExA(key.get(), name.c_str(), 0, REG_DWORD,
                                      reinterpret_cast<const BYTE *>(&data), sizeof data);
            break;
        }
        case Value::Type::String:
            // A zero inside would cut the text short when it is read back.
            if (value.text.find('\0') == std::string::npos && value.text.size() < 0x7FFFFFFF) {
                status = ::RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ,
                                          reinterpret_cast<const BYTE *>(value.text.c_str()),
                                          static_cast<DWORD>(value.text.size() + 1));
            }
            break;
        case Value::Type::Other:
            break;
        }
        if (status != ERROR_SUCCESS) {
            return saveFailed("settings not saved: the value %s cannot be stored: %s", name.c_str(),
                              errorText(status).c_str());
        }
    }
    return SaveResult::ok();
}

std::unique_ptr<SettingsStore> makeSystemStore()
{
    return std::make_unique<RegistryStore>();
}

} // namespace kt::settings
