#include "settings/reg_format.h"

#include <cctype>
#include <cstdint>
#include <gtest/gtest.h>

namespace kt::settings
{
bool operator==(const Value &a, const Value &b)
{
    return a.type == b.type && a.dword == b.dword && a.text == b.text;
}
} // namespace kt::settings

using namespace kt::settings;
using reg::Document;

namespace
{

const std::string kKey(reg::kSettingsKey);
const std::string kHead = "REGEDIT4\n\n[" + kKey + "]\n";
const std::string kHead5 = "Windows Registry Editor Version 5.00\n[" + kKey + "]\n";
const Value kOther;

Value d(std::uint32_t v)
{
    return Value::ofDword(v);
}
Value s(std::string text)
{
    return Value::ofString(std::move(text));
}

TEST(RegParse, ReadsTheKeysValues)
{
    const std::pair<std::string, KeyValues> cases[] = {
        {kHead + "\"a\"=dword:0000002a\n\"b\"=\"19200,e,8,1\"\n",
         {{"a", d(42)}, {"b", s("19200,e,8,1")}}},
        {"Windows Registry Editor Version 5.00\r\n\r\n[hkey_local_machine\\SOFTWARE\\talvo\\"
         "readerCONFIG]\r\n\"a\"=DWORD:FFFFFFFF\r\n@ = dword:3\r\n",
         {{"a", d(0xFFFFFFFF)}, {"", d(3)}}},
        {kHead
             + R"("a"="say \"hi\" C:\\dir\\")"
               "\n",
         {{"a", s(R"(say "hi" C:\dir\)")}}},
        {kHead + "\"a\"=hex(2):25,50,41,54,48,25,00\n", {{"a", s("%PATH%")}}},
        {kHead5 + "\"a\"=hex(2):2d,4e,41,00,\\\n  3d,d8,00,de,00,00,42,00\n",
         {{"a", s("\xE4\xB8\xAD"
                  "A"
                  "\xF0\x9F\x98\x80")}}},
        {kHead + "\"a\"=hex(4):03,00,00,80\n", {{"a", d(0x80000003)}}},
        {kHead + "\"ScanCommNo\"=dword:1\n\"scancommno\"=dword:2\n", {{"ScanCommNo", d(2)}}},
        {kHead + "\"a\"=dword:1\n\"b\"=dword:2\n\"a\"=-\n[-" + kKey + "]\n[" + kKey
             + "]\n\"c\"=\"\"\n",
         {{"c", s("")}}},
        {"REGEDIT4\n\"x\"=dword:9\n[" + kKey + "\\Sub]\n\"x\"=dword:1\n[" + kKey
             + "]\n; comment\n\n\"y\"=dword:2\n[HKEY_LOCAL_MACHINE\\Software\\TALVO]\n"
               "\"z\"=dword:3\n["
             + kKey + "\n\"w\"=dword:4\n",
         {{"y", d(2)}}},
        // A continued list takes the next line, whatever it looks like.
        {kHead + "\"a\"=hex:00,\\\n\"b\"=dword:7\n", {{"a", kOther}}},
        {kHead + "junk\n\"unterminated\n\"a\"\n", {{"a", kOther}}},
        {"\xEF\xBB\xBFREGEDIT4\n[" + kKey + "]\n\"a\"=\"b\"", {{"a", s("b")}}},
    };
    for (const auto &[text, expected] : cases) {
        SCOPED_TRACE(text);
        const auto doc = Document::parse(text);
        EXPECT_TRUE(doc.hasKey(kKey));
        EXPECT_EQ(doc.values(kKey), expected);
        EXPECT_EQ(doc.text(), text);
    }
}

