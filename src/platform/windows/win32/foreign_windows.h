#pragma once

#include <windows.h>

#include <string>

// Windows of other programs: dialogs and their buttons are windows of their own, found by
// class and title (caption).
namespace Win32 {

// The first window below `parent` (null: among the top-level windows) whose class and title
// are exactly these; null when there is none.
HWND findWindow(HWND parent, const std::wstring& windowClass, const std::wstring& title);

// Posts a left click at (x, y) inside `window` as the three mouse messages a pointer would
// bring: WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP. Does not wait for them to be handled.
// False when a message could not be posted (the window is gone).
bool postClick(HWND window, int x, int y);

} // namespace Win32
