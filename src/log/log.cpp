#include "log/log.h"

#include "log/log_output.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace kt::log
{

namespace
{
std::atomic<Sink> g_sink{nullptr};

std::string format(const char *fmt, va_list args)
{
    char small[256];
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(small, sizeof small, fmt, args);
    std::string text;
    if (length < 0) {
        text = fmt; // a broken format still says where it came from
    } else if (static_cast<std::size_t>(length) < sizeof small) {
        text.assign(small, static_cast<std::size_t>(length));
    } else {
        text.resize(static_cast<std::size_t>(length));
        std::vsnprintf(text.data(), text.size() + 1, fmt, again);
    }
    va_end(again);
    return text;
}
} // namespace

void write(const Category &category, Level level, const char *fmt, ...)
{
    if (!enabled(category, level))
        return;
    va_list args;
    va_start(args, fmt);
    const std::string message = format(fmt, args);
    va_end(args);
    if (const Sink sink = g_sink.load())
        sink(category, level, message);
    else
        detail::output(category, level, message);
}

Sink setSink(Sink sink)
{
    return g_sink.exchange(sink);
}

} // namespace kt::log
