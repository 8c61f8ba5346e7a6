#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace kt::text
{

constexpr int kTextCount = 47;
// The languages the texts are kept in, in the order of the text table's columns.
enum class Language { English, ChineseGB, ChineseBIG5 };
inline constexpr std::array<Language, 3> kLanguages = {Language::English, Language::ChineseGB,
                                                       Language::ChineseBIG5};
constexpr int kLanguageCount = static_cast<int>(kLanguages.size());

// The language names the settings store keeps, in the order of Language.
inline constexpr std::array<std::string_view, kLanguageCount> kLanguageNames = {
    "English", "ChineseGB", "ChineseBIG5"};

// The stored name of a language ("ChineseGB"); empty for a value that is none of them.
constexpr std::string_view languageName(Language language)
{
    const auto at = static_cast<std::size_t>(language);
    return at < kLanguageNames.size() ? kLanguageNames[at] : std::string_view();
}

inline constexpr std::string_view kWebAddress = "www.talvo.example";

// What pnSerial and pnVersion show after their labels while no reader has been read.
inline constexpr std::string_view kNoSerialNumber = " : ________";
inline constexpr std::string_view kNoVersion = " : __.__-__";

// Text k (0..46) in a language, UTF-8. Out-of-range arguments give an empty text.
std::string_view textIn(int k, Language language);

// The process-wide language (LanguageIndex): English at start-up.
Language currentLanguage();
void setLanguage(Language language); // a value that is none of the languages becomes English

// Text k in the current language.
std::string localText(int k);

// The language of a stored language name: "ChineseGB", "ChineseBIG5", English for any other
// text. The comparison is exact and case-sensitive ("chinesegb" is English).
Language languageOf(std::string_view languageName);

} // namespace kt::text
