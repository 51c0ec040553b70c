#pragma once

#include <string>

namespace Win32 {

// The installed PuTTY: putty.exe on the search path, else in the PuTTY folder of the
// installer's usual places (Program Files, Program Files (x86), the user's own programs
// folder). Empty when there is none: Torvane does not carry PuTTY.
std::wstring installedPutty();

} // namespace Win32
