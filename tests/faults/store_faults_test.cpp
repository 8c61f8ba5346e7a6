// The settings file on a real file system, as anyone in the dialout group may leave it:
// read-only or in a read-only folder, binary garbage, UTF-16, cut off mid-line, 50 MiB large,
// holding a 100 000-character value, a symbolic link, locked by another program, or saved by
// two programs at the same moment. Loading falls back as the settings rules say, a save never
// leaves a damaged or foreign file behind, and no stored value is lost.

#include "base/posix/child_process.h"
#include "fault_rig.h"
#include "settings/app_settings.h"
#include "settings/posix/reg_file_store.h"
#include "settings/reg_format.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;
using kt::settings::AppSettings;
using kt::settings::loadSettings;
using kt::settings::RegFileStore;
using kt::settings::Value;
using kt::test::readFile;
using kt::test::writeFile;
namespace reg = kt::settings::reg;

constexpr std::string_view kStoredKey = "REGEDIT4\n"
                                        "\n"
                                        "[HKEY_LOCAL_MACHINE\\Software\\TALVO\\ReaderConfig]\n"
                                        "\"ScanCommNo\"=dword:00000003\n"
                                        "\"ScanBaudRateNo\"=dword:00000005\n"
                                        "\"ScanBaudRate\"=\"19200,e,8,1\"\n"
                                        "\"LanguageFlag\"=\"ChineseGB\"\n";

std::string describe(const AppSettings &s)
{
    return std::to_string(s.portNumber) + " \"" + s.lineSettingsText + "\" "
           + std::to_string(s.lineSettingsIndex) + " \"" + s.languageName + "\"";
}

// The text as the registry editor exports it by default: UTF-16LE, with or without its mark.
std::string utf16(std::string_view text, bool hasMark)
{
    std::string out = hasMark ? "\xFF\xFE" : "";
    for (const char c : text) {
        out += c;
        out += '\0';
    }
    return out;
}

const std::string kStartUp = describe({});
const std::string kDefaults = describe({0, "19200,e,8,1", 5, "English"});
const std::string kStored = describe({3, "19200,e,8,1", 5, "ChineseGB"});

class StoreFaults : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_dir.path().empty());
        dir = m_dir.str();
        // Open to everyone, so that a child running as nobody meets only the modes a test sets.
        fs::permissions(dir, fs::perms(0755));
        path = dir + "/ReaderConfig.reg";
    }
    void TearDown() override
    {
        std::error_code ignored;
        // Taken back from a test that took them away, so that the folder can be removed.
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ignored);
    }

    // The folder's entries other than the settings file: left-over temporary files.
    std::vector<std::string> strayFiles() const
    {
        std::vector<std::string> found;
        for (const auto &entry : fs::directory_iterator(dir)) {
            if (entry.path() != path)
                found.push_back(entry.path().filename());
        }
        return found;
    }

    const kt::test::TempDir m_dir{"kt4500-faults"};
    std::string dir;
    std::string path;
};

