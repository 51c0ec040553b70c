// A stand-in for a session client that Torvane starts on Windows: built as putty.exe and as
// mstsc.exe (STAND_IN_PUTTY picks which). It shows the dialogs the real client raises before
// it connects, one after the other, each until its button is pressed or its deadline passes,
// and then writes what it saw to %TORVANE_STAND_IN_RECORDS%\<name>.txt (UTF-8):
//
//   command line: <its whole command line>
//   file: <the bytes of the file it was given, in hexadecimal>
//   pressed: <caption>           one line per dialog, or "not pressed: <caption>"
//
// The file is read at start, as the real client reads it (Torvane removes PuTTY's password
// file once the host-key dialog is pressed); the record appears whole, by a rename.

#include "dialog_fixture.h"

#include <shellapi.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

#ifdef STAND_IN_PUTTY
const wchar_t* const kName = L"putty";
// PuTTY reads the password from the file after -pwfile.
const wchar_t* const kFileOption = L"-pwfile";
const std::vector<DialogFixture::Fixture> kDialogs = {
    {L"PuTTYHostKeyDialog", L"PuTTY Security Alert", L"&Accept"}};
#else
const wchar_t* const kName = L"mstsc";
// The Remote Desktop client's first argument is the .rdp file.
const wchar_t* const kFileOption = nullptr;
const std::vector<DialogFixture::Fixture> kDialogs = {{L"", L"远程桌面连接", L"连接(&N)"},
                                                      {L"", L"远程桌面连接", L"是(&Y)"}};
#endif

std::string utf8(const std::wstring& text) {
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? std::size_t(size) : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, bytes.data(), size, nullptr, nullptr);
    bytes.pop_back(); // the terminating zero
    return bytes;
}

std::wstring givenFile() {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    std::wstring file;
    for (int i = 1; i < count && file.empty(); ++i) {
        if (!kFileOption && i == 1)
            file = arguments[i];
        else if (kFileOption && i + 1 < count && std::wstring(arguments[i]) == kFileOption)
            file = arguments[i + 1];
    }
    LocalFree(arguments);
    return file;
}

std::string hexOfFile(const std::wstring& path) {
    std::string hex;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file)
        return hex;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", c);
        hex += pair;
    }
    std::fclose(file);
    return hex;
}

void writeRecord(const std::string& record) {
    wchar_t folder[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"TORVANE_STAND_IN_RECORDS", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    const std::wstring path = std::wstring(folder) + L"\\" + kName + L".txt";
    const std::wstring part = path + L".part";
    FILE* file = _wfopen(part.c_str(), L"wb");
    if (!file)
        return;
    std::fwrite(record.data(), 1, record.size(), file);
    std::fclose(file);
    MoveFileExW(part.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

} // namespace

int main() {
    std::string record = "command line: " + utf8(GetCommandLineW()) + "\n";
    record += "file: " + hexOfFile(givenFile()) + "\n";
#ifdef STAND_IN_PUTTY
    DialogFixture::registerPuttyDialogClass();
#endif
    for (DialogFixture::Fixture dialog : kDialogs) {
        DialogFixture::showFixture(&dialog);
        record += (dialog.pressed ? "pressed: " : "not pressed: ") + utf8(dialog.caption) + "\n";
        if (!dialog.pressed)
            break;
    }
    writeRecord(record);
    return 0;
}
