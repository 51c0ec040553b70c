#pragma once

#include <QLoggingCategory>

// Failures that the user is not told about in a message or log line still leave a trace on
// standard error, one category per area (QT_LOGGING_RULES="torvane.*=false" silences them).
Q_DECLARE_LOGGING_CATEGORY(lcStore)
Q_DECLARE_LOGGING_CATEGORY(lcRemote)
Q_DECLARE_LOGGING_CATEGORY(lcCloud)