TEST(RegParse, UnreadableDataAndOtherTypesAreOther)
{
    const std::string data[] = {"dword:123456789",
                                "dword:x",
                                "dword:",
                                "",
                                "\"open",
                                "\"x\"y",
                                "\"\\n\"",
                                "hex:1,,2",
                                "hex:123",
                                "hex(zz):00",
                                "hex(2)00",
                                "hex(4):01,00",
                                "str:\"x\"",
                                "hex:01,02",
                                "hex(7):00",
                                "hex(b):00,00,00,00,00,00,00,00",
                                std::string("\"x\0y\"", 5)};
    for (const auto &d : data) {
        SCOPED_TRACE(d);
        EXPECT_EQ(Document::parse(kHead + "\"a\"=" + d + "\n").values(kKey),
                  (KeyValues{{"a", kOther}}));
    }
}

TEST(RegParse, TellsWhetherTheKeyExists)
{
    using S = Document::Status;
    const std::tuple<std::string, S, bool> cases[] = {
        {"", S::Empty, false},
        {" \r\n\n\t", S::Empty, false},
        {"REGEDIT4\n\"a\"=dword:1\n", S::Ok, false},
        {"REGEDIT4\n[" + kKey + "\\Sub]\n", S::Ok, true},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\TALVO]\n", S::Ok, false},
        {kHead + "[-HKEY_LOCAL_MACHINE\\Software\\TALVO]\n", S::Ok, false},
        {kHead + "[-" + kKey + "\\Sub]\n", S::Ok, true},
        {"REGEDIT4\n[" + kKey + "\n", S::Ok, false},
        {"REGEDIT5\n[" + kKey + "]\n", S::NotRegFile, false},
        {std::string("\xFF\xFER\0E\0", 6), S::NotRegFile, false},
    };
    for (const auto &[text, status, hasKey] : cases) {
        SCOPED_TRACE(text);
        const auto doc = Document::parse(text);
        EXPECT_EQ(doc.status(), status);
        EXPECT_EQ(doc.hasKey(kKey), hasKey);
        EXPECT_EQ(doc.text(), text);
    }
}

TEST(RegEdit, KeepsEverythingElseByteForByte)
{
    const std::string other = "[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n\"a\"=dword:1\r\n";
    const std::string k = "[" + kKey + "]";
    const std::tuple<std::string, std::vector<std::pair<std::string, Value>>, std::string> cases[] =
        {
            {"REGEDIT4\r\n; keep\r\n\r\n" + other + "\r\n" + k
                 + "\r\n\"ScanCommNo\"=\"bad\"\r\n\"x\"=hex:00,\\\r\n  01\r\n",
             {{"scancommno", d(7)}, {"x", s("y")}},
             "REGEDIT4\r\n; keep\r\n\r\n" + other + "\r\n" + k
                 + "\r\n\"scancommno\"=dword:00000007\r\n\"x\"=\"y\"\r\n"},
            {kHead + "\"a\"=dword:1\n; trailing\n\n" + other,
             {{"b", s("q\"\\")}},
             kHead + "\"a\"=dword:1\n\"b\"=\"q\\\"\\\\\"\n; trailing\n\n" + other},
            {kHead + "\"a\"=dword:1\n\"a\"=dword:2\n",
             {{"a", d(3)}},
             kHead + "\"a\"=dword:1\n\"a\"=dword:00000003\n"},
            {kHead + "\"a\"=-\n", {{"a", d(1)}}, kHead + "\"a\"=dword:00000001\n"},
            {"REGEDIT4\n" + other,
             {{"a", d(0xFFFFFFFF)}},
             "REGEDIT4\n" + other + "\n" + k + "\n\"a\"=dword:ffffffff\n"},
            {"REGEDIT4\n" + k + "\n\"a\"=dword:1",
             {{"b", d(2)}},
             "REGEDIT4\n" + k + "\n\"a\"=dword:1\n\"b\"=dword:00000002\n"},
            // A list cut off at the end would take the new line as its continuation.
            {"REGEDIT4\n" + k + "\n\"a\"=hex:00,\\",
             {{"b", d(2)}},
             "REGEDIT4\n" + k + "\n\"a\"=hex:00,\\\n\n\"b\"=dword:00000002\n"},
            {kHead + "[-" + kKey + "]\n",
             {{"a", d(2)}},
             kHead + "[-" + kKey + "]\n\n" + k + "\n\"a\"=dword:00000002\n"},
            {"",
             {{"LanguageFlag", s("ChineseBIG5")}},
             kHead + "\"LanguageFlag\"=\"ChineseBIG5\"\n"},
            {kHead, {{"a", s("x\ny")}}, kHead + "\"a\"=hex(1):78,0a,79,00\n"},
            {kHead5, {{"a", s("\xE4\xB8\xAD\n")}}, kHead5 + "\"a\"=hex(1):2d,4e,0a,00,00,00\n"},
        };
    for (const auto &[before, edits, after] : cases) {
        SCOPED_TRACE(before);
        auto doc = Document::parse(before);
        for (const auto &[name, value] : edits)
            EXPECT_TRUE(doc.setValue(kKey, name, value));
        EXPECT_EQ(doc.text(), after);
    }
}

