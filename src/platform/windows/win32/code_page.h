#pragma once

#include <string>
#include <string_view>

// Conversions between UTF-16 text and the byte form of a Windows code page.
namespace Win32 {

// The code page of simplified Chinese Windows (GBK), the byte form of Torvane's files,
// database text and form bodies.
constexpr unsigned kGbkCodePage = 936;

// Characters the code page cannot hold become "?", as Windows' own conversion does.
std::string toCodePage(std::wstring_view text, unsigned codePage);

// Byte sequences that are not valid in the code page are decoded the way Windows decodes
// them.
std::wstring fromCodePage(std::string_view bytes, unsigned codePage);

} // namespace Win32
