#include "serial_device_posix.h"

#include "../line_settings.h"
#include "../log.h"
#include "port_holders.h"
#include "termios_setup.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kt::link
{

using base::UniqueFd;

namespace
{
// A write that cannot get rid of its bytes for this long (a stalled line, hardware flow
// control on a converter that has none) gives up instead of freezing the window.
constexpr auto kWriteStallLimit = std::chrono::milliseconds(1000);

std::string errnoText(int error)
{
    return std::strerror(error);
}

bool processAlive(pid_t pid)
{
    // EPERM: the process exists but belongs to someone else.
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

// The PID in a UUCP lock file: ASCII ("%10d\n", what minicom and Qt write) or, from old
// programs, a binary int. 0 when there is none to be read.
pid_t lockHolder(const std::string &path)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd)
        return 0;
    char text[32] = {};
    const ssize_t n = ::read(fd.get(), text, sizeof text - 1);
    if (n <= 0)
        return 0;
    const char *p = text;
    while (*p == ' ')
        ++p;
    if (*p >= '0' && *p <= '9') {
        long pid = 0;
        while (*p >= '0' && *p <= '9' && pid < 1'000'000'000)
            pid = pid * 10 + (*p++ - '0');
        return static_cast<pid_t>(pid);
    }
    if (n == sizeof(int)) {
        int pid = 0;
        std::memcpy(&pid, text, sizeof pid);
        return pid > 0 ? static_cast<pid_t>(pid) : 0;
    }
    return 0;
}

enum class LockOutcome { Taken, Skipped, Busy };

struct LockResult {
    LockOutcome outcome;
    pid_t holder = 0;
};

// Takes the UUCP lock file that minicom, Qt and other serial programs look for. Where the
// folder is missing or not writable there is no lock file to take and the open goes on:
// flock() and TIOCEXCL still keep the port exclusive.
LockResult takeLockFile(const std::string &path)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        UniqueFd fd(
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
        if (fd) {
            char text[16];
            const int n = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
            if (n <= 0 || ::write(fd.get(), text, static_cast<std::size_t>(n)) != n) {
                const int error = errno;
                KT_DEBUG(lcLink, "cannot write lock file %s: %s", path.c_str(),
                         errnoText(error).c_str());
                ::unlink(path.c_str());
                return {LockOutcome::Skipped};
            }
            return {LockOutcome::Taken};
        }
        if (const int error = errno; error != EEXIST) {
            KT_DEBUG(lcLink, "no lock file %s: %s", path.c_str(), errnoText(error).c_str());
            return {LockOutcome::Skipped};
        }
        const pid_t holder = lockHolder(path);
        if (holder > 0 && processAlive(holder))
            return {LockOutcome::Busy, holder};
        KT_INFO(lcLink, "removing stale lock file %s (process %d is gone)", path.c_str(),
                static_cast<int>(holder));
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            const int error = errno;
            KT_DEBUG(lcLink, "cannot remove stale lock file %s: %s", path.c_str(),
                     errnoText(error).c_str());
            return {LockOutcome::Skipped};
        }
    }
    // Someone else created it again between our unlink and our create.
    return {LockOutcome::Busy, lockHolder(path)};
}

std::string canonicalPath(const std::string &path)
{
    char *resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return path;
    std::string result(resolved);
    std::free(resolved);
    return result;
}

std::string portDirFromEnvironment()
{
    const char *value = std::getenv("KT4500_PORT_DIR");
    return value ? value : "";
}
} // namespace

PosixSerialDevice::PosixSerialDevice()
    : PosixSerialDevice(Folders{portDirFromEnvironment()})
{
}

PosixSerialDevice::PosixSerialDevice(Folders folders)
    : m_folders(std::move(folders))
{
}

PosixSerialDevice::~PosixSerialDevice()
{
    close();
}

