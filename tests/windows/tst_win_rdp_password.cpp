// The .rdp password field: protected for the current user with the Data Protection API and
// written as the template's placeholder is written, so it can take its place.

#include "platform/windows/win32/rdp_password.h"
#include "win_check.h"

#include <windows.h>

#include <dpapi.h>

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

// The template's placeholder: the blob version and the Windows provider id, then the
// trailing "0". Wine's Data Protection writes the same version with a provider id of its own.
const std::string kPlaceholder = "01000000D08C9DDF0115D1118C7A00C04FC297EB0";
const std::string kWineBlobStart = "0100000057696E652043727970743332206F6B00";

bool underWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

bool isUpperHex(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

std::vector<BYTE> bytesOfHex(const std::string& hex) {
    std::vector<BYTE> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<BYTE>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

struct Unprotected {
    std::vector<BYTE> plain;
    std::wstring description;
};

std::optional<Unprotected> unprotect(std::vector<BYTE> blob) {
    DATA_BLOB in{static_cast<DWORD>(blob.size()), blob.data()};
    DATA_BLOB out{};
    LPWSTR description = nullptr;
    if (!CryptUnprotectData(&in, &description, nullptr, nullptr, nullptr, 0, &out))
        return std::nullopt;
    Unprotected result{{out.pbData, out.pbData + out.cbData}, description ? description : L""};
    LocalFree(out.pbData);
    LocalFree(description);
    return result;
}

// What the client reads back: the UTF-16 text and its terminating zero, zero-padded or cut
// to 512 bytes.
std::vector<BYTE> expectedPlain(const std::wstring& password) {
    std::vector<BYTE> plain(Win32::kRdpPasswordBytes, 0);
    const auto* bytes = reinterpret_cast<const BYTE*>(password.c_str());
    std::copy_n(bytes, std::min(password.size() * 2, plain.size()), plain.begin());
    return plain;
}

struct Row {
    const char* name;
    std::wstring password;
};

const std::vector<Row> kPasswords = {
    {"empty", L""},
    {"ASCII", L"P@ssw0rd 123"},
    {"form characters", L"a&b=c&=="},
    {"Chinese", L"默认分组密码"},
    {"fills 512 bytes with its zero", std::wstring(255, L'x')},
    {"fills 512 bytes without its zero", std::wstring(256, L'y')},
    {"longer than 512 bytes", std::wstring(300, L'长')},
};

void roundTrips() {
    for (const Row& r : kPasswords) {
        WinCheck::row = r.name;
        const std::string hex = Win32::rdpPasswordHex(r.password);
        if (!CHECK(!hex.empty()))
            continue;
        const auto back = unprotect(bytesOfHex(hex));
        if (!CHECK(back.has_value()))
            continue;
        CHECK(back->plain == expectedPlain(r.password));
        CHECK_EQUAL(back->description, std::wstring(L"psw"));
    }
}

void fieldHasThePlaceholdersForm() {
    for (const Row& r : kPasswords) {
        WinCheck::row = r.name;
        const std::string hex = Win32::rdpPasswordHex(r.password);
        CHECK(isUpperHex(hex));
        CHECK_EQUAL(hex.size() % 2, std::size_t(1));
        CHECK_EQUAL(hex.back(), '0');
        const std::string blobStart = kPlaceholder.substr(0, kPlaceholder.size() - 1);
        CHECK_EQUAL(hex.substr(0, blobStart.size()), underWine() ? kWineBlobStart : blobStart);
        // "password 51:b:" and the field make one line: nothing in it may end the line.
        CHECK(hex.find_first_of("\r\n") == std::string::npos);
    }
}

} // namespace

int main() {
    return WinCheck::run({{"password table round-trips", roundTrips},
                          {"field has the placeholder's form", fieldHasThePlaceholdersForm}});
}
