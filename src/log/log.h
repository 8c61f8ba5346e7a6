#pragma once

// Logging for the libraries that know nothing of Qt: printf-style lines under a named
// category. The Qt build routes them through QLoggingCategory (QT_LOGGING_RULES works as
// for any Qt category); the build without Qt writes to stderr.

#include <string_view>

#if defined(__GNUC__) && !defined(__clang__)
// gnu_printf, so that MinGW checks %zu against the C99 printf that libstdc++ selects there.
#define KT_PRINTF_FORMAT(fmt, first) __attribute__((format(gnu_printf, fmt, first)))
#elif defined(__clang__)
#define KT_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define KT_PRINTF_FORMAT(fmt, first)
#endif

namespace kt::log
{

enum class Level { Debug, Info, Warning };

// A category such as "kt4500.link". The name must outlive the program (a string literal).
// Info and warning lines are on; debug lines are off until turned on.
struct Category {
    const char *name;
};

// true when lines of this level are written for the category.
[[nodiscard]] bool enabled(const Category &category, Level level);

// Formats as printf and writes one line, when the level is enabled. Never truncates.
void write(const Category &category, Level level, const char *format, ...) KT_PRINTF_FORMAT(3, 4);

// Where lines go instead of the log, for tests; nullptr restores the log. Returns the previous.
using Sink = void (*)(const Category &category, Level level, std::string_view message);
Sink setSink(Sink sink);

// Turns a category's debug lines on or off from the program, over what the environment said.
void setDebugEnabled(const Category &category, bool on);

} // namespace kt::log

// The arguments are not evaluated when the level is off, so a costly hex dump costs nothing.
#define KT_LOG_AT(category, level, ...)                                                            \
    do {                                                                                           \
        if (::kt::log::enabled((category), (level)))                                               \
            ::kt::log::write((category), (level), __VA_ARGS__);                                    \
    } while (false)
#define KT_DEBUG(category, ...) KT_LOG_AT(category, ::kt::log::Level::Debug, __VA_ARGS__)
#define KT_INFO(category, ...) KT_LOG_AT(category, ::kt::log::Level::Info, __VA_ARGS__)
#define KT_WARNING(category, ...) KT_LOG_AT(category, ::kt::log::Level::Warning, __VA_ARGS__)