// A file this user may read and write is used wherever it lives; in a folder that takes no new
// file it is saved in place, with one warning that such a save is not atomic.
TEST_F(StoreFaults, ReadOnlyFileActsAsNoKeyButReadOnlyFolderIsUsedAndSaved)
{
    const AppSettings changed{9, "115200,e,8,1", 11, "ChineseBIG5"};
    const struct {
        const char *name;
        fs::perms file;
        fs::perms folder;
        std::string outcome;
    } cases[] = {
        {"file read-only", fs::perms(0444), fs::perms(0755), kStartUp + ", warned 0"},
        {"folder read-only", fs::perms(0666), fs::perms(0555),
         kStored + ", saved, saved, warned 1"},
        {"both read-only", fs::perms(0444), fs::perms(0555), kStartUp + ", warned 0"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fs::permissions(dir, fs::perms(0755));
        writeFile(path, kStoredKey);
        fs::permissions(path, c.file);
        fs::permissions(dir, c.folder);

        const auto child = kt::test::runUnprivileged([&] {
            kt::test::LogCapture log;
            RegFileStore store(path);
            std::string outcome = describe(loadSettings(store).settings);
            for (const auto &result : {kt::settings::saveLinkSettings(store, changed),
                                       kt::settings::saveLanguage(store, changed)}) {
                if (result)
                    outcome += ", saved";
            }
            int warnings = 0;
            for (const auto &line : log.lines())
                warnings += line.find("not atomically") != std::string::npos;
            return outcome + ", warned " + std::to_string(warnings);
        });
        fs::permissions(dir, fs::perms(0755));

        ASSERT_TRUE(child.ranUnprivileged) << "cannot become an unprivileged user";
        EXPECT_EQ(child.output, c.outcome);
        if (c.outcome.find("saved") != std::string::npos) {
            RegFileStore store(path);
            EXPECT_EQ(describe(loadSettings(store).settings), describe(changed));
            EXPECT_EQ(fs::status(path).permissions(), c.file);
        } else {
            EXPECT_EQ(readFile(path), kStoredKey);
        }
        EXPECT_TRUE(strayFiles().empty());
    }
}

// Another program holding the folder's lock makes a save fail after the wait, naming the
// folder; the file stays whole, and the next save once the lock is free succeeds.
TEST_F(StoreFaults, LockHeldByAnotherProgramFailsTheSaveAfterTheWait)
{
    writeFile(path, kStoredKey);
    int ready[2];
    int release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        ::close(ready[0]);
        ::close(release[1]);
        const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
        const char flag = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? '1' : '0';
        (void)!::write(ready[1], &flag, 1);
        char ignored;
        (void)!::read(release[0], &ignored, 1); // until the test closes its end
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    char flag = '0';
    ASSERT_EQ(::read(ready[0], &flag, 1), 1);
    ASSERT_EQ(flag, '1');

    kt::test::LogCapture log;
    RegFileStore store(path, std::chrono::milliseconds(100));
    const auto result = kt::settings::saveLanguage(store, {0, {}, 0, "English"});
    EXPECT_FALSE(result);
    EXPECT_NE(result.problem.find(dir), std::string::npos) << result.problem;
    EXPECT_NE(result.problem.find("locked"), std::string::npos) << result.problem;
    EXPECT_TRUE(log.contains(result.problem)) << "the failure is logged as it is returned";
    EXPECT_EQ(readFile(path), kStoredKey);

    ::close(release[1]);
    ::close(ready[0]);
    int status = 0;
    ::waitpid(holder, &status, 0);
    EXPECT_TRUE(kt::settings::saveLanguage(store, {0, {}, 0, "English"}));
    EXPECT_EQ(loadSettings(store).settings.languageName, "English");
}

// The file the store creates in a folder its group may write is the group's to write too,
// whatever the umask; in a private folder the umask decides.
TEST_F(StoreFaults, FileCreatedInAGroupFolderIsGroupWritable)
{
    const struct {
        const char *name;
        mode_t folder;
        fs::perms file;
    } cases[] = {
        {"shared folder 2775", 02775, fs::perms(0664)},
        {"private folder 0755", 0755, fs::perms(0644)},
    };
    const mode_t umask = ::umask(022);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(path);
        ASSERT_EQ(::chmod(dir.c_str(), c.folder), 0);
        RegFileStore store(path);
        EXPECT_TRUE(kt::settings::saveLanguage(store, {0, {}, 0, "ChineseGB"}));
        EXPECT_EQ(fs::status(path).permissions(), c.file);
        struct stat file = {};
        struct stat folder = {};
        ASSERT_EQ(::stat(path.c_str(), &file), 0);
        ASSERT_EQ(::stat(dir.c_str(), &folder), 0);
        EXPECT_EQ(file.st_gid, folder.st_gid);
        // A later save keeps the mode it found.
        EXPECT_TRUE(kt::settings::saveLanguage(store, {0, {}, 0, "English"}));
        EXPECT_EQ(fs::status(path).permissions(), c.file);
    }
    ::umask(umask);
    ::chmod(dir.c_str(), 0755);
}

TEST_F(StoreFaults, DamagedFilesFallBackAndAreNeverOverwritten)
{
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>((i * 131 + 7) % 256);
    const struct {
        const char *name;
        std::string bytes;
        std::string loaded;
        bool isRegFile;       // a save may rewrite it
        std::string why = {}; // what the log says
    } cases[] = {
        {"binary garbage", binary, kStartUp, false},
        {"a program's image",
         "\x7f"
         "ELF\x02\x01\x01"
             + std::string(200, '\0'),
         kStartUp, false},
        {"text of another kind", "[general]\nport=3\n", kStartUp, false},
        {"a value of the wrong type",
         std::string(kStoredKey)
             .replace(std::string(kStoredKey).find("dword:00000005"), 14, "\"5\""),
         kDefaults, true},
        {"a registry export in UTF-16", utf16(kStoredKey, true), kStartUp, false,
         "UTF-16; save it as UTF-8 or ANSI"},
        {"UTF-16 without its byte order mark", utf16(kStoredKey, false), kStartUp, false,
         "UTF-16; save it as UTF-8 or ANSI"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path, c.bytes);
        kt::test::LogCapture log;
        RegFileStore store(path);
        EXPECT_EQ(describe(loadSettings(store).settings), c.loaded);
        if (!c.why.empty()) {
            EXPECT_TRUE(log.contains(c.why));
        }
        EXPECT_EQ(store.save({{"LanguageFlag", Value::ofString("English")}}).saved, c.isRegFile);
        if (!c.isRegFile) {
            EXPECT_EQ(readFile(path), c.bytes) << "a file that is not ours is left as it was";
        }
        EXPECT_TRUE(strayFiles().empty());
    }
}

