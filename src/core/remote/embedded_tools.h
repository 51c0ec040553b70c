#pragma once

#include <QString>

// The programs Torvane carries inside itself and writes to the tool folder. Here that is our
// tcping; PuTTY is the system's own.
namespace EmbeddedTools {

// Writes each carried tool to the tool folder unless a file of its name is there already (an
// existing file is never overwritten). A failed write is not reported; the next start tries
// again, and a half-written file is never left behind.
void extract();

// The tool folder's tcping.
QString tcpingPath();

} // namespace EmbeddedTools
