#include "platform/dialog_auto_clicker.h"

#include "platform/windows/win32/foreign_windows.h"

// Windows: dialogs and their buttons are windows of their own, found by class and caption
// and pressed by posting the mouse messages of a click inside the button (see win32/).

namespace {

HWND handle(const ForeignWindow& window) {
    return reinterpret_cast<HWND>(static_cast<quintptr>(window.id));
}

// A click aims at (5, 5) inside the button, clear of its edge.
ForeignWindow found(HWND window) {
    return {static_cast<quint64>(reinterpret_cast<quintptr>(window)), QPoint(5, 5)};
}

} // namespace

ForeignWindow DialogAutoClicker::findWindow(const ForeignWindow& parent, const QString& windowClass,
                                            const QString& title) {
    return found(Win32::findWindow(parent ? handle(parent) : nullptr, windowClass.toStdWString(),
                                   title.toStdWString()));
}

ForeignWindow DialogAutoClicker::findButton(const ForeignWindow& dialog,
                                            const DialogButton& button) {
    if (!dialog)
        return {};
    return findWindow(dialog, button.windowClass, button.caption);
}

bool DialogAutoClicker::click(const ForeignWindow& target) {
    return target && Win32::postClick(handle(target), target.point.x(), target.point.y());
}