TEST_F(StoreFaults, GarbageAfterTheHeaderIsKeptBesideTheSavedKey)
{
    const std::string garbage = std::string("REGEDIT4\n\x01\x02\xff\xfe garbage \0 line\n", 28)
                                + "\"orphan\"=dword:00000001\n[broken\n";
    writeFile(path, garbage);
    RegFileStore store(path);
    EXPECT_EQ(describe(loadSettings(store).settings), kStartUp);
    kt::settings::saveLanguage(store, {0, {}, 0, "ChineseBIG5"});

    const std::string saved = readFile(path);
    EXPECT_EQ(saved.substr(0, garbage.size()), garbage);
    const auto loaded = loadSettings(store);
    EXPECT_EQ(loaded.settings.languageName, "ChineseBIG5");
    EXPECT_EQ(loaded.language, kt::text::Language::ChineseBIG5);
}

TEST_F(StoreFaults, FileCutOffAnywhereLosesNothingThatWasWhole)
{
    const std::string whole(kStoredKey);
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        SCOPED_TRACE("cut after " + std::to_string(cut) + " bytes");
        const std::string truncated = whole.substr(0, cut);
        writeFile(path, truncated);
        RegFileStore store(path);
        const std::string loaded = describe(loadSettings(store).settings);
        // What the cut left: the key or not, its values whole, cut or missing.
        const auto doc = reg::Document::parse(truncated);
        const auto before = doc.values(reg::kSettingsKey);
        if (!doc.hasKey(reg::kSettingsKey)) {
            EXPECT_EQ(loaded, kStartUp);
        }

        const bool saved = store.save({{"LanguageFlag", Value::ofString("ChineseBIG5")}}).saved;
        if (!saved) {
            EXPECT_EQ(doc.status(), reg::Document::Status::NotRegFile);
            EXPECT_EQ(readFile(path), truncated);
            continue;
        }
        const auto after = reg::Document::parse(readFile(path));
        ASSERT_TRUE(after.hasKey(reg::kSettingsKey));
        const auto values = after.values(reg::kSettingsKey);
        ASSERT_TRUE(values.contains("LanguageFlag"));
        EXPECT_EQ(values.at("LanguageFlag").text, "ChineseBIG5");
        // Every value the cut left readable is still there, unchanged.
        for (const auto &[name, value] : before) {
            if (name == "LanguageFlag" || value.type == Value::Type::Other)
                continue;
            ASSERT_TRUE(values.contains(name)) << name;
            EXPECT_EQ(values.at(name).type, value.type) << name;
            EXPECT_EQ(values.at(name).dword, value.dword) << name;
            EXPECT_EQ(values.at(name).text, value.text) << name;
        }
        EXPECT_TRUE(strayFiles().empty());
    }
}

TEST_F(StoreFaults, FiftyMebibyteFileIsNeitherReadNorReplaced)
{
    std::string huge(kStoredKey);
    const std::string comment = "; padding that no settings file needs\n";
    while (huge.size() < (std::size_t{50} << 20))
        huge += comment;
    writeFile(path, huge);
    kt::test::LogCapture log;
    RegFileStore store(path);

    EXPECT_EQ(describe(loadSettings(store).settings), kStartUp);
    EXPECT_FALSE(store.save({{"LanguageFlag", Value::ofString("English")}}));
    EXPECT_TRUE(log.contains("larger than")) << "the log says why the file was not used";
    EXPECT_EQ(fs::file_size(path), huge.size());
    EXPECT_TRUE(readFile(path) == huge);
    EXPECT_TRUE(strayFiles().empty());
}

