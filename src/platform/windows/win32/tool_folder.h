#pragma once

#include <string>

namespace Win32 {

// Where Torvane writes the tools it runs and its .rdp files: the user's temporary folder,
// without a trailing backslash. The environment variable "Temp" names it; without it, the
// value "Temp" of the user's "Shell Folders" registry key; without that, the system's
// temporary path. Empty only when none of them gives a folder.
std::wstring toolFolder();

} // namespace Win32
