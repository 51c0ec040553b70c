#pragma once

#include <string>

namespace Win32 {

// PuTTY's host-key cache: HKEY_CURRENT_USER\Software\SimonTatham\PuTTY\SshHostKeys, one value
// per key, named "keytype@port:host" with the host escaped as PuTTY escapes registry names.
inline const wchar_t* const kPuttyHostKeysKey = L"Software\\SimonTatham\\PuTTY\\SshHostKeys";

// The end of the value names PuTTY gives the keys of `host` and `port`: "@22:10.0.0.7".
std::wstring puttyHostKeySuffix(const std::wstring& host, int port);

// Whether PuTTY holds a key of any type for `host` and `port`.
bool puttyHasHostKey(const std::wstring& host, int port);

} // namespace Win32
