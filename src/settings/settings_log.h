#pragma once

#include <QLoggingCategory>

// "kt4500.settings": why a load fell back or a save was dropped. Info and up by default.
Q_DECLARE_LOGGING_CATEGORY(lcSettings)
