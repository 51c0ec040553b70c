#pragma once

#include <string>
#include <string_view>

namespace Win32 {

// The value of a .rdp file's "password 51:b:" line, as the Remote Desktop client reads it:
// the password's UTF-16 form with its terminating zero, padded with zero bytes (or cut) to
// exactly 512 bytes, protected by CryptProtectData for the current user under the
// description "psw", written as upper-case hexadecimal, then one more "0". Empty when the
// system refuses to protect it.
std::string rdpPasswordHex(std::wstring_view password);

// The size of the protected plain text.
constexpr std::size_t kRdpPasswordBytes = 512;

} // namespace Win32