bool PosixSerialDevice::open(int portNumber, std::string_view lineSettings)
{
    const std::string port = "COM" + std::to_string(portNumber);
    // A second open must not disturb the one that runs (a card loop holds the port).
    if (m_fd)
        return failOpen(
            {PortError::AlreadyOpen, portNumber, {}, 0, {}, "not opened, a port is already open"});

    const auto path = portDevicePath(portNumber, m_folders.portDir, m_folders.etcPortsDir);
    if (!path) {
        std::string reason = "no such port";
        if (!m_folders.portDir.empty())
            reason += " (no entry in KT4500_PORT_DIR " + m_folders.portDir + ")";
        return failOpen({PortError::NoSuchDevice, portNumber, {}, 0, {}, reason});
    }
    const std::string where = port + " (" + *path + ")";
    const std::string device = canonicalPath(*path);
    const auto fail = [&](PortError kind, std::string reason, int holder = 0) {
        return failOpen({kind, portNumber, *path, holder, holder > 0 ? programName(holder) : "",
                         std::move(reason)});
    };
    // Held exclusively: by whom, or by no one when a program that ended left the flag set.
    const auto failExclusive = [&] {
        PortHolder holder = flockHolder(device);
        if (holder.pid == 0) {
            const pid_t locker = lockHolder(m_folders.lockDir + "/" + uucpLockName(device));
            if (locker > 0 && processAlive(locker))
                holder = {locker, programName(locker)};
        }
        if (holder.pid == 0) {
            const std::vector<PortHolder> others = processesWithDeviceOpen(device);
            if (others.empty()) {
                return failOpen({PortError::Busy,
                                 portNumber,
                                 *path,
                                 0,
                                 {},
                                 "busy: marked exclusive by a program that ended; re-create the "
                                 "device or restart the bridge",
                                 true});
            }
            holder = others.front();
        }
        return fail(PortError::Busy, "busy, another program holds it exclusively", holder.pid);
    };

    UniqueFd fd(::open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        const int error = errno;
        switch (error) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
        case ENOTDIR:
            return fail(PortError::NoSuchDevice, "no such device");
        case EACCES:
        case EPERM:
            return fail(PortError::PermissionDenied,
                        "permission denied; the user must be in the dialout group"
                        " (a new group membership needs a new login)");
        case EBUSY:
            return failExclusive();
        default:
            return fail(PortError::Other, errnoText(error));
        }
    }
    if (!::isatty(fd.get()))
        return fail(PortError::NotATerminal, "not a serial port");

    // Root bypasses TIOCEXCL, so flock() is what refuses a second opener, root included.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK)
            return fail(PortError::Busy, "busy, another program holds it (flock)",
                        flockHolder(device).pid);
        KT_DEBUG(lcLink, "%s: flock: %s", where.c_str(), errnoText(error).c_str());
    }
    int exclusive = 0;
    if (::ioctl(fd.get(), TIOCGEXCL, &exclusive) == 0 && exclusive != 0)
        return failExclusive();

    std::string lockPath = m_folders.lockDir + "/" + uucpLockName(device);
    const LockResult lock = takeLockFile(lockPath);
    if (lock.outcome == LockOutcome::Busy) {
        std::string reason = "busy, locked";
        if (lock.holder > 0)
            reason += " by process " + std::to_string(lock.holder);
        return fail(PortError::Busy, reason + " (" + lockPath + ")", lock.holder);
    }
    if (lock.outcome == LockOutcome::Skipped)
        lockPath.clear();

    if (::ioctl(fd.get(), TIOCEXCL) != 0) {
        const int error = errno;
        KT_DEBUG(lcLink, "%s: TIOCEXCL: %s", where.c_str(), errnoText(error).c_str());
    }

    // isatty() passed, so the port has a termios to save.
    termios t{};
    ::tcgetattr(fd.get(), &t);
    m_savedTermios = t;
    m_savedFileFlags = ::fcntl(fd.get(), F_GETFL);

    const auto settings = parseLineSettings(lineSettings);
    // Said once for each text: the stored text is opened with at every transaction's port.
    if (!settings && m_unparsedSettingsWarned != lineSettings) {
        KT_WARNING(lcLink, "%s: line settings \"%.*s\" not understood; the line keeps its own",
                   where.c_str(), static_cast<int>(lineSettings.size()), lineSettings.data());
        m_unparsedSettingsWarned = lineSettings;
    }
    configureTermios(t, settings);
    // Not what decides the open: on a pseudo-terminal glibc reports EINVAL after the fact
    // because the pty driver drops the parity bit, while speed and time-outs did take.
    if (::tcsetattr(fd.get(), TCSANOW, &t) != 0) {
        const int error = errno;
        KT_DEBUG(lcLink, "%s: tcsetattr: %s", where.c_str(), errnoText(error).c_str());
    }
    if (m_savedFileFlags >= 0)
        ::fcntl(fd.get(), F_SETFL, m_savedFileFlags | O_NONBLOCK);
    // Bytes heard before the open (a late reply to another program, noise at a wrong speed)
    // are no answer to anything we send.
    ::tcflush(fd.get(), TCIFLUSH);

    // Programs that open a port without any lock go unnoticed by the checks above.
    std::vector<OtherOpener> others;
    for (const PortHolder &other : processesWithDeviceOpen(device))
        others.push_back({static_cast<int>(other.pid), other.name});
    setAlsoOpenIn(portNumber, std::move(others));

    m_fd = std::move(fd);
    m_inputBegin = m_inputEnd = 0;
    m_lockFilePath = std::move(lockPath);
    m_readFailureLogged = false;
    m_writeFailureLogged = false;
    clearOpenError();
    KT_DEBUG(lcLink, "%s open, line settings \"%.*s\"", where.c_str(),
             static_cast<int>(lineSettings.size()), lineSettings.data());
    return true;
}

