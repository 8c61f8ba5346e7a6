#include "settings/posix/reg_file_store.h"

#include "settings/reg_format.h"
#include "settings/settings_log.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace kt::settings
{
namespace
{

constexpr const char *kDefaultPath = "/var/lib/kt4500/ReaderConfig.reg";

class UniqueFd
{
public:
    explicit UniqueFd(int fd = -1)
        : m_fd(fd)
    {
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        reset();
        m_fd = std::exchange(other.m_fd, -1);
        return *this;
    }
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    // Closes now; false (errno set) when close reports an error, such as a failed write-back.
    bool reset()
    {
        const int fd = std::exchange(m_fd, -1);
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

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

// Read and write access to the file and write access to its folder (for the rename a save
// does), judged with this process's effective ids.
bool hasFullAccess(const std::string &path, std::string &why)
{
    if (::faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) != 0) {
        why = std::string("this user may not read and write it (") + errorText() + ")";
        return false;
    }
    const auto folder = folderOf(path);
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        why = "this user may not replace files in " + folder + " (" + errorText() + ")";
        return false;
    }
    return true;
}

bool makeFolders(const std::string &folder)
{
    for (std::size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
        const auto part = folder.substr(0, end);
        if (::mkdir(part.c_str(), 0775) != 0 && errno != EEXIST) {
            const int error = errno;
            struct stat info;
            if (::stat(part.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
                KT_WARNING(lcSettings, "cannot create the folder %s: %s", part.c_str(),
                           std::strerror(error));
                return false;
            }
        }
        if (end == std::string::npos)
            return true;
    }
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
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

// Writes bytes to a new file in the folder and renames it over `base`. The old file stays
// whole until the rename, and the rename either happens entirely or not at all.
bool replaceAtomically(int dirFd, const std::string &base, const std::string &bytes,
                       const struct stat *old)
{
    std::string tempName;
    UniqueFd fd;
    for (int attempt = 0; attempt < 100 && !fd; ++attempt) {
        tempName = tempPrefix(base) + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        fd = UniqueFd(::openat(dirFd, tempName.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0664));
        if (!fd && errno != EEXIST)
            break;
    }
    if (!fd) {
        KT_WARNING(lcSettings, "cannot create a new file beside %s: %s", base.c_str(), errorText());
        return false;
    }
    if (old != nullptr) {
        // The owner can only be kept by root, the group by its members; both are best effort.
        if (::fchown(fd.get(), old->st_uid, old->st_gid) != 0)
            (void)!::fchown(fd.get(), static_cast<uid_t>(-1), old->st_gid);
        (void)!::fchmod(fd.get(), old->st_mode & 07777);
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
        KT_WARNING(lcSettings, "cannot %s the new %s: %s; the old file is kept", step, base.c_str(),
                   errorText());
        ::unlinkat(dirFd, tempName.c_str(), 0);
        return false;
    }
    // Without this the rename itself may be lost in a power cut, bringing the old file back.
    if (::fsync(dirFd) != 0)
        KT_WARNING(lcSettings, "cannot flush the folder of %s: %s", base.c_str(), errorText());
    return true;
}

} // namespace

RegFileStore::RegFileStore(std::string path)
    : m_path(std::move(path))
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
    if (file.state == FileRead::State::Read && hasFullAccess(m_path, why)) {
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

bool RegFileStore::save(const std::vector<std::pair<std::string, Value>> &values)
{
    const auto base = baseNameOf(m_path);
    const auto folder = folderOf(m_path);
    if (base.empty() || base == "." || base == "..") {
        KT_WARNING(lcSettings, "settings not saved: %s does not name a file", m_path.c_str());
        return false;
    }
    if (!makeFolders(folder))
        return false;
    UniqueFd dirFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dirFd) {
        KT_WARNING(lcSettings, "settings not saved: cannot open the folder %s: %s", folder.c_str(),
                   errorText());
        return false;
    }
    int locked = -1;
    while ((locked = ::flock(dirFd.get(), LOCK_EX)) != 0 && errno == EINTR) {
    }
    // Some network file systems refuse flock() on a folder. The rename still keeps the file
    // whole there; only two programs saving at the same moment could lose one's values.
    if (locked == 0)
        removeStaleTemps(dirFd.get(), base);
    else
        KT_WARNING(lcSettings, "saving %s without a lock: %s", m_path.c_str(), errorText());

    const auto file = readSettingsFile(m_path);
    std::string why = file.why;
    if (file.state == FileRead::State::Refused
        || (file.state == FileRead::State::Read && !hasFullAccess(m_path, why))) {
        KT_WARNING(lcSettings, "settings not saved to %s: %s", m_path.c_str(), why.c_str());
        return false;
    }
    auto doc = reg::Document::parse(file.bytes);
    if (doc.status() == reg::Document::Status::NotRegFile) {
        KT_WARNING(lcSettings, "settings not saved: %s is not a registry file and is left as it is",
                   m_path.c_str());
        return false;
    }
    for (const auto &[name, value] : values) {
        if (!doc.setValue(reg::kSettingsKey, name, value)) {
            KT_WARNING(lcSettings, "settings not saved: the value %s cannot be stored",
                       name.c_str());
            return false;
        }
    }
    return replaceAtomically(dirFd.get(), base, doc.text(),
                             file.state == FileRead::State::Read ? &file.info : nullptr);
}

std::unique_ptr<SettingsStore> makeSystemStore()
{
    const char *path = std::getenv("KT4500_SETTINGS");
    return std::make_unique<RegFileStore>(path != nullptr && *path != '\0' ? path : kDefaultPath);
}

} // namespace kt::settings