TEST(RegEdit, StringsReadBackAsWritten)
{
    for (const auto &head : {kHead, kHead5}) {
        for (const std::string text :
             {"", "q\"uote", "back\\slash\\", "tab\there", "line\nbreak", "cr\r\nlf", "caf\xC3\xA9",
              "\xE4\xB8\xAD", "\xFF raw", "\xF0\x9F\x98\x80\n"}) {
            SCOPED_TRACE(head + text);
            auto doc = Document::parse(head);
            ASSERT_TRUE(doc.setValue(kKey, "v", s(text)));
            EXPECT_EQ(Document::parse(doc.text()).values(kKey), (KeyValues{{"v", s(text)}}));
        }
    }
}

KeyValues lowered(const KeyValues &values)
{
    KeyValues out;
    for (const auto &[name, value] : values) {
        std::string lower = name;
        for (char &c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        out[lower] = value;
    }
    return out;
}

// Random documents built from the format's own pieces: parsing keeps every byte, and a value
// set is read back while every other value of the key stays as it was.
TEST(RegEdit, GarbageNeverChangesOtherValues)
{
    const std::string pieces[] = {"\n",
                                  "\r\n",
                                  "\"",
                                  "\\",
                                  "=",
                                  "[",
                                  "]",
                                  "-",
                                  "@",
                                  ";",
                                  ",",
                                  " ",
                                  "hex:",
                                  "00",
                                  "1",
                                  "hex(2)",
                                  "dword:",
                                  "\"a\"",
                                  "\"v\"=",
                                  "\xFF",
                                  "[" + kKey + "]",
                                  "[-" + kKey + "]",
                                  std::string(1, '\0')};
    std::uint32_t seed = 12345;
    const auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
    for (std::uint32_t round = 0; round < 500; ++round) {
        std::string text = round % 2 ? kHead : "REGEDIT4\n";
        for (std::uint32_t n = next() % 60; n > 0; --n)
            text += pieces[next() % std::size(pieces)];
        SCOPED_TRACE(testing::PrintToString(text));
        auto doc = Document::parse(text);
        ASSERT_EQ(doc.text(), text);
        auto expected = lowered(doc.values(kKey));
        expected["v"] = d(round);
        ASSERT_TRUE(doc.setValue(kKey, "v", d(round)));
        EXPECT_EQ(lowered(Document::parse(doc.text()).values(kKey)), expected);
    }
}

TEST(RegParse, ReadsLargeInput)
{
    const std::string longText(100000, 'x');
    const auto doc = Document::parse(kHead + "\"a\"=\"" + longText + "\"\n"
                                     + std::string(1 << 18, '\n') + std::string(200000, 'j'));
    EXPECT_EQ(doc.values(kKey), (KeyValues{{"a", s(longText)}}));
    EXPECT_EQ(doc.problems(kKey).size(), 1u);
}

} // namespace
