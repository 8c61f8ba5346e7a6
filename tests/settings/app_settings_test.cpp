#include "settings/app_settings.h"
#include "settings/posix/reg_file_store.h"
#include "settings/reg_format.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

using namespace kt::settings;
using kt::test::readFile;
using kt::test::TempDir;
using kt::test::writeFile;

namespace
{

const std::string kKey(reg::kSettingsKey);
const std::string kHead = "REGEDIT4\n\n[" + kKey + "]\n";
const std::string kDefaults = "0|19200,e,8,1|5|English|0";

std::string describe(const LoadedSettings &l)
{
    const auto &s = l.settings;
    return std::to_string(s.portNumber) + "|" + s.lineSettingsText + "|"
           + std::to_string(s.lineSettingsIndex) + "|" + s.languageName + "|"
           + std::to_string(static_cast<int>(l.language));
}

TEST(LoadSettings, FollowsTheStoredValues)
{
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {std::nullopt, "0||0||0"}, // no file: the start-up values
        {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\TALVO]\n", "0||0||0"},
        {kHead, kDefaults},
        {kHead + "\"LanguageFlag\"=\"ChineseBIG5\"\n", "0|19200,e,8,1|5|ChineseBIG5|2"},
        {kHead + "\"LanguageFlag\"=\"ChineseGB\"\n", "0|19200,e,8,1|5|ChineseGB|1"},
        {kHead + "\"LanguageFlag\"=\"chinesegb\"\n", "0|19200,e,8,1|5|chinesegb|0"},
        {kHead + "\"LanguageFlag\"=\"ChineseGB \"\n", "0|19200,e,8,1|5|ChineseGB |0"},
        {"REGEDIT4\r\n[" + kKey
             + "]\r\n\"scancommno\"=dword:00000003\r\n\"ScanBaudRate\"=\"9600,n,8,1\"\r\n"
               "\"ScanBaudRateNo\"=dword:2\r\n\"LanguageFlag\"=\"\"\r\n",
         "3|9600,n,8,1|2||0"},
        {kHead + "\"ScanBaudRate\"=hex(2):25,58,25,00\n\"ScanCommNo\"=hex(4):07,00,00,00\n",
         "7|%X%|5|English|0"},
        {kHead + "\"ScanCommNo\"=dword:ffffffff\n\"ScanBaudRateNo\"=dword:80000000\n",
         "-1|19200,e,8,1|-2147483648|English|0"},
        // A value of another type anywhere: all four defaults.
        {kHead
             + "\"ScanCommNo\"=dword:3\n\"ScanBaudRate\"=\"9600,n,8,1\"\n"
               "\"ScanBaudRateNo\"=\"2\"\n\"LanguageFlag\"=\"ChineseGB\"\n",
         kDefaults},
        {kHead + "\"ScanCommNo\"=\"3\"\n\"LanguageFlag\"=\"ChineseGB\"\n", kDefaults},
        {kHead + "\"ScanCommNo\"=dword:3\n\"LanguageFlag\"=dword:1\n", kDefaults},
        {kHead + "\"ScanCommNo\"=dword:3\n\"ScanBaudRate\"=hex:39,00\n", kDefaults},
        {kHead + "\"ScanCommNo\"=dword:3x\n\"ScanBaudRateNo\"=dword:2\n", kDefaults},
        // Lines without a value name are skipped: here "LanguageFlag" is missing.
        {kHead + std::string("\0\xFF\x01junk\n", 8) + "\"ScanCommNo\"=dword:3\n\"LanguageFl",
         "3|19200,e,8,1|5|English|0"},
    };
    for (const auto &[file, expected] : cases) {
        SCOPED_TRACE(file.value_or("no file"));
        TempDir dir;
        const auto path = dir.file("ReaderConfig.reg");
        if (file)
            writeFile(path, *file);
        RegFileStore store(path);
        EXPECT_EQ(describe(loadSettings(store)), expected);
        EXPECT_EQ(std::filesystem::exists(path), file.has_value()) << "loading created a file";
        EXPECT_EQ(readFile(path), file.value_or("")) << "loading changed the file";
    }
}

TEST(SaveSettings, LanguageSaveWithNoFileCreatesTheKeyWithOnlyLanguageFlag)
{
    TempDir dir;
    const auto path = dir.file("new/folder/ReaderConfig.reg");
    RegFileStore store(path);
    saveLanguage(store, AppSettings{3, "9600,n,8,1", 2, "ChineseBIG5"});
    EXPECT_EQ(readFile(path), kHead + "\"LanguageFlag\"=\"ChineseBIG5\"\n");
}

TEST(SaveSettings, LinkSaveKeepsTheRestByteForByte)
{
    TempDir dir;
    const auto path = dir.file("ReaderConfig.reg");
    const std::string head =
        "REGEDIT4\r\n; by hand\r\n\r\n[" + kKey + "]\r\n\"LanguageFlag\"=\"ChineseGB\"\r\n";
    const std::string tail = "\r\n[" + kKey + "\\Sub]\r\n\"x\"=\"y\"\r\n";
    writeFile(path, head + "\"ScanBaudRateNo\"=\"5\"\r\n\"Extra\"=hex:00,01\r\n" + tail);
    RegFileStore store(path);
    ASSERT_EQ(describe(loadSettings(store)), kDefaults);

    saveLinkSettings(store, AppSettings{3, "9600,n,8,1", 2, "ignored"});
    EXPECT_EQ(readFile(path), head
                                  + "\"ScanBaudRateNo\"=dword:00000002\r\n\"Extra\"=hex:00,01\r\n"
                                    "\"ScanCommNo\"=dword:00000003\r\n"
                                    "\"ScanBaudRate\"=\"9600,n,8,1\"\r\n"
                                  + tail);
    EXPECT_EQ(describe(loadSettings(store)), "3|9600,n,8,1|2|ChineseGB|1");
}

TEST(SaveSettings, AnyTextAndNumberReadBackAsSaved)
{
    TempDir dir;
    RegFileStore store(dir.file("ReaderConfig.reg"));
    // A line break in a text must not become a line of its own in the file.
    const AppSettings odd{-7, "19200,e,8,1\n\"ScanCommNo\"=dword:00000063", 2147483647, "x\"\\"};
    saveLinkSettings(store, odd);
    saveLanguage(store, odd);
    EXPECT_EQ(describe(loadSettings(store)),
              describe(LoadedSettings{odd, kt::text::Language::English}));
}

} // namespace
