#include "platform/windows/win32/putty_host_keys.h"

#include "platform/windows/win32/code_page.h"

#include <windows.h>

#include <vector>

namespace {

// PuTTY writes a registry name's bytes (the host in the ANSI code page) as they are, except
// blanks, "\", "*", "?", "%", control and non-ASCII bytes, and a leading ".", which become
// "%XX" with upper-case hex digits.
std::wstring escapedHost(const std::wstring& host) {
    static const wchar_t hex[] = L"0123456789ABCDEF";
    std::wstring out;
    bool first = true;
    for (const char c : Win32::toCodePage(host, CP_ACP)) {
        const auto byte = static_cast<unsigned char>(c);
        const bool escaped = byte == ' ' || byte == '\\' || byte == '*' || byte == '?' ||
                             byte == '%' || byte < ' ' || byte > '~' || (byte == '.' && first);
        if (escaped) {
            out += L'%';
            out += hex[byte >> 4];
            out += hex[byte & 15];
        } else {
            out += static_cast<wchar_t>(byte);
        }
        first = false;
    }
    return out;
}

bool endsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

namespace Win32 {

std::wstring puttyHostKeySuffix(const std::wstring& host, int port) {
    return L"@" + std::to_wstring(port) + L":" + escapedHost(host);
}

bool puttyHasHostKey(const std::wstring& host, int port) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kPuttyHostKeysKey, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return false;
    const std::wstring suffix = puttyHostKeySuffix(host, port);
    // Value names are at most 16,383 characters.
    std::vector<wchar_t> name(16384);
    bool found = false;
    for (DWORD index = 0; !found; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        if (RegEnumValueW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        const std::wstring valueName(name.data(), length);
        found = endsWith(valueName, suffix) && valueName.size() > suffix.size();
    }
    RegCloseKey(key);
    return found;
}

} // namespace Win32
