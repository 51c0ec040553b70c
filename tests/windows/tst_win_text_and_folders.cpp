// Code page 936 conversions, the tool folder, the search for an installed PuTTY and its
// host-key cache.

#include "platform/windows/win32/code_page.h"
#include "platform/windows/win32/environment.h"
#include "platform/windows/win32/installed_putty.h"
#include "platform/windows/win32/putty_host_keys.h"
#include "platform/windows/win32/tool_folder.h"
#include "win_check.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <string>

namespace {

const wchar_t* const kShellFolders =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

void gbkConversions() {
    struct Row {
        const char* name;
        std::wstring text;
        std::string bytes;
    };
    const Row rows[] = {
        {"group name", L"默认分组", "\xC4\xAC\xC8\xCF\xB7\xD6\xD7\xE9"},
        {"euro sign", L"€", "\x80"},
        {"ASCII", L"root@10.0.0.7:22", "root@10.0.0.7:22"},
        {"empty", L"", ""},
    };
    for (const Row& r : rows) {
        WinCheck::row = r.name;
        CHECK_EQUAL(Win32::toCodePage(r.text, Win32::kGbkCodePage), r.bytes);
        CHECK_EQUAL(Win32::fromCodePage(r.bytes, Win32::kGbkCodePage), r.text);
    }
    WinCheck::row = "not in GBK";
    CHECK_EQUAL(Win32::toCodePage(L"a\u0E01b", Win32::kGbkCodePage), std::string("a?b"));
}

void setShellFolderTemp(const wchar_t* value) {
    if (value)
        RegSetKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"Temp", REG_SZ, value,
                        static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    else
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"Temp");
}

// Sets an environment variable for the life of a case.
class EnvironmentChange {
public:
    EnvironmentChange(const wchar_t* name, const wchar_t* value)
        : name_(name), old_(Win32::environmentValue(name)), wasSet_(!old_.empty()) {
        SetEnvironmentVariableW(name, value);
    }
    ~EnvironmentChange() { SetEnvironmentVariableW(name_, wasSet_ ? old_.c_str() : nullptr); }
    EnvironmentChange(const EnvironmentChange&) = delete;
    EnvironmentChange& operator=(const EnvironmentChange&) = delete;

private:
    const wchar_t* name_;
    std::wstring old_;
    bool wasSet_;
};

void toolFolderIsTheTemporaryFolder() {
    EnvironmentChange temp(L"TEMP", nullptr);
    EnvironmentChange tmp(L"TMP", nullptr);

    WinCheck::row = "from the environment";
    SetEnvironmentVariableW(L"TEMP", L"C:\\torvane test\\temp\\");
    CHECK_EQUAL(Win32::toolFolder(), std::wstring(L"C:\\torvane test\\temp"));

    WinCheck::row = "from the Shell Folders value";
    SetEnvironmentVariableW(L"TEMP", nullptr);
    setShellFolderTemp(L"C:\\从注册表\\Temp");
    CHECK_EQUAL(Win32::toolFolder(), std::wstring(L"C:\\从注册表\\Temp"));

    WinCheck::row = "from the system";
    setShellFolderTemp(nullptr);
    SetEnvironmentVariableW(L"TMP", L"C:\\system temp\\");
    CHECK_EQUAL(Win32::toolFolder(), std::wstring(L"C:\\system temp"));
}

std::wstring lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    return text;
}

