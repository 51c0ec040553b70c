#pragma once

// The dialogs of other programs that Torvane presses on Windows: window class, title and
// button caption exactly as those programs create them. The accelerator mark "&" is part of
// a caption; a button shown as "Accept" without it is another button.
namespace Win32::DialogNames {

inline constexpr wchar_t kButtonClass[] = L"Button";

// The Remote Desktop client's confirmations before it connects, on a Chinese-language
// Windows: first "连接(&N)", then "是(&Y)", both in a standard dialog of this title.
inline constexpr wchar_t kRemoteDesktopClass[] = L"#32770";
inline constexpr wchar_t kRemoteDesktopTitle[] = L"远程桌面连接";
inline constexpr wchar_t kRemoteDesktopConnect[] = L"连接(&N)";
inline constexpr wchar_t kRemoteDesktopYes[] = L"是(&Y)";

// PuTTY's warning about a host key it has not cached yet; its dialog window class is
// PuTTY's own.
inline constexpr wchar_t kPuttyHostKeyClass[] = L"PuTTYHostKeyDialog";
inline constexpr wchar_t kPuttyHostKeyTitle[] = L"PuTTY Security Alert";
inline constexpr wchar_t kPuttyAccept[] = L"&Accept";

} // namespace Win32::DialogNames
