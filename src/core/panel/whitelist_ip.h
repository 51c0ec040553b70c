#pragma once

#include "core/cloud/cloud_api.h"

#include <QString>

// The caller's public address as the cloud service sees it: the panel's API whitelist must
// hold it. The context keeps the last one fetched (AppContext::whitelistAddress).
namespace WhitelistIp {

// Asks the cloud service ("get_ip"); empty when the service never answered. Blocking;
// callable from any thread.
QString fetch(const CloudApi::Service& service);

// The whitelist label's caption once the address is known.
QString caption(const QString& ip);

// What the whitelist label copies: the loopback address and the public one.
QString clipboardText(const QString& ip);

} // namespace WhitelistIp
