#include "settings/posix/reg_file_store.h"

#include "base/posix/unique_fd.h"
#include "base/posix/write_all.h"
#include "settings/reg_format.h"
#include "settings/settings_log.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace kt::settings
{
namespace
{

using base::UniqueFd;
using base::writeAll;
using base::writeAllAt;

constexpr const char *kDefaultPath = "/var/lib/kt4500/ReaderConfig.reg";

const char *errorText()
{
    return std::strerror(errno);
}

std::string folderOf(const std::string &path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string &path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The prefix of our temporary files beside `base`. Any such file found while the folder lock
// is held was left by a save that was killed: every live save holds the lock.
std::string tempPrefix(const std::string &base)
{
    return "." + base + ".tmp-";
}

struct FileRead {
    enum class State { Missing, Read, Refused } state = State::Refused;
    std::string bytes;
    struct stat info = {};
    std::string why; // for Refused
};

FileRead readSettingsFile(const std::string &path)
{
    FileRead out;
    // O_NONBLOCK: a FIFO planted at the path must not block the window.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        if (errno == ENOENT) {
            out.state = FileRead::State::Missing;
        } else {
            out.why = errno == ELOOP ? "it is a symbolic link, which is not followed" : errorText();
        }
        return out;
    }
    if (::fstat(fd.get(), &out.info) != 0) {
        out.why = errorText();
        return out;
    }
    if (!S_ISREG(out.info.st_mode)) {
        out.why = "it is not a regular file";
        return out;
    }
    char buffer[65536];
    while (out.bytes.size() <= RegFileStore::kMaxFileSize) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            out.why = errorText();
            return out;
        }
        if (n == 0) {
            out.state = FileRead::State::Read;
            return out;
        }
        out.bytes.append(buffer, static_cast<std::size_t>(n));
    }
    out.bytes.clear();
    out.why = "it is larger than 1 MiB, too large for a settings file";
    return out;
}

// Read and write access to the file, judged with this process's effective ids. The folder's
// permissions play no part: where it takes no new file, a save rewrites the file in place.
bool hasFullAccess(const std::string &path, std::string &why)
{
    if (::faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) != 0) {
        why = std::string("this user may not read and write it (") + errorText() + ")";
        return false;
    }
    return true;
}

// While a save rewrites the file in place, its first byte is this mark; a file left so by a
// crash is taken as damaged. No registry file starts with it.
constexpr char kInPlaceMark = '#';

// The bytes of a file an in-place save left marked, with the first byte the mark replaced;
// nullopt when the bytes are not such a file.
std::optional<std::string> unmarked(std::string_view bytes)
{
    if (!bytes.starts_with(kInPlaceMark))
        return std::nullopt;
    // The first byte of a registry file: its header, its byte order mark or a blank line.
    for (const char first : {'R', 'W', '\xEF', '\n'}) {
        std::string candidate = first + std::string(bytes.substr(1));
        if (reg::Document::parse(candidate).status() == reg::Document::Status::Ok)
            return candidate;
    }
    return std::nullopt;
}

// Why a file that was read is not used, or empty when it may be.
std::string whyUnusable(const std::string &bytes)
{
    if (reg::isUtf16(bytes))
        return "UTF-16; save it as UTF-8 or ANSI";
    if (unmarked(bytes))
        return "a save of it was interrupted and may have left parts of two versions";
    return {};
}

enum class FolderLock { Held, Busy, Unsupported };

