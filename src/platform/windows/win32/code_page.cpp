#include "platform/windows/win32/code_page.h"

#include <windows.h>

#include <climits>

namespace Win32 {

std::string toCodePage(std::wstring_view text, unsigned codePage) {
    if (text.empty() || text.size() > INT_MAX)
        return {};
    const int length = static_cast<int>(text.size());
    const int size =
        WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(codePage, 0, text.data(), length, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

std::wstring fromCodePage(std::string_view bytes, unsigned codePage) {
    if (bytes.empty() || bytes.size() > INT_MAX)
        return {};
    const int length = static_cast<int>(bytes.size());
    const int size = MultiByteToWideChar(codePage, 0, bytes.data(), length, nullptr, 0);
    std::wstring text(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(codePage, 0, bytes.data(), length, text.data(), size);
    return text;
}

} // namespace Win32
