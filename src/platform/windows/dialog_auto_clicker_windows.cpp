#include "platform/dialog_auto_clicker.h"

#include <windows.h>

// Windows: dialogs and their buttons are windows of their own, found with FindWindowEx and
// pressed by posting the mouse messages of a click at (5, 5) inside the button.

namespace {

HWND handle(const ForeignWindow& window) {
    return reinterpret_cast<HWND>(static_cast<quintptr>(window.id));
}

ForeignWindow found(HWND window) {
    return {static_cast<quint64>(reinterpret_cast<quintptr>(window)), QPoint(5, 5)};
}

} // namespace

ForeignWindow DialogAutoClicker::findWindow(const ForeignWindow& parent, const QString& windowClass,
                                            const QString& title) {
    return found(FindWindowExW(parent ? handle(parent) : nullptr, nullptr,
                               reinterpret_cast<LPCWSTR>(windowClass.utf16()),
                               reinterpret_cast<LPCWSTR>(title.utf16())));
}

ForeignWindow DialogAutoClicker::findButton(const ForeignWindow& dialog,
                                            const DialogButton& button) {
    if (!dialog)
        return {};
    return findWindow(dialog, button.windowClass, button.caption);
}

bool DialogAutoClicker::click(const ForeignWindow& target) {
    if (!target)
        return false;
    const LPARAM at = MAKELPARAM(target.point.x(), target.point.y());
    return PostMessageW(handle(target), WM_MOUSEMOVE, 2, at) &&
           PostMessageW(handle(target), WM_LBUTTONDOWN, MK_LBUTTON, at) &&
           PostMessageW(handle(target), WM_LBUTTONUP, 0, at);
}
