#include "log/log.h"
#include "log/log_output.h"

#include <QLoggingCategory>
#include <QMessageLogger>

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace kt::log
{

namespace
{
std::mutex g_mutex;

// One QLoggingCategory per name, created at first use so that QT_LOGGING_RULES and
// QLoggingCategory::setFilterRules() apply to it as to any other. Never destroyed: a line
// logged while statics are torn down must still find its category.
QLoggingCategory &qtCategory(const Category &category)
{
    static auto *categories = new std::map<std::string, std::unique_ptr<QLoggingCategory>>;
    const std::lock_guard lock(g_mutex);
    auto &slot = (*categories)[category.name];
    if (!slot)
        slot = std::make_unique<QLoggingCategory>(category.name, QtInfoMsg);
    return *slot;
}

QtMsgType qtType(Level level)
{
    switch (level) {
    case Level::Debug:
        return QtDebugMsg;
    case Level::Info:
        return QtInfoMsg;
    case Level::Warning:
        break;
    }
    return QtWarningMsg;
}
} // namespace

bool enabled(const Category &category, Level level)
{
    return qtCategory(category).isEnabled(qtType(level));
}

void setDebugEnabled(const Category &category, bool on)
{
    qtCategory(category).setEnabled(QtDebugMsg, on);
}

namespace detail
{
void output(const Category &category, Level level, std::string_view message)
{
    const QMessageLogger logger(nullptr, 0, nullptr, category.name);
    const int length = static_cast<int>(message.size());
    switch (level) {
    case Level::Debug:
        logger.debug("%.*s", length, message.data());
        break;
    case Level::Info:
        logger.info("%.*s", length, message.data());
        break;
    case Level::Warning:
        logger.warning("%.*s", length, message.data());
        break;
    }
}
} // namespace detail

} // namespace kt::log
