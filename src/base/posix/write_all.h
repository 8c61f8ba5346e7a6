#pragma once

#include <string_view>
#include <sys/types.h>

namespace kt::base
{

// Writes all of bytes to fd, again after a signal or a short write. False when the
// descriptor takes no more (errno set by the failed write, left as it was when a write took
// nothing): then only a part may have been written.
bool writeAll(int fd, std::string_view bytes);

// The same with pwrite() at the file offset `at`; the descriptor's own offset stays.
bool writeAllAt(int fd, std::string_view bytes, off_t at);

} // namespace kt::base
