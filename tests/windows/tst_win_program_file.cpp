// torvane.exe as Windows sees the file: the version information Explorer shows, the icon, and
// the manifest that makes it aware of each monitor's scale, draws the common controls of
// version 6 and runs it with the user's own rights.
//   tst_win_program_file.exe PATH_OF_TORVANE_EXE

#include "win_check.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

std::wstring program;

std::wstring versionText(const std::vector<BYTE>& info, const wchar_t* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\080404B0\\") + name;
    if (!VerQueryValueW(info.data(), key.c_str(), &value, &length) || length == 0)
        return {};
    return std::wstring(static_cast<const wchar_t*>(value), length - 1);
}

void versionInformation() {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(program.c_str(), &ignored);
    CHECK(size > 0);
    std::vector<BYTE> info(size);
    CHECK(GetFileVersionInfoW(program.c_str(), 0, size, info.data()));
    CHECK_EQUAL(versionText(info, L"FileDescription"), std::wstring(L"Torvane-服务器管理工具"));
    CHECK_EQUAL(versionText(info, L"ProductName"), std::wstring(L"Torvane"));
    CHECK_EQUAL(versionText(info, L"OriginalFilename"), std::wstring(L"torvane.exe"));
    CHECK_EQUAL(versionText(info, L"FileVersion"), std::wstring(L"" TORVANE_VERSION));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    CHECK(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    if (fixed) {
        CHECK_EQUAL(fixed->dwFileVersionMS,
                    DWORD(MAKELONG(TORVANE_VERSION_MINOR, TORVANE_VERSION_MAJOR)));
        CHECK_EQUAL(fixed->dwFileType, DWORD(VFT_APP));
    }
}

void iconAndManifest() {
    const HMODULE file = LoadLibraryExW(program.c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    CHECK(file != nullptr);
    if (!file)
        return;
    CHECK(FindResourceW(file, MAKEINTRESOURCEW(1), RT_GROUP_ICON) != nullptr);
    const HRSRC manifest = FindResourceW(file, MAKEINTRESOURCEW(1), RT_MANIFEST);
    CHECK(manifest != nullptr);
    std::string text;
    if (manifest) {
        const auto* bytes = static_cast<const char*>(LockResource(LoadResource(file, manifest)));
        text.assign(bytes, SizeofResource(file, manifest));
    }
    for (const char* needed :
         {"<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">"
          "PerMonitorV2",
          "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
          "<requestedExecutionLevel level=\"asInvoker\""}) {
        WinCheck::row = needed;
        CHECK(text.find(needed) != std::string::npos);
    }
    FreeLibrary(file);
}

} // namespace

int wmain(int argc, wchar_t* argv[]) {
    if (argc != 2) {
        std::printf("usage: tst_win_program_file PATH_OF_TORVANE_EXE\n");
        return 2;
    }
    program = argv[1];
    return WinCheck::run(
        {{"version information", versionInformation}, {"icon and manifest", iconAndManifest}});
}