TEST_F(StoreFaults, HundredThousandCharacterValuesSurviveOtherSaves)
{
    const std::string longText(100000, 'x');
    for (const char *name : {"LanguageFlag", "ScanBaudRate"}) {
        SCOPED_TRACE(name);
        std::string bytes(kStoredKey);
        const std::string line = "\"" + std::string(name) + "\"=\"";
        const auto at = bytes.find(line) + line.size();
        bytes.replace(at, bytes.find('"', at) - at, longText);
        writeFile(path, bytes);
        RegFileStore store(path);

        const auto loaded = loadSettings(store);
        const std::string &value = std::string_view(name) == "LanguageFlag"
                                       ? loaded.settings.languageName
                                       : loaded.settings.lineSettingsText;
        EXPECT_TRUE(value == longText) << "taken as stored, not " << value.size() << " bytes";

        // A save of the other values keeps it whole.
        kt::settings::saveLinkSettings(store, {4, loaded.settings.lineSettingsText, 6, {}});
        if (std::string_view(name) == "ScanBaudRate")
            kt::settings::saveLanguage(store, {0, {}, 0, "English"});
        const auto again = loadSettings(store);
        EXPECT_TRUE((std::string_view(name) == "LanguageFlag" ? again.settings.languageName
                                                              : again.settings.lineSettingsText)
                    == longText);
        EXPECT_EQ(again.settings.portNumber, 4);
    }
}

TEST_F(StoreFaults, SymbolicLinkIsNeitherFollowedNorReplaced)
{
    const std::string target = dir + "/elsewhere.reg";
    const struct {
        const char *name;
        bool targetExists;
    } cases[] = {{"link to a settings file", true}, {"dangling link", false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(path);
        fs::remove(target);
        if (c.targetExists)
            writeFile(target, kStoredKey);
        fs::create_symlink(target, path);
        kt::test::LogCapture log;
        RegFileStore store(path);

        EXPECT_EQ(describe(loadSettings(store).settings), kStartUp);
        EXPECT_FALSE(store.save({{"LanguageFlag", Value::ofString("English")}}));
        EXPECT_TRUE(log.contains("symbolic link"));
        EXPECT_TRUE(fs::is_symlink(path));
        EXPECT_EQ(fs::exists(target), c.targetExists);
        if (c.targetExists) {
            EXPECT_EQ(readFile(target), kStoredKey);
        }
    }
}

TEST_F(StoreFaults, TwoProgramsSavingAtOnceLeaveOneWholeVersion)
{
    writeFile(path, kStoredKey);
    constexpr int kSaves = 150;
    // Each program saves its own values over and over; the last of each must survive. The
    // lock is not fair, so on a busy machine one program may hold it back longer than a
    // save's usual wait: a generous wait keeps this about whole versions, not about timing.
    const auto saver = [&](bool isLanguage) {
        RegFileStore store(path, std::chrono::minutes(2));
        for (int i = 1; i <= kSaves; ++i) {
            const bool ok =
                (isLanguage
                     ? store.save(
                         {{"LanguageFlag", Value::ofString(i % 2 ? "ChineseBIG5" : "English")}})
                     : store.save(
                         {{"ScanCommNo", Value::ofDword(static_cast<std::uint32_t>(i))},
                          {"ScanBaudRateNo", Value::ofDword(static_cast<std::uint32_t>(i % 12))},
                          {"ScanBaudRate", Value::ofString("9600,e,8,1")}}))
                    .saved;
            if (!ok)
                ::_exit(1);
        }
        ::_exit(0);
    };
    pid_t savers[2];
    for (int k = 0; k < 2; ++k) {
        savers[k] = ::fork();
        ASSERT_GE(savers[k], 0);
        if (savers[k] == 0)
            saver(k == 0);
    }

    // Meanwhile the file, read as any program would read it, is always one whole version.
    int reads = 0;
    int statuses[2] = {-1, -1};
    for (bool running = true; running;) {
        const std::string bytes = readFile(path);
        const auto doc = reg::Document::parse(bytes);
        ASSERT_TRUE(doc.hasKey(reg::kSettingsKey)) << bytes;
        ASSERT_TRUE(doc.problems(reg::kSettingsKey).empty()) << bytes;
        ASSERT_EQ(doc.values(reg::kSettingsKey).size(), 4u) << bytes;
        ++reads;
        running = false;
        for (int k = 0; k < 2; ++k) {
            int status = 0;
            if (statuses[k] < 0 && ::waitpid(savers[k], &status, WNOHANG) == savers[k])
                statuses[k] = kt::base::exitStatusOf(status);
            running = running || statuses[k] < 0;
        }
    }
    EXPECT_EQ(statuses[0], 0) << "every save of the language succeeded";
    EXPECT_EQ(statuses[1], 0) << "every save of the link settings succeeded";

    RegFileStore store(path);
    const auto loaded = loadSettings(store);
    EXPECT_EQ(loaded.settings.languageName, kSaves % 2 ? "ChineseBIG5" : "English");
    EXPECT_EQ(loaded.settings.portNumber, kSaves);
    EXPECT_EQ(loaded.settings.lineSettingsIndex, kSaves % 12);
    EXPECT_EQ(loaded.settings.lineSettingsText, "9600,e,8,1");
    EXPECT_GT(reads, 0);
    EXPECT_TRUE(strayFiles().empty());
}

} // namespace
