#include "core/support/log_categories.h"

Q_LOGGING_CATEGORY(lcStore, "torvane.store")
Q_LOGGING_CATEGORY(lcRemote, "torvane.remote")
Q_LOGGING_CATEGORY(lcCloud, "torvane.cloud")
