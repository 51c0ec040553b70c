#pragma once

#include <string>

// The service's log: one line per event on standard error, "YYYY-MM-DD HH:MM:SS message",
// written whole even when many requests log at once. Control characters of the message
// (from request values) are shown as "?", so a value can never forge a line of its own.
namespace ServiceLog {

void line(const std::string& message);

// A value from a request in double quotes, cut after 128 bytes (at a character's start) with
// "..." so that no request can make a line of any length.
std::string quoted(const std::string& value);

} // namespace ServiceLog