FolderLock lockFolder(int dirFd, std::chrono::milliseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (::flock(dirFd, LOCK_EX | LOCK_NB) == 0)
            return FolderLock::Held;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return FolderLock::Unsupported;
        if (std::chrono::steady_clock::now() >= deadline)
            return FolderLock::Busy;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Empty when the folder exists or was created, else why not.
std::string makeFolders(const std::string &folder)
{
    for (std::size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
        const auto part = folder.substr(0, end);
        if (::mkdir(part.c_str(), 0775) != 0 && errno != EEXIST) {
            const int error = errno;
            struct stat info;
            if (::stat(part.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
                return "cannot create the folder " + part + ": " + std::strerror(error);
        }
        if (end == std::string::npos)
            return {};
    }
}

void removeStaleTemps(int dirFd, const std::string &base)
{
    const int scanFd = ::dup(dirFd);
    DIR *dir = scanFd < 0 ? nullptr : ::fdopendir(scanFd);
    if (dir == nullptr) {
        if (scanFd >= 0)
            ::close(scanFd);
        return;
    }
    const auto prefix = tempPrefix(base);
    while (const dirent *entry = ::readdir(dir)) {
        if (std::string_view(entry->d_name).starts_with(prefix)) {
            KT_INFO(lcSettings, "removing %s, left by an interrupted save", entry->d_name);
            ::unlinkat(dirFd, entry->d_name, 0);
        }
    }
    ::closedir(dir);
}

// A new file beside `base` for the next version, created with O_EXCL; its name in tempName.
// false (errno set) when none can be created.
bool createTemp(int dirFd, const std::string &base, UniqueFd &fd, std::string &tempName)
{
    for (int attempt = 0; attempt < 100 && !fd; ++attempt) {
        tempName = tempPrefix(base) + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        fd = UniqueFd(::openat(dirFd, tempName.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0664));
        if (!fd && errno != EEXIST)
            break;
    }
    return bool(fd);
}

// Writes bytes to the new file and renames it over `base`. The old file stays whole until
// the rename, and the rename either happens entirely or not at all.
SaveResult replaceAtomically(int dirFd, const std::string &base, const std::string &tempName,
                             UniqueFd &fd, const std::string &bytes, const struct stat *old)
{
    struct stat folder = {};
    if (old != nullptr) {
        // The owner can only be kept by root, the group by its members; both are best effort.
        if (::fchown(fd.get(), old->st_uid, old->st_gid) != 0)
            (void)!::fchown(fd.get(), static_cast<uid_t>(-1), old->st_gid);
        (void)!::fchmod(fd.get(), old->st_mode & 07777);
    } else if (::fstat(dirFd, &folder) == 0 && (folder.st_mode & S_IWGRP) != 0) {
        // A folder its group may write is shared by the group: so is a file created there,
        // whatever this user's umask.
        (void)!::fchown(fd.get(), static_cast<uid_t>(-1), folder.st_gid);
        (void)!::fchmod(fd.get(), 0664);
    }
    const char *step = "write";
    bool ok = writeAll(fd.get(), bytes);
    if (ok) {
        step = "flush";
        ok = ::fsync(fd.get()) == 0 && fd.reset();
    }
    if (ok) {
        step = "rename";
        ok = ::renameat(dirFd, tempName.c_str(), dirFd, base.c_str()) == 0;
    }
    if (!ok) {
        const int error = errno;
        ::unlinkat(dirFd, tempName.c_str(), 0);
        return saveFailed("settings not saved: cannot %s the new %s: %s; the old file is kept",
                          step, base.c_str(), std::strerror(error));
    }
    // Without this the rename itself may be lost in a power cut, bringing the old file back.
    if (::fsync(dirFd) != 0)
        KT_WARNING(lcSettings, "cannot flush the folder of %s: %s", base.c_str(), errorText());
    return SaveResult::ok();
}

// The file's bytes from `first` on written over it, cut to their length and flushed.
bool writeWhole(int fd, std::string_view bytes, std::size_t first)
{
    first = std::min(first, bytes.size());
    return writeAllAt(fd, bytes.substr(first), static_cast<off_t>(first))
           && ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 && ::fsync(fd) == 0;
}

// Rewrites the file itself, for a folder that takes no new file. The file is marked first
// and unmarked last, so that a crash in between leaves a file that loads as damaged rather
// than a mix of two versions taken as whole. A failed write puts the old bytes back.
SaveResult rewriteInPlace(const std::string &path, const struct stat &read, const std::string &old,
                          const std::string &bytes)
{
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat now = {};
    if (!fd || ::fstat(fd.get(), &now) != 0)
        return saveFailed("settings not saved: cannot open %s: %s", path.c_str(), errorText());
    if (now.st_dev != read.st_dev || now.st_ino != read.st_ino)
        return saveFailed("settings not saved: %s was replaced during the save", path.c_str());
    const std::string_view mark(&kInPlaceMark, 1);
    if (!writeAllAt(fd.get(), mark, 0) || ::fsync(fd.get()) != 0) {
        const int error = errno;
        const bool isKept = writeWhole(fd.get(), old, 0);
        return saveFailed("settings not saved: cannot write %s: %s%s", path.c_str(),
                          std::strerror(error), isKept ? "; the old file is kept" : "");
    }
    if (!writeWhole(fd.get(), bytes, 1)) {
        const int error = errno;
        const bool isBack = writeWhole(fd.get(), old, 1)
                            && writeAllAt(fd.get(), std::string_view(old).substr(0, 1), 0)
                            && ::fsync(fd.get()) == 0;
        return saveFailed("settings not saved: cannot write %s: %s; %s", path.c_str(),
                          std::strerror(error),
                          isBack ? "the old content is back"
                                 : "it is left marked as damaged until a save succeeds");
    }
    if (!writeAllAt(fd.get(), std::string_view(bytes).substr(0, 1), 0) || ::fsync(fd.get()) != 0) {
        return saveFailed("settings not saved: cannot finish writing %s: %s; it is left marked as "
                          "damaged until a save succeeds",
                          path.c_str(), errorText());
    }
    return SaveResult::ok();
}

} // namespace

RegFileStore::RegFileStore(std::string path, std::chrono::milliseconds lockWait)
    : m_path(std::move(path))
    , m_lockWait(lockWait)
{
}

std::optional<KeyValues> RegFileStore::load()
{
    const auto file = readSettingsFile(m_path);
    if (file.state == FileRead::State::Missing) {
        KT_INFO(lcSettings, "no settings file %s: start-up values", m_path.c_str());
        return std::nullopt;
    }
    std::string why = file.why;
    if (file.state == FileRead::State::Read && hasFullAccess(m_path, why)
        && (why = whyUnusable(file.bytes)).empty()) {
        const auto doc = reg::Document::parse(file.bytes);
        for (const auto &problem : doc.problems(reg::kSettingsKey))
            KT_WARNING(lcSettings, "%s: %s", m_path.c_str(), problem.c_str());
        if (doc.hasKey(reg::kSettingsKey))
            return doc.values(reg::kSettingsKey);
        why = doc.status() == reg::Document::Status::NotRegFile
                  ? "it is not a registry file (its first line is not REGEDIT4)"
                  : "it holds no key " + std::string(reg::kSettingsKey);
    }
    KT_WARNING(lcSettings, "settings file %s not used, start-up values: %s", m_path.c_str(),
               why.c_str());
    return std::nullopt;
}

SaveResult RegFileStore::save(const std::vector<std::pair<std::string, Value>> &values)
{
    const auto base = baseNameOf(m_path);
    const auto folder = folderOf(m_path);
    if (base.empty() || base == "." || base == "..")
        return saveFailed("settings not saved: %s does not name a file", m_path.c_str());
    if (const auto why = makeFolders(folder); !why.empty())
        return saveFailed("settings not saved: %s", why.c_str());
    UniqueFd dirFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dirFd) {
        return saveFailed("settings not saved: cannot open the folder %s: %s", folder.c_str(),
                          errorText());
    }
    // Some network file systems refuse flock() on a folder. The rename still keeps the file
    // whole there; only two programs saving at the same moment could lose one's values.
    switch (lockFolder(dirFd.get(), m_lockWait)) {
    case FolderLock::Held:
        removeStaleTemps(dirFd.get(), base);
        break;
    case FolderLock::Busy:
        return saveFailed("settings not saved: another program has kept the folder %s locked "
                          "for %lld ms",
                          folder.c_str(), static_cast<long long>(m_lockWait.count()));
    case FolderLock::Unsupported:
        KT_WARNING(lcSettings, "saving %s without a lock: %s", m_path.c_str(), errorText());
        break;
    }

    const auto file = readSettingsFile(m_path);
    std::string why = file.why;
    if (file.state == FileRead::State::Refused
        || (file.state == FileRead::State::Read && !hasFullAccess(m_path, why)))
        return saveFailed("settings not saved to %s: %s", m_path.c_str(), why.c_str());
    if (reg::isUtf16(file.bytes)) {
        return saveFailed("settings not saved: %s is UTF-16; save it as UTF-8 or ANSI",
                          m_path.c_str());
    }
    auto doc = reg::Document::parse(unmarked(file.bytes).value_or(file.bytes));
    if (doc.status() == reg::Document::Status::NotRegFile) {
        return saveFailed("settings not saved: %s is not a registry file and is left as it is",
                          m_path.c_str());
    }
    for (const auto &[name, value] : values) {
        if (!doc.setValue(reg::kSettingsKey, name, value))
            return saveFailed("settings not saved: the value %s cannot be stored", name.c_str());
    }

    std::string tempName;
    UniqueFd temp;
    if (createTemp(dirFd.get(), base, temp, tempName)) {
        return replaceAtomically(dirFd.get(), base, tempName, temp, doc.text(),
                                 file.state == FileRead::State::Read ? &file.info : nullptr);
    }
    if (file.state != FileRead::State::Read || (errno != EACCES && errno != EPERM)) {
        return saveFailed("settings not saved: cannot create a new file beside %s: %s",
                          m_path.c_str(), errorText());
    }
    if (!m_hasWarnedInPlace) {
        KT_WARNING(lcSettings,
                   "saving %s in place, not atomically: this user may not create files in %s; "
                   "a crash during a save leaves the file damaged",
                   m_path.c_str(), folder.c_str());
        m_hasWarnedInPlace = true;
    }
    return rewriteInPlace(m_path, file.info, file.bytes, doc.text());
}

std::unique_ptr<SettingsStore> makeSystemStore()
{
    const char *path = std::getenv("KT4500_SETTINGS");
    return std::make_unique<RegFileStore>(path != nullptr && *path != '\0' ? path : kDefaultPath);
}

} // namespace kt::settings
