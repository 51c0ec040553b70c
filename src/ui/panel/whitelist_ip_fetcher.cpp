#include "ui/panel/whitelist_ip_fetcher.h"

#include "core/panel/whitelist_ip.h"
#include "core/support/run_then_deliver.h"

#include <QLabel>

namespace WhitelistIpFetcher {

void start(QLabel* label) {
    runThenDeliver(
        *QThreadPool::globalInstance(), label, [] { return WhitelistIp::fetch(); },
        [](QLabel* target, const QString& ip) { target->setText(WhitelistIp::caption(ip)); });
}

} // namespace WhitelistIpFetcher
