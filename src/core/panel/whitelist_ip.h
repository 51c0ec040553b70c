#pragma once

#include <QString>

// The caller's public address as the cloud service sees it: the panel's API whitelist must
// hold it. One value for the whole program, replaced whole by each fetch and read by copy.
namespace WhitelistIp {

// Asks the cloud service ("get_ip") and keeps the answer as the current value; a request
// the service never answered leaves the value empty. Blocking; callable from any thread.
QString fetch();

QString current();
void setCurrent(const QString& ip);

// The whitelist label's caption once the address is known.
QString caption(const QString& ip);

// What the whitelist label copies: the loopback address and the public one.
QString clipboardText(const QString& ip);

} // namespace WhitelistIp
