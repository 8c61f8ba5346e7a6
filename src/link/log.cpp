#include "log.h"

namespace kt::link
{

// Debug lines (the frame trace) stay off unless QT_LOGGING_RULES="kt4500.link.debug=true".
Q_LOGGING_CATEGORY(lcLink, "kt4500.link", QtInfoMsg)

} // namespace kt::link