std::string PosixSerialDevice::lineSettingsInForce() const
{
    termios t{};
    if (!m_fd || ::tcgetattr(m_fd.get(), &t) != 0)
        return {};
    return describeLineSettings(t);
}

void PosixSerialDevice::close()
{
    if (!m_fd)
        return;
    const int fd = m_fd.get();
    // The read time-outs go back as they were; the line settings stay.
    termios t{};
    if (::tcgetattr(fd, &t) == 0) {
        t.c_cc[VMIN] = m_savedTermios.c_cc[VMIN];
        t.c_cc[VTIME] = m_savedTermios.c_cc[VTIME];
        ::tcsetattr(fd, TCSANOW, &t);
    }
    if (m_savedFileFlags >= 0)
        ::fcntl(fd, F_SETFL, m_savedFileFlags);
    // On a pseudo-terminal the exclusive flag outlives the descriptor and would lock every
    // later non-root open out.
    ::ioctl(fd, TIOCNXCL);
    releaseLockFile();
    m_fd.reset(); // the flock goes with the descriptor
    m_inputBegin = m_inputEnd = 0;
}

void PosixSerialDevice::releaseLockFile()
{
    if (m_lockFilePath.empty())
        return;
    // Another program may have put its own lock file in place of ours meanwhile.
    if (const pid_t holder = lockHolder(m_lockFilePath); holder != ::getpid()) {
        KT_INFO(lcLink, "lock file %s now names process %d; left in place", m_lockFilePath.c_str(),
                static_cast<int>(holder));
    } else if (::unlink(m_lockFilePath.c_str()) != 0) {
        const int error = errno;
        KT_WARNING(lcLink, "cannot remove lock file %s: %s", m_lockFilePath.c_str(),
                   errnoText(error).c_str());
    }
    m_lockFilePath.clear();
}

