#include "base/posix/write_all.h"

#include <cerrno>
#include <unistd.h>

namespace kt::base
{

namespace
{
// writeOnce(bytes, done) writes from bytes and returns what write() returns.
template <typename WriteOnce> bool writeLoop(std::string_view bytes, WriteOnce writeOnce)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = writeOnce(bytes.substr(done), done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}
} // namespace

bool writeAll(int fd, std::string_view bytes)
{
    return writeLoop(bytes, [fd](std::string_view rest, std::size_t) {
        return ::write(fd, rest.data(), rest.size());
    });
}

bool writeAllAt(int fd, std::string_view bytes, off_t at)
{
    return writeLoop(bytes, [fd, at](std::string_view rest, std::size_t done) {
        return ::pwrite(fd, rest.data(), rest.size(), at + static_cast<off_t>(done));
    });
}

} // namespace kt::base
