#include "platform/windows/win32/rdp_password.h"

#include <windows.h>

#include <dpapi.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace Win32 {

std::string rdpPasswordHex(std::wstring_view password) {
    // The zero padding holds the terminating zero too, unless the password fills all 512
    // bytes; an empty password protects 512 zero bytes.
    std::vector<BYTE> plain(kRdpPasswordBytes, 0);
    std::memcpy(plain.data(), password.data(),
                std::min(password.size() * sizeof(wchar_t), plain.size()));
    DATA_BLOB in{static_cast<DWORD>(plain.size()), plain.data()};
    DATA_BLOB out{};
    if (!CryptProtectData(&in, L"psw", nullptr, nullptr, nullptr, 0, &out))
        return {};
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(out.cbData * 2 + 1);
    for (DWORD i = 0; i < out.cbData; ++i) {
        hex += kDigits[out.pbData[i] >> 4];
        hex += kDigits[out.pbData[i] & 0x0F];
    }
    LocalFree(out.pbData);
    return hex + '0';
}

} // namespace Win32
