#pragma once

#include <QString>

namespace CloudApi {

// The cloud web service's base address: TORVANE_CLOUD_URL when set (tests, self-hosting),
// else the service that Torvane ships with.
QString configuredBaseAddress();

} // namespace CloudApi
