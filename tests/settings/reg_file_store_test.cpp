#include "base/posix/child_process.h"
#include "settings/posix/reg_file_store.h"
#include "settings/reg_format.h"
#include "temp_dir.h"

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using kt::settings::KeyValues;
using kt::settings::RegFileStore;
using kt::settings::Value;
using kt::test::readFile;
using kt::test::TempDir;
using kt::test::writeFile;

namespace
{

const std::string kValid = "REGEDIT4\n\n[" + std::string(kt::settings::reg::kSettingsKey)
                           + "]\n\"ScanCommNo\"=dword:00000003\n";
const std::vector<std::pair<std::string, Value>> kLanguage = {
    {"LanguageFlag", Value::ofString("ChineseGB")}};

pid_t spawn(const std::function<int()> &fn)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(::open("/dev/null", O_WRONLY), STDERR_FILENO);
        ::_exit(fn());
    }
    return pid;
}

// The child's exit code, or 128 + the signal that ended it.
int exitCode(pid_t pid)
{
    int status = 0;
    ::waitpid(pid, &status, 0);
    return kt::base::exitStatusOf(status);
}

// Every entry of the folder: its kind, and a regular file's size and first 4 KiB.
std::map<std::string, std::string> snapshot(const std::string &folder)
{
    std::map<std::string, std::string> out;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        struct stat info;
        ::lstat(entry.path().c_str(), &info);
        std::string head(4096, '\0');
        if (S_ISREG(info.st_mode)) // opening a FIFO would block
            std::ifstream(entry.path(), std::ios::binary).read(head.data(), 4096);
        out[entry.path().filename()] =
            std::to_string(info.st_mode) + " " + std::to_string(info.st_size) + " " + head;
    }
    return out;
}

TEST(RegFileStore, LoadCreatesNothing)
{
    TempDir dir;
    EXPECT_FALSE(RegFileStore(dir.file("a/b/ReaderConfig.reg")).load());
    EXPECT_TRUE(snapshot(dir.path()).empty());
}

TEST(RegFileStore, RefusedFilesAreNeitherUsedNorReplaced)
{
    TempDir dir;
    writeFile(dir.file("valid.reg"), kValid);
    std::filesystem::create_symlink("valid.reg", dir.file("link.reg"));
    std::filesystem::create_symlink("nowhere", dir.file("dangling.reg"));
    std::filesystem::create_directory(dir.file("folder.reg"));
    ::mkfifo(dir.file("fifo.reg").c_str(), 0666);
    writeFile(dir.file("huge.reg"), kValid);
    std::filesystem::resize_file(dir.file("huge.reg"), 50u << 20);
    writeFile(dir.file("over.reg"),
              kValid + std::string(RegFileStore::kMaxFileSize + 1 - kValid.size(), '\n'));
    writeFile(dir.file("notes.reg"), "notes\n" + kValid);
    const auto before = snapshot(dir.path());
    for (const char *name : {"link.reg", "dangling.reg", "folder.reg", "fifo.reg", "huge.reg",
                             "over.reg", "notes.reg", "valid.reg/under.reg"}) {
        SCOPED_TRACE(name);
        RegFileStore store(dir.file(name));
        EXPECT_FALSE(store.load());
        EXPECT_FALSE(store.save(kLanguage));
    }
    EXPECT_EQ(snapshot(dir.path()), before);
}

