#include "platform/windows/win32/tool_folder.h"

#include "platform/windows/win32/environment.h"

#include <windows.h>

#include <cwchar>

namespace {

// A REG_SZ or REG_EXPAND_SZ value; RRF_RT_REG_SZ has the latter expanded.
std::wstring shellFolder(const wchar_t* name) {
    const wchar_t* key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    DWORD bytes = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
            ERROR_SUCCESS ||
        bytes < sizeof(wchar_t))
        return {};
    std::wstring value(bytes / sizeof(wchar_t), L'\0');
    if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, value.data(), &bytes) !=
        ERROR_SUCCESS)
        return {};
    value.resize(wcsnlen(value.c_str(), bytes / sizeof(wchar_t)));
    return value;
}

std::wstring temporaryPath() {
    wchar_t path[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, path);
    return length > 0 && length <= MAX_PATH ? std::wstring(path, length) : std::wstring();
}

std::wstring withoutTrailingBackslash(std::wstring folder) {
    while (folder.size() > 1 && (folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();
    return folder;
}

} // namespace

namespace Win32 {

std::wstring toolFolder() {
    std::wstring folder = Win32::environmentValue(L"Temp");
    if (folder.empty())
        folder = shellFolder(L"Temp");
    if (folder.empty())
        folder = temporaryPath();
    return withoutTrailingBackslash(std::move(folder));
}

} // namespace Win32
