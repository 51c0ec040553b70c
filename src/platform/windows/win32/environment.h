#pragma once

#include <string>

namespace Win32 {

// The value of an environment variable of this process; empty when it is not set.
std::wstring environmentValue(const wchar_t* name);

} // namespace Win32
