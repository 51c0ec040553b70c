#include "platform/windows/win32/foreign_windows.h"

namespace Win32 {

HWND findWindow(HWND parent, const std::wstring& windowClass, const std::wstring& title) {
    return FindWindowExW(parent, nullptr, windowClass.c_str(), title.c_str());
}

bool postClick(HWND window, int x, int y) {
    if (!window)
        return false;
    const LPARAM at = MAKELPARAM(x, y);
    // The move's wParam says MK_RBUTTON; standard buttons ignore it and act on the left
    // button's down and up, which is what presses them.
    return PostMessageW(window, WM_MOUSEMOVE, MK_RBUTTON, at) &&
           PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, at) &&
           PostMessageW(window, WM_LBUTTONUP, 0, at);
}

} // namespace Win32
