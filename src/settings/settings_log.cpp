#include "settings/settings_log.h"

Q_LOGGING_CATEGORY(lcSettings, "kt4500.settings", QtInfoMsg)
