#include "settings/settings_log.h"

#include <cstdarg>
#include <cstdio>

namespace kt::settings
{

SaveResult saveFailed(const char *format, ...)
{
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string why(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0)
        std::vsnprintf(why.data(), why.size() + 1, format, again);
    va_end(again);
    KT_WARNING(lcSettings, "%s", why.c_str());
    return SaveResult::failed(std::move(why));
}

} // namespace kt::settings
