#pragma once

#include <fcntl.h>
#include <optional>
#include <unistd.h>
#include <utility>

namespace kt::base
{

// Owns one file descriptor and closes it when it goes, so every early return closes what
// was opened.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd)
        : m_fd(fd)
    {
    }
    ~UniqueFd() { reset(); }

    UniqueFd(UniqueFd &&other) noexcept
        : m_fd(other.release())
    {
    }
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }

    int release() { return std::exchange(m_fd, -1); }

    // Closes the descriptor held, if any, and takes fd. False (errno set) when close reports
    // an error, such as a failed write-back of a file's data. close() is not retried on
    // EINTR: on Linux the descriptor is gone whatever it returns.
    bool reset(int fd = -1)
    {
        const int old = std::exchange(m_fd, fd);
        return old < 0 || ::close(old) == 0;
    }

private:
    int m_fd = -1;
};

// The two ends of a pipe.
struct Pipe {
    UniqueFd read;
    UniqueFd write;
};

// A new pipe whose ends are closed in a program this process starts (a descriptor the child
// is to keep is given to it by a Redirect); nullopt (errno set) when none can be made.
inline std::optional<Pipe> makePipe()
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return std::nullopt;
    return Pipe{UniqueFd(ends[0]), UniqueFd(ends[1])};
}

} // namespace kt::base
