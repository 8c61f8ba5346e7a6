// The settings file as anyone in the dialout group may have left it: whatever its bytes, the
// reader keeps every line byte for byte, a save rewrites only the values it sets (each reads
// back as written, every other value of the key stays as it was), and loading the four
// settings from it ends in values the window can use.

#include "base/utf8.h"
#include "fuzz_support.h"
#include "settings/app_settings.h"
#include "settings/reg_format.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace
{

using kt::fuzz::require;
using kt::settings::KeyValues;
using kt::settings::Value;
namespace reg = kt::settings::reg;

class DocumentStore final : public kt::settings::SettingsStore
{
public:
    explicit DocumentStore(const reg::Document &doc)
        : m_doc(doc)
    {
    }
    std::optional<KeyValues> load() override
    {
        if (!m_doc.hasKey(reg::kSettingsKey))
            return std::nullopt;
        return m_doc.values(reg::kSettingsKey);
    }
    kt::settings::SaveResult save(const std::vector<std::pair<std::string, Value>> &) override
    {
        return kt::settings::SaveResult::failed("read only");
    }

private:
    const reg::Document &m_doc;
};

const Value *find(const KeyValues &values, std::string_view name)
{
    for (const auto &[stored, value] : values) {
        if (reg::sameName(stored, name))
            return &value;
    }
    return nullptr;
}

bool sameValue(const Value &a, const Value &b)
{
    if (a.type != b.type)
        return false;
    if (a.type == Value::Type::Dword)
        return a.dword == b.dword;
    if (a.type == Value::Type::String)
        return a.text == b.text;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    kt::fuzz::silenceLog();
    const std::string_view bytes = kt::fuzz::textOf(data, size);
    auto doc = reg::Document::parse(bytes);
    require(doc.text() == bytes, "parsing keeps the file byte for byte");
    require(doc.problems(reg::kSettingsKey).size() <= reg::Document::kMaxProblems + 1,
            "the problem list is bounded");

    DocumentStore store(doc);
    const auto loaded = kt::settings::loadSettings(store);
    require(!kt::text::languageName(loaded.language).empty(), "a known language");

    const bool hadKey = doc.hasKey(reg::kSettingsKey);
    const KeyValues before = doc.values(reg::kSettingsKey);

    // A string from the file's own first bytes, so that quotes, backslashes, control
    // characters and stray UTF-8 all get written; a registry string cannot hold a NUL.
    std::string text(bytes.substr(0, 48));
    std::erase(text, '\0');
    const std::array<std::pair<std::string, Value>, 4> written = {{
        {"ScanCommNo", Value::ofDword(size > 0 ? data[0] * 0x01010101u : 7)},
        {"ScanBaudRateNo", Value::ofDword(0xFFFFFFFFu)},
        {"ScanBaudRate", Value::ofString(text)},
        {"LanguageFlag", Value::ofString("ChineseBIG5")},
    }};
    for (const auto &[name, value] : written) {
        const bool set = doc.setValue(reg::kSettingsKey, name, value);
        require(set == (doc.status() != reg::Document::Status::NotRegFile),
                "a value can be set in every registry file, and in nothing else");
        if (!set)
            return 0;
    }

    const auto again = reg::Document::parse(doc.text());
    require(again.status() == reg::Document::Status::Ok, "a saved file is a registry file");
    require(again.hasKey(reg::kSettingsKey), "a saved file holds the key");
    const KeyValues after = again.values(reg::kSettingsKey);
    for (const auto &[name, value] : written) {
        const Value *stored = find(after, name);
        require(stored != nullptr, "a value written is there");
        // A "Version 5.00" file stores strings in UTF-16, which cannot carry broken UTF-8.
        if (value.type == Value::Type::String && !kt::base::isUtf8(value.text))
            continue;
        require(sameValue(*stored, value), "a value written reads back as written");
    }
    if (hadKey) {
        for (const auto &[name, value] : before) {
            bool isWritten = false;
            for (const auto &entry : written)
                isWritten = isWritten || reg::sameName(entry.first, name);
            if (isWritten)
                continue;
            const Value *kept = find(after, name);
            require(kept != nullptr && sameValue(*kept, value), "other values are kept");
        }
    }
    return 0;
}
