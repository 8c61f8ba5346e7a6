#include "log/log_stderr.h"

#include "log/log.h"
#include "log/log_output.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace kt::log
{

namespace
{
std::mutex g_mutex;

// Debug switches set by the program; they override KT4500_DEBUG.
std::map<std::string, bool, std::less<>> &debugOverrides()
{
    static auto *overrides = new std::map<std::string, bool, std::less<>>;
    return *overrides;
}
} // namespace

bool debugWanted(std::string_view setting, std::string_view categoryName)
{
    if (setting == "1")
        return true;
    while (!setting.empty()) {
        const std::size_t comma = setting.find(',');
        const std::string_view item = setting.substr(0, comma);
        if (!item.empty() && item == categoryName)
            return true;
        if (comma == std::string_view::npos)
            break;
        setting.remove_prefix(comma + 1);
    }
    return false;
}

bool enabled(const Category &category, Level level)
{
    if (level != Level::Debug)
        return true;
    {
        const std::lock_guard lock(g_mutex);
        const auto &overrides = debugOverrides();
        if (const auto it = overrides.find(std::string_view(category.name)); it != overrides.end())
            return it->second;
    }
    const char *setting = std::getenv("KT4500_DEBUG");
    return setting != nullptr && debugWanted(setting, category.name);
}

void setDebugEnabled(const Category &category, bool on)
{
    const std::lock_guard lock(g_mutex);
    debugOverrides()[category.name] = on;
}

namespace detail
{
void output(const Category &category, Level level, std::string_view message)
{
    const char *kind = level == Level::Warning ? "warning: " : "";
    // One call per line, so that lines of two threads do not interleave.
    std::fprintf(stderr, "%s: %s%.*s\n", category.name, kind, static_cast<int>(message.size()),
                 message.data());
}
} // namespace detail

} // namespace kt::log
