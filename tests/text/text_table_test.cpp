#include "text/text_table.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <iconv.h>
#include <limits>
#include <optional>
#include <string>

namespace
{

using kt::text::kLanguageCount;
using kt::text::kTextCount;
using kt::text::kWebAddress;
using kt::text::Language;
using kt::text::textIn;
using enum kt::text::Language;

// The text converted by iconv into another character set; nullopt when it cannot be written
// there (or is not valid UTF-8).
std::optional<std::string> convert(std::string_view utf8, const char *charset)
{
    iconv_t cd = iconv_open(charset, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        ADD_FAILURE() << "iconv has no " << charset;
        return std::nullopt;
    }
    std::string in(utf8);
    std::string out(in.size() * 4 + 8, '\0');
    char *inPtr = in.data();
    char *outPtr = out.data();
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    const std::size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (result == static_cast<std::size_t>(-1) || inLeft != 0) {
        return std::nullopt;
    }
    out.resize(out.size() - outLeft);
    return out;
}

// The code points of a UTF-8 text; nullopt when it is not valid UTF-8.
std::optional<std::u32string> codePointsOf(std::string_view utf8)
{
    const auto utf32 = convert(utf8, "UTF-32LE");
    if (!utf32) {
        return std::nullopt;
    }
    std::u32string out;
    for (std::size_t i = 0; i + 3 < utf32->size(); i += 4) {
        char32_t cp = 0;
        for (std::size_t b = 4; b-- > 0;) {
            cp = (cp << 8) | static_cast<std::uint8_t>((*utf32)[i + b]);
        }
        out.push_back(cp);
    }
    return out;
}

bool isCjkIdeograph(char32_t cp)
{
    return cp >= 0x4E00 && cp <= 0x9FFF;
}

class TextTable : public ::testing::Test
{
protected:
    void TearDown() override { kt::text::setLanguage(English); }
};

TEST_F(TextTable, EveryTextIsPresentAndWellFormed)
{
    for (int k = 0; k < kTextCount; ++k) {
        for (Language language : kt::text::kLanguages) {
            SCOPED_TRACE("text " + std::to_string(k) + " language "
                         + std::to_string(static_cast<int>(language)));
            const std::string_view text = textIn(k, language);
            ASSERT_FALSE(text.empty());
            EXPECT_NE(text.front(), ' ');
            EXPECT_NE(text.back(), ' ');
            EXPECT_EQ(text.find('\0'), std::string_view::npos);

            const auto codePoints = codePointsOf(text);
            ASSERT_TRUE(codePoints.has_value()) << "not valid UTF-8";
            bool hasIdeograph = false;
            for (char32_t cp : *codePoints) {
                EXPECT_TRUE(cp >= 0x20 && (cp < 0x7F || isCjkIdeograph(cp)))
                    << "unexpected character U+" << std::hex << static_cast<std::uint32_t>(cp);
                hasIdeograph = hasIdeograph || isCjkIdeograph(cp);
            }
            // English is plain ASCII; every Chinese text holds at least one Chinese character.
            EXPECT_EQ(hasIdeograph, language != English);
        }
    }
}

// The simplified texts come from GB2312 and the traditional ones from Big5: a character
// taken from the wrong column (读 for 讀) does not exist in the other set.
TEST_F(TextTable, ChineseColumnsFitTheirCharacterSets)
{
    const struct {
        Language language;
        const char *charset;
    } columns[] = {{ChineseGB, "GB2312"}, {ChineseBIG5, "BIG5"}};
    for (const auto &column : columns) {
        for (int k = 0; k < kTextCount; ++k) {
            SCOPED_TRACE(std::string(column.charset) + " text " + std::to_string(k));
            EXPECT_TRUE(convert(textIn(k, column.language), column.charset).has_value())
                << textIn(k, column.language);
        }
    }
}

TEST_F(TextTable, SpotChecksAreByteExact)
{
    // Written as bytes, so an editor or compiler re-encoding this file cannot hide a slip.
    const struct {
        int k;
        Language language;
        std::string_view bytes;
    } cases[] = {
        {1, ChineseGB,
         "TALVO KT4500 \xe8\xaf\xbb\xe5\x8d\xa1\xe6\x9c\xba\xe8\xae\xbe\xe5\xae\x9a"
         "\xe7\xa8\x8b\xe5\xbc\x8f V3.20-01"}, // 读卡机设定程式
        {1, ChineseBIG5,
         "TALVO KT4500 \xe8\xae\x80\xe5\x8d\xa1\xe6\xa9\x9f\xe8\xa8\xad\xe5\xae\x9a"
         "\xe7\xa8\x8b\xe5\xbc\x8f V3.20-01"}, // 讀卡機設定程式
        {2, ChineseBIG5,
         "\xe8\xab\x8b\xe5\x85\x88\xe6\x8e\x83\xe6\x8f\x8f\xe8\xae\x80\xe5\x8d\xa1\xe6\xa9\x9f!"},
        {4, ChineseGB, "\xe7\xbc\x96\xe5\x8f\xb7"},   // 编号
        {4, ChineseBIG5, "\xe7\xb7\xa8\xe8\x99\x9f"}, // 編號
        {7, ChineseBIG5, "\xe8\xa8\xad\xe5\xae\x9a Wiegand/RS485 \xe6\xa8\xa1\xe5\xbc\x8f"},
        {8, ChineseGB,
         "\xe8\xaf\xbb\xe5\x8f\x96\xe5\x8d\xa1\xe7\x89\x87(\xe8\x87\xaa\xe5\x8a\xa8"
         "\xe8\xae\xbe\xe5\xae\x9a\xe4\xb8\xbaRS485\xe6\xa8\xa1\xe5\xbc\x8f)"},
        {9, ChineseGB, "\xe5\x87\xba\xe5\x8e\x82\xe9\xa2\x84\xe8\xae\xbe"},   // 出厂预设
        {9, ChineseBIG5, "\xe5\x87\xba\xe5\xbb\xa0\xe9\xa0\x90\xe8\xa8\xad"}, // 出廠預設
        {14, ChineseGB, "\xe5\x8d\xa1\xe7\x89\x87ID"},                        // 卡片ID
        {14, ChineseBIG5, "\xe5\x8d\xa1\xe7\x89\x87ID"},
        {21, ChineseBIG5,
         "\xe8\xae\x80\xe5\x8f\x96\xe8\xae\x80\xe5\x8d\xa1\xe6\xa9\x9f\xe8\xb3\x87"
         "\xe8\xa8\x8a\xe5\xae\x8c\xe6\x88\x90. (\xe4\xb8\xb2\xe5\x8f\xa3"},
        {23, ChineseGB,
         "\xe8\xaf\xbb\xe5\x8d\xa1\xe6\x9c\xba\xe6\xb2\xa1\xe6\x9c\x89\xe8\xbf\x9e"
         "\xe7\xba\xbf"}, // 读卡机没有连线
        {46, ChineseBIG5,
         "\xe8\xa8\xad\xe5\xae\x9a\xe9\xa0\x90\xe8\xa8\xadRS485 115200 "
         "\xe6\xa8\xa1\xe5\xbc\x8f\xe9\x8c\xaf\xe8\xaa\xa4"},
        {21, English, "Get Reader Info Ok. (COM"},
        {23, English, "Reader Not Find"},
        {45, English, "Set Default RS485 115200 Ok"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("text " + std::to_string(c.k) + " language "
                     + std::to_string(static_cast<int>(c.language)));
        EXPECT_EQ(textIn(c.k, c.language), c.bytes);
    }
}

TEST_F(TextTable, MakerLineEndsWithTheWebAddressInEveryLanguage)
{
    const std::string address = "   " + std::string(kWebAddress);
    EXPECT_EQ(textIn(0, English), "TALVO Technology Corp." + address);
    EXPECT_EQ(textIn(0, ChineseGB),
              "\xe5\xa1\x94\xe6\xb2\x83\xe8\x82\xa1\xe4\xbb\xbd\xe6\x9c\x89\xe9\x99\x90\xe5\x85\xac"
              "\xe5\x8f\xb8"
                  + address); // 塔沃股份有限公司
    EXPECT_EQ(textIn(0, ChineseBIG5), textIn(0, ChineseGB));
}

TEST_F(TextTable, ChineseColumnsDifferWhereTheScriptsDiffer)
{
    // Texts whose characters are the same in both scripts, and some that are not.
    const int same[] = {0, 12, 14, 19};
    const int different[] = {1, 2, 3, 4, 5, 8, 9, 13, 18, 21, 23, 26, 35, 46};
    for (int k : same) {
        SCOPED_TRACE("text " + std::to_string(k));
        EXPECT_EQ(textIn(k, ChineseGB), textIn(k, ChineseBIG5));
    }
    for (int k : different) {
        SCOPED_TRACE("text " + std::to_string(k));
        EXPECT_NE(textIn(k, ChineseGB), textIn(k, ChineseBIG5));
    }
}

TEST_F(TextTable, OutOfRangeLookupsGiveEmptyTexts)
{
    const struct {
        int k;
        int language;
    } cases[] = {{-1, 0}, {kTextCount, 0}, {0, -1}, {0, kLanguageCount}, {1000, 1000}};
    for (const auto &c : cases) {
        SCOPED_TRACE("text " + std::to_string(c.k) + " language " + std::to_string(c.language));
        EXPECT_TRUE(textIn(c.k, static_cast<Language>(c.language)).empty());
    }
    EXPECT_TRUE(kt::text::localText(kTextCount).empty());
    EXPECT_TRUE(kt::text::localText(-1).empty());
}

TEST_F(TextTable, LocalTextFollowsTheLanguageIndex)
{
    EXPECT_EQ(kt::text::currentLanguage(), English) << "the process starts in English";
    for (Language language : {ChineseBIG5, ChineseGB, English, ChineseGB}) {
        SCOPED_TRACE("language " + std::to_string(static_cast<int>(language)));
        kt::text::setLanguage(language);
        EXPECT_EQ(kt::text::currentLanguage(), language);
        EXPECT_EQ(kt::text::localText(25), textIn(25, language));
        EXPECT_EQ(kt::text::localText(0), textIn(0, language));
    }
}

TEST_F(TextTable, InvalidLanguageIndexFallsBackToEnglish)
{
    for (int language : {-1, kLanguageCount, 99, std::numeric_limits<int>::min()}) {
        SCOPED_TRACE("language " + std::to_string(language));
        kt::text::setLanguage(ChineseBIG5);
        kt::text::setLanguage(static_cast<Language>(language));
        EXPECT_EQ(kt::text::currentLanguage(), English);
        EXPECT_EQ(kt::text::localText(17), "Scan Reader");
    }
}

TEST(LanguageName, OnlyExactNamesSelectChinese)
{
    using namespace std::string_view_literals;
    const struct {
        std::string_view name;
        Language language;
    } cases[] = {
        {"English", English},         {"ChineseGB", ChineseGB},
        {"ChineseBIG5", ChineseBIG5}, {"", English},
        {"chinesegb", English},       {"CHINESEGB", English},
        {"ChineseBig5", English},     {"ChineseGB ", English},
        {" ChineseGB", English},      {"ChineseGB\0"sv, English},
        {"ChineseBIG", English},      {"Chinese", English},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("name \"") + std::string(c.name) + "\"");
        EXPECT_EQ(kt::text::languageOf(c.name), c.language);
    }
}

} // namespace