bool PosixSerialDevice::write(std::span<const std::uint8_t> bytes)
{
    if (!m_fd)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + kWriteStallLimit;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd.get(), bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (const int error = n < 0 ? errno : 0; error != 0 && error != EAGAIN)
            return writeFailed(errnoText(error));
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return writeFailed(std::to_string(bytes.size() - done) + " of "
                               + std::to_string(bytes.size())
                               + " bytes not sent, the line takes no more");
        }
        pollfd p{m_fd.get(), POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) > 0
            && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            return writeFailed("the port hung up");
        }
    }
    return true;
}

ssize_t PosixSerialDevice::fillInput()
{
    ssize_t n = 0;
    do {
        n = ::read(m_fd.get(), m_input.data(), m_input.size());
    } while (n < 0 && errno == EINTR);
    m_inputBegin = 0;
    m_inputEnd = n > 0 ? static_cast<std::size_t>(n) : 0;
    return n;
}

ReadResult PosixSerialDevice::readByte(std::uint8_t &byte)
{
    // VTIME counts tenths of a second, so the 1 ms wait is a poll().
    return readWithin(byte, 1);
}

ReadResult PosixSerialDevice::readWaitingByte(std::uint8_t &byte)
{
    return readWithin(byte, 0);
}

ReadResult PosixSerialDevice::readWithin(std::uint8_t &byte, int timeoutMs)
{
    if (!m_fd)
        return ReadResult::Failed;
    // What has arrived is taken at once, without a poll() first: the port is non-blocking.
    if (m_inputBegin == m_inputEnd) {
        // Nothing there and the line still up; a hang-up reads as 0 bytes or an error instead.
        if (fillInput() < 0 && errno == EAGAIN && timeoutMs == 0)
            return ReadResult::Empty;
    }
    if (m_inputBegin < m_inputEnd) {
        byte = m_input[m_inputBegin++];
        return ReadResult::Byte;
    }
    pollfd p{m_fd.get(), POLLIN, 0};
    int ready = 0;
    do {
        ready = ::poll(&p, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) {
        const int error = errno;
        return readFailed("poll: " + errnoText(error));
    }
    if (ready == 0)
        return ReadResult::Empty;
    if ((p.revents & POLLNVAL) != 0)
        return readFailed("the descriptor is not valid");

    // Bytes that came before a hang-up are still read: they may end the reply.
    const bool hungUp = (p.revents & (POLLHUP | POLLERR)) != 0;
    const ssize_t n = fillInput();
    if (n > 0) {
        byte = m_input[m_inputBegin++];
        return ReadResult::Byte;
    }
    // A pseudo-terminal whose other end has closed reports EIO beside its hang-up.
    if (const int error = n < 0 ? errno : 0; error != 0 && error != EAGAIN)
        return readFailed(errnoText(error), hungUp ? ReadResult::HungUp : ReadResult::Failed);
    if (hungUp)
        return readFailed("the port hung up", ReadResult::HungUp);
    return ReadResult::Empty;
}

std::optional<int> PosixSerialDevice::readableDescriptor() const
{
    if (!m_fd)
        return std::nullopt;
    return m_fd.get();
}

void PosixSerialDevice::discardInput()
{
    m_inputBegin = m_inputEnd = 0;
    if (m_fd)
        ::tcflush(m_fd.get(), TCIFLUSH);
}

bool PosixSerialDevice::writeFailed(const std::string &why)
{
    if (!m_writeFailureLogged)
        KT_WARNING(lcLink, "write: %s", why.c_str());
    m_writeFailureLogged = true;
    return false;
}

ReadResult PosixSerialDevice::readFailed(const std::string &why, ReadResult result)
{
    if (!m_readFailureLogged)
        KT_WARNING(lcLink, "read: %s", why.c_str());
    m_readFailureLogged = true;
    return result;
}

std::unique_ptr<SerialDevice> makeSystemSerialDevice()
{
    return std::make_unique<PosixSerialDevice>();
}

} // namespace kt::link
