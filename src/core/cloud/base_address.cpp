#include "core/cloud/base_address.h"

using namespace Qt::StringLiterals;

namespace CloudApi {

QString configuredBaseAddress() {
    const QString overridden = qEnvironmentVariable("TORVANE_CLOUD_URL");
    return overridden.isEmpty() ? u"https://cloud.torvane.net"_s : overridden;
}

} // namespace CloudApi
