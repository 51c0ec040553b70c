#include "platform/windows/win32/installed_putty.h"

#include "platform/windows/win32/environment.h"

#include <windows.h>

#include <array>

namespace {

// Only the folders of PATH: not the current folder, which may hold anything.
std::wstring onSearchPath(const wchar_t* program) {
    const std::wstring folders = Win32::environmentValue(L"PATH");
    if (folders.empty())
        return {};
    const DWORD size = SearchPathW(folders.c_str(), program, nullptr, 0, nullptr, nullptr);
    if (size == 0)
        return {};
    std::wstring path(size, L'\0');
    const DWORD length = SearchPathW(folders.c_str(), program, nullptr, size, path.data(), nullptr);
    path.resize(length < size ? length : 0);
    return path;
}

// "%Folder%\PuTTY\putty.exe" when that file exists.
std::wstring inFolder(const wchar_t* folderVariable, const wchar_t* below) {
    std::wstring pattern = std::wstring(L"%") + folderVariable + L"%" + below;
    const DWORD size = ExpandEnvironmentStringsW(pattern.c_str(), nullptr, 0);
    if (size == 0)
        return {};
    std::wstring path(size, L'\0');
    if (ExpandEnvironmentStringsW(pattern.c_str(), path.data(), size) != size)
        return {};
    path.resize(size - 1);
    // An unset variable stays as "%Folder%" in the expansion.
    if (path.find(L'%') != std::wstring::npos)
        return {};
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return {};
    return path;
}

} // namespace

namespace Win32 {

std::wstring installedPutty() {
    if (std::wstring path = onSearchPath(L"putty.exe"); !path.empty())
        return path;
    const std::array<std::pair<const wchar_t*, const wchar_t*>, 3> places = {{
        {L"ProgramFiles", L"\\PuTTY\\putty.exe"},
        {L"ProgramFiles(x86)", L"\\PuTTY\\putty.exe"},
        {L"LOCALAPPDATA", L"\\Programs\\PuTTY\\putty.exe"},
    }};
    for (const auto& [folder, below] : places)
        if (std::wstring path = inFolder(folder, below); !path.empty())
            return path;
    return {};
}

} // namespace Win32
