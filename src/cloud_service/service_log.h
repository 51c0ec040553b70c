#pragma once

#include <string>

// The service's log: one line per event on standard error, "YYYY-MM-DD HH:MM:SS message",
// written whole even when many requests log at once. Control characters of the message
// (from request values) are shown as "?", so a value can never forge a line of its own.
namespace ServiceLog {

void line(const std::string& message);

} // namespace ServiceLog
