// The registry store against the system's registry (Wine's, under Wine). Values are written
// with their raw types under a scratch key of the current user, so that the type rules of
// the settings load are checked as the registry itself keeps the values.

#include "settings/app_settings.h"
#include "settings/win32/registry_store.h"
#include "wine.h"

#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

using namespace kt::settings;

namespace
{

struct Raw {
    std::string name;
    DWORD type;
    std::string bytes;
};

Raw dword(std::string name, std::uint32_t v)
{
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &v, 4);
    return {std::move(name), REG_DWORD, bytes};
}
Raw sz(std::string name, const std::string &text, DWORD type = REG_SZ)
{
    return {std::move(name), type, text + '\0'};
}

std::string describe(const LoadedSettings &l)
{
    const auto &s = l.settings;
    return std::to_string(s.portNumber) + "|" + s.lineSettingsText + "|"
           + std::to_string(s.lineSettingsIndex) + "|" + s.languageName + "|"
           + std::to_string(static_cast<int>(l.language));
}

const std::string kDefaults = "0|19200,e,8,1|5|English|0";

class RegistryStoreTest : public testing::Test
{
protected:
    void SetUp() override
    {
        keyPath = "Software\\kt4500-test\\ReaderConfig-" + std::to_string(::GetCurrentProcessId());
        removeKey();
    }
    void TearDown() override
    {
        removeKey();
        ::RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\kt4500-test"); // only when empty
    }

    void removeKey() { ::RegDeleteTreeA(HKEY_CURRENT_USER, keyPath.c_str()); }

    void write(const std::vector<Raw> &values)
    {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        for (const Raw &v : values) {
            EXPECT_EQ(::RegSetValueExA(key, v.name.c_str(), 0, v.type,
                                       reinterpret_cast<const BYTE *>(v.bytes.data()),
                                       static_cast<DWORD>(v.bytes.size())),
                      ERROR_SUCCESS)
                << v.name;
        }
        ::RegCloseKey(key);
    }

    bool keyExists() const
    {
        HKEY key = nullptr;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        ::RegCloseKey(key);
        return true;
    }

    // The stored type and bytes of a value; nullopt when it is missing.
    std::optional<Raw> stored(const std::string &name) const
    {
        DWORD type = 0;
        DWORD size = 0;
        if (::RegGetValueA(HKEY_CURRENT_USER, keyPath.c_str(), name.c_str(),
                           RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, &size)
            != ERROR_SUCCESS)
            return std::nullopt;
        std::string bytes(size, '\0');
        ::RegGetValueA(HKEY_CURRENT_USER, keyPath.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND,
                       &type, bytes.data(), &size);
        bytes.resize(size);
        return Raw{name, type, bytes};
    }

    DWORD valueCount() const
    {
        HKEY key = nullptr;
        DWORD count = 0;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_READ, &key)
            == ERROR_SUCCESS) {
            ::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                               nullptr, nullptr, nullptr, nullptr);
            ::RegCloseKey(key);
        }
        return count;
    }

    RegistryStore store() const { return RegistryStore(HKEY_CURRENT_USER, keyPath); }

    std::string keyPath;
};

} // namespace

TEST_F(RegistryStoreTest, LoadFollowsTheStoredTypes)
{
    const std::string longText(5000, 'x');
    const struct {
        const char *what;
        std::optional<std::vector<Raw>> values;
        std::string expected;
    } cases[] = {
        {"no key: start-up values", std::nullopt, "0||0||0"},
        {"empty key: defaults", std::vector<Raw>{}, kDefaults},
        {"all four",
         std::vector<Raw>{dword("ScanCommNo", 3), sz("ScanBaudRate", "9600,n,8,1"),
                          dword("ScanBaudRateNo", 2), sz("LanguageFlag", "ChineseGB")},
         "3|9600,n,8,1|2|ChineseGB|1"},
        {"language only", std::vector<Raw>{sz("LanguageFlag", "ChineseBIG5")},
         "0|19200,e,8,1|5|ChineseBIG5|2"},
        {"names in other letter case", std::vector<Raw>{dword("scancommno", 7)},
         "7|19200,e,8,1|5|English|0"},
        {"integers taken as stored", std::vector<Raw>{dword("ScanCommNo", 0xFFFFFFFF)},
         "-1|19200,e,8,1|5|English|0"},
        {"REG_EXPAND_SZ is not expanded",
         std::vector<Raw>{sz("ScanBaudRate", "%SystemRoot%", REG_EXPAND_SZ)},
         "0|%SystemRoot%|5|English|0"},
        {"a string without its zero", std::vector<Raw>{{"ScanBaudRate", REG_SZ, "9600,n,8,1"}},
         "0|9600,n,8,1|5|English|0"},
        {"a long string", std::vector<Raw>{sz("LanguageFlag", longText)},
         "0|19200,e,8,1|5|" + longText + "|0"},
        {"an unrelated value of any type",
         std::vector<Raw>{{"Other", REG_BINARY, "\x01\x02"}, dword("ScanCommNo", 4)},
         "4|19200,e,8,1|5|English|0"},
        // A damaged value gives the defaults for all four, also for those read before it.
        {"port as REG_SZ", std::vector<Raw>{dword("ScanBaudRateNo", 9), sz("ScanCommNo", "3")},
         kDefaults},
        {"index as REG_SZ",
         std::vector<Raw>{dword("ScanCommNo", 3), sz("ScanBaudRateNo", "5"),
                          sz("LanguageFlag", "ChineseGB"), sz("ScanBaudRate", "9600,n,8,1")},
         kDefaults},
        {"language as REG_DWORD", std::vector<Raw>{dword("LanguageFlag", 1)}, kDefaults},
        {"line text as REG_MULTI_SZ",
         std::vector<Raw>{{"ScanBaudRate", REG_MULTI_SZ, std::string("9600,n,8,1\0\0", 12)}},
         kDefaults},
        {"port as REG_BINARY", std::vector<Raw>{{"ScanCommNo", REG_BINARY, "\x03\0\0\0"}},
         kDefaults},
        {"port as REG_QWORD",
         std::vector<Raw>{{"ScanCommNo", REG_QWORD, std::string("\x03\0\0\0\0\0\0\0", 8)}},
         kDefaults},
        {"port as REG_DWORD_BIG_ENDIAN",
         std::vector<Raw>{{"ScanCommNo", REG_DWORD_BIG_ENDIAN, std::string("\0\0\0\x03", 4)}},
         kDefaults},
        {"port as a REG_DWORD of two bytes",
         std::vector<Raw>{{"ScanCommNo", REG_DWORD, std::string("\x03\0", 2)}}, kDefaults},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        removeKey();
        if (c.values)
            write(*c.values);
        RegistryStore s = store();
        EXPECT_EQ(describe(loadSettings(s)), c.expected);
        EXPECT_EQ(keyExists(), c.values.has_value()) << "a load never creates the key";
    }
}

