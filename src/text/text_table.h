#pragma once

#include <array>
#include <string>
#include <string_view>

namespace kt::text
{

constexpr int kTextCount = 47;
constexpr int kLanguageCount = 3;

// LanguageIndex values.
enum Language : int { English = 0, ChineseGB = 1, ChineseBIG5 = 2 };

// The language names the settings store keeps; indexed by Language.
inline constexpr std::array<std::string_view, kLanguageCount> kLanguageNames = {
    "English", "ChineseGB", "ChineseBIG5"};

inline constexpr std::string_view kWebAddress = "www.talvo.example";

// What pnSerial and pnVersion show after their labels while no reader has been read.
inline constexpr std::string_view kNoSerialNumber = " : ________";
inline constexpr std::string_view kNoVersion = " : __.__-__";

// Text k (0..46) in language L (0..2), UTF-8. Out-of-range arguments give an empty text.
std::string_view textIn(int k, int language);

// The process-wide LanguageIndex: 0 at start-up, always 0, 1 or 2.
int languageIndex();
void setLanguageIndex(int language); // values outside 0..2 become 0

// Text k in the current language.
std::string localText(int k);

// The language index of a stored language name: "ChineseGB" 1, "ChineseBIG5" 2, any other
// text 0. The comparison is exact and case-sensitive ("chinesegb" is English).
int languageIndexOf(std::string_view languageName);

} // namespace kt::text
