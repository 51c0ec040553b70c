#pragma once

class QLabel;

// Fills a server window's whitelist label (标签16) with the public address the cloud service
// reports, fetched on a worker; the label is left alone when its window has closed by then.
namespace WhitelistIpFetcher {

void start(QLabel* label);

} // namespace WhitelistIpFetcher