TEST_F(RegistryStoreTest, SavesWriteTypedValuesAndKeepTheOthers)
{
    write({sz("ScanCommNo", "damaged"), {"Other", REG_BINARY, "\x7F"}});
    RegistryStore s = store();
    saveLinkSettings(s, AppSettings{12, "115200,e,8,1", 11, "ignored"});
    saveLanguage(s, AppSettings{0, "ignored", 0, "ChineseBIG5"});

    const struct {
        const char *name;
        DWORD type;
        std::string bytes;
    } expected[] = {
        {"ScanCommNo", REG_DWORD, std::string("\x0C\0\0\0", 4)},
        {"ScanBaudRateNo", REG_DWORD, std::string("\x0B\0\0\0", 4)},
        {"ScanBaudRate", REG_SZ, std::string("115200,e,8,1\0", 13)},
        {"LanguageFlag", REG_SZ, std::string("ChineseBIG5\0", 12)},
        {"Other", REG_BINARY, "\x7F"},
    };
    for (const auto &e : expected) {
        SCOPED_TRACE(e.name);
        const auto value = stored(e.name);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(value->type, e.type);
        EXPECT_EQ(value->bytes, e.bytes);
    }
    EXPECT_EQ(valueCount(), 5u);
    EXPECT_EQ(describe(loadSettings(s)), "12|115200,e,8,1|11|ChineseBIG5|2");
}

TEST_F(RegistryStoreTest, ALanguageSaveWithoutAKeyCreatesItWithThatValueOnly)
{
    RegistryStore s = store();
    saveLanguage(s, AppSettings{3, "9600,n,8,1", 2, "ChineseGB"});
    ASSERT_TRUE(keyExists());
    EXPECT_EQ(valueCount(), 1u);
    EXPECT_EQ(describe(loadSettings(s)), "0|19200,e,8,1|5|ChineseGB|1");
}

TEST_F(RegistryStoreTest, ASaveStopsAtAValueItCannotStore)
{
    RegistryStore s = store();
    EXPECT_FALSE(
        s.save({{"First", Value::ofDword(1)}, {"Second", Value{}}, {"Third", Value::ofDword(3)}}));
    EXPECT_TRUE(stored("First").has_value()) << "what was written before stays written";
    EXPECT_FALSE(stored("Second").has_value());
    EXPECT_FALSE(stored("Third").has_value());

    EXPECT_FALSE(s.save({{"Cut", Value::ofString(std::string("ab\0cd", 5))}}));
    EXPECT_FALSE(stored("Cut").has_value()) << "a text that would read back cut short";
}

TEST_F(RegistryStoreTest, TheSystemStoreIsTheMachineWideKey)
{
    if (!kt::test::runningUnderWine())
        GTEST_SKIP() << "would change this machine's own reader settings";
    constexpr const char *kPath = "Software\\TALVO\\ReaderConfig";
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kPath);
    const auto system = makeSystemStore();
    EXPECT_EQ(describe(loadSettings(*system)), "0||0||0");
    saveLanguage(*system, AppSettings{0, "", 0, "ChineseGB"});

    char text[32] = {};
    DWORD size = sizeof text;
    EXPECT_EQ(::RegGetValueA(HKEY_LOCAL_MACHINE, kPath, "LanguageFlag", RRF_RT_REG_SZ, nullptr,
                             text, &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(text, "ChineseGB");
    EXPECT_EQ(describe(loadSettings(*system)), "0|19200,e,8,1|5|ChineseGB|1");
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kPath);
}