TEST(RegFileStore, InterruptedSaveLeavesTheOldFileWhole)
{
    TempDir dir;
    const auto path = dir.file("ReaderConfig.reg");
    const auto original = kValid + "; " + std::string(65536, 'c') + "\n";
    writeFile(path, original);
    ::chmod(path.c_str(), 0640);
    RegFileStore store(path);
    // The new file outgrows the size limit half-way: the write fails, or the signal kills.
    const auto saveWithSizeLimit = [&](bool isKilled) {
        return exitCode(spawn([&] {
            const rlimit limit{4096, 4096};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            std::signal(SIGXFSZ, isKilled ? SIG_DFL : SIG_IGN);
            return store.save(kLanguage) ? 1 : 0;
        }));
    };
    EXPECT_EQ(saveWithSizeLimit(false), 0);
    EXPECT_EQ(readFile(path), original);
    EXPECT_EQ(snapshot(dir.path()).size(), 1u);

    EXPECT_EQ(saveWithSizeLimit(true), 128 + SIGXFSZ);
    EXPECT_EQ(readFile(path), original);
    EXPECT_EQ(snapshot(dir.path()).size(), 2u) << "the killed save's file is left behind";

    ASSERT_TRUE(store.save(kLanguage));
    EXPECT_EQ(snapshot(dir.path()).size(), 1u);
    EXPECT_EQ(store.load()->at("LanguageFlag").text, "ChineseGB");
    struct stat info;
    ::stat(path.c_str(), &info);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

// Root ignores permission bits, so the store runs as "nobody" there. The folder's mode plays
// no part: a file in a read-only folder is saved in place.
TEST(RegFileStore, WithoutFullAccessLoadFindsNoKeyAndSaveDoesNothing)
{
    const std::tuple<mode_t, mode_t, bool> cases[] = {
        {0444, 0555, false}, {0666, 0555, true}, {0444, 0777, false}, {0666, 0777, true}};
    for (const auto &[fileMode, folderMode, isUsable] : cases) {
        SCOPED_TRACE(std::to_string(fileMode) + " in " + std::to_string(folderMode));
        TempDir dir;
        ::chmod(dir.path().c_str(), 0755);
        std::filesystem::create_directory(dir.file("shared"));
        const auto path = dir.file("shared/ReaderConfig.reg");
        writeFile(path, kValid);
        ::chmod(path.c_str(), fileMode);
        ::chmod(dir.file("shared").c_str(), folderMode);
        const int result = exitCode(spawn([&] {
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                return 99;
            RegFileStore store(path);
            return (store.load() ? 1 : 0) | (store.save(kLanguage) ? 2 : 0);
        }));
        EXPECT_EQ(result, isUsable ? 3 : 0);
        EXPECT_EQ(readFile(path) == kValid, !isUsable);
        ::chmod(dir.file("shared").c_str(), 0755);
    }
}

// An in-place save (the folder takes no new file) that cannot finish writing puts the old
// bytes back; one killed half-way leaves a file that loads as damaged, untouched by the load,
// until the next save rewrites it.
TEST(RegFileStore, InterruptedInPlaceSaveLoadsAsDamagedUntilTheNextSave)
{
    TempDir dir;
    ::chmod(dir.path().c_str(), 0755);
    std::filesystem::create_directory(dir.file("shared"));
    const auto path = dir.file("shared/ReaderConfig.reg");
    writeFile(path, kValid);
    ::chmod(path.c_str(), 0666);
    ::chmod(dir.file("shared").c_str(), 0555);
    const auto asNobody = [&](const std::function<int()> &fn) {
        return exitCode(spawn([&] {
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                return 99;
            return fn();
        }));
    };
    // The new content outgrows the size limit half-way: the write fails, or the signal kills.
    const auto saveWithSizeLimit = [&](bool isKilled) {
        return asNobody([&] {
            const rlimit limit{4096, 4096};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            std::signal(SIGXFSZ, isKilled ? SIG_DFL : SIG_IGN);
            RegFileStore store(path);
            return store.save({{"LanguageFlag", Value::ofString(std::string(8192, 'x'))}}) ? 1 : 0;
        });
    };
    EXPECT_EQ(saveWithSizeLimit(false), 0);
    EXPECT_EQ(readFile(path), kValid) << "the old content is put back";

    EXPECT_EQ(saveWithSizeLimit(true), 128 + SIGXFSZ);
    const std::string left = readFile(path);
    ASSERT_EQ(left.size(), 4096u) << "the file is there, cut at the limit";
    EXPECT_FALSE(RegFileStore(path).load()) << "half of a save is not taken as stored values";
    EXPECT_EQ(readFile(path), left);

    EXPECT_EQ(asNobody([&] { return RegFileStore(path).save(kLanguage) ? 1 : 0; }), 1);
    const auto values = RegFileStore(path).load();
    ASSERT_TRUE(values);
    EXPECT_EQ(values->at("LanguageFlag").text, "ChineseGB");
    EXPECT_EQ(values->at("ScanCommNo").dword, 3u);
    EXPECT_EQ(snapshot(dir.file("shared")).size(), 1u);
    ::chmod(dir.file("shared").c_str(), 0755);
}

// Each saver's values "A0", "A1", ... form an unbroken run from 0 while it saves them in
// order; a lost read-modify-write would leave a hole.
bool isUnbrokenRun(const KeyValues &values, char saver, int atLeast)
{
    int run = 0;
    while (values.count(saver + std::to_string(run)))
        ++run;
    int total = 0;
    for (const auto &kv : values)
        total += kv.first[0] == saver;
    return run == total && run >= atLeast;
}

TEST(RegFileStore, ConcurrentSaversKeepEachOthersValues)
{
    constexpr int kSaves = 60;
    TempDir dir;
    const auto path = dir.file("ReaderConfig.reg");
    const auto done = dir.file("done");
    std::vector<pid_t> savers;
    for (char saver : {'A', 'B'}) {
        savers.push_back(spawn([&] {
            RegFileStore store(path);
            for (int i = 0; i < kSaves; ++i) {
                if (!store.save({{saver + std::to_string(i), Value::ofDword(1)}}))
                    return 1;
            }
            return 0;
        }));
    }
    // Every load between the saves sees one whole version.
    const pid_t reader = spawn([&] {
        RegFileStore store(path);
        while (::access(done.c_str(), F_OK) != 0) {
            if (::access(path.c_str(), F_OK) != 0)
                continue;
            const auto values = store.load();
            if (!values || !isUnbrokenRun(*values, 'A', 0) || !isUnbrokenRun(*values, 'B', 0))
                return 1;
        }
        return 0;
    });
    for (pid_t pid : savers)
        EXPECT_EQ(exitCode(pid), 0);
    writeFile(done, "");
    EXPECT_EQ(exitCode(reader), 0) << "a load saw a broken file";

    const auto values = RegFileStore(path).load();
    ASSERT_TRUE(values);
    EXPECT_TRUE(isUnbrokenRun(*values, 'A', kSaves));
    EXPECT_TRUE(isUnbrokenRun(*values, 'B', kSaves));
}

} // namespace