bool writeEmptyFile(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

void findsAnInstalledPutty() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    const std::wstring root =
        std::wstring(base) + L"torvane-putty-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring onPath = root + L"\\bin";
    const std::wstring programFiles = root + L"\\程序";
    const std::wstring empty = root + L"\\empty";
    for (const std::wstring& folder :
         {root, onPath, programFiles, programFiles + L"\\PuTTY", empty})
        CreateDirectoryW(folder.c_str(), nullptr);
    CHECK(writeEmptyFile(onPath + L"\\putty.exe"));
    CHECK(writeEmptyFile(programFiles + L"\\PuTTY\\putty.exe"));
    EnvironmentChange path(L"PATH", nullptr);
    EnvironmentChange programs(L"ProgramFiles", nullptr);
    EnvironmentChange programs32(L"ProgramFiles(x86)", nullptr);
    EnvironmentChange localPrograms(L"LOCALAPPDATA", nullptr);

    WinCheck::row = "on the search path";
    SetEnvironmentVariableW(L"PATH", (empty + L";" + onPath).c_str());
    SetEnvironmentVariableW(L"ProgramFiles", programFiles.c_str());
    CHECK_EQUAL(lower(Win32::installedPutty()), lower(onPath + L"\\putty.exe"));

    WinCheck::row = "in Program Files";
    SetEnvironmentVariableW(L"PATH", empty.c_str());
    CHECK_EQUAL(lower(Win32::installedPutty()), lower(programFiles + L"\\PuTTY\\putty.exe"));

    WinCheck::row = "in the user's programs";
    SetEnvironmentVariableW(L"ProgramFiles", empty.c_str());
    SetEnvironmentVariableW(L"LOCALAPPDATA", root.c_str());
    CreateDirectoryW((root + L"\\Programs").c_str(), nullptr);
    CreateDirectoryW((root + L"\\Programs\\PuTTY").c_str(), nullptr);
    CHECK(writeEmptyFile(root + L"\\Programs\\PuTTY\\putty.exe"));
    CHECK_EQUAL(lower(Win32::installedPutty()), lower(root + L"\\Programs\\PuTTY\\putty.exe"));

    WinCheck::row = "nowhere";
    SetEnvironmentVariableW(L"LOCALAPPDATA", nullptr);
    SetEnvironmentVariableW(L"ProgramFiles", nullptr);
    CHECK_EQUAL(Win32::installedPutty(), std::wstring());

    // A folder named putty.exe is no program.
    WinCheck::row = "a folder of that name";
    CreateDirectoryW((empty + L"\\PuTTY").c_str(), nullptr);
    CreateDirectoryW((empty + L"\\PuTTY\\putty.exe").c_str(), nullptr);
    SetEnvironmentVariableW(L"ProgramFiles", empty.c_str());
    CHECK_EQUAL(Win32::installedPutty(), std::wstring());
}

// Value names as PuTTY writes them: a known host is found by name and port whatever the key
// type, with the host escaped as PuTTY escapes it.
void readsPuttysHostKeyCache() {
    RegDeleteKeyW(HKEY_CURRENT_USER, Win32::kPuttyHostKeysKey);
    WinCheck::row = "no cache yet";
    CHECK(!Win32::puttyHasHostKey(L"127.0.0.1", 22));

    for (const wchar_t* name :
         {L"ssh-ed25519@22:127.0.0.1", L"rsa2@2222:%2Ehidden", L"ecdsa-sha2-nistp256@22:my%20host"})
        RegSetKeyValueW(HKEY_CURRENT_USER, Win32::kPuttyHostKeysKey, name, REG_SZ, L"0x1,0x2",
                        8 * sizeof(wchar_t));
    struct Row {
        const char* name;
        const wchar_t* host;
        int port;
        bool known;
    };
    const Row rows[] = {
        {"known host and port", L"127.0.0.1", 22, true},
        {"same host, other port", L"127.0.0.1", 2222, false},
        {"host that is the end of a known one", L"27.0.0.1", 22, false},
        {"escaped leading dot", L".hidden", 2222, true},
        {"escaped blank", L"my host", 22, true},
        {"unknown host", L"10.0.0.7", 22, false},
    };
    for (const Row& r : rows) {
        WinCheck::row = r.name;
        CHECK_EQUAL(Win32::puttyHasHostKey(r.host, r.port), r.known);
    }
    RegDeleteKeyW(HKEY_CURRENT_USER, Win32::kPuttyHostKeysKey);
}

} // namespace

int main() {
    return WinCheck::run({{"GBK conversions", gbkConversions},
                          {"tool folder is the temporary folder", toolFolderIsTheTemporaryFolder},
                          {"finds an installed PuTTY", findsAnInstalledPutty},
                          {"reads PuTTY's host-key cache", readsPuttysHostKeyCache}});
}
