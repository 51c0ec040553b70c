#pragma once

// Real dialogs of the kind other programs raise, made from a dialog template in memory: one
// push button, a window class (the standard dialog class, or a class of the program's own, as
// PuTTY has) and a title. Each closes itself at its deadline, so a button that is never
// pressed cannot keep anyone waiting. The tests of the dialog clicker and the stand-in
// session clients show them.

#include <windows.h>

#include <string>
#include <vector>

namespace DialogFixture {

constexpr WORD kButtonId = 100;
constexpr UINT kPressedDeadlineMs = 10000;

struct Fixture {
    std::wstring windowClass; // empty: the standard dialog class #32770
    std::wstring title;
    std::wstring caption;
    UINT deadlineMs = kPressedDeadlineMs;
    HANDLE ready = nullptr; // set once the dialog exists, when given
    HWND dialog = nullptr;
    bool pressed = false;
};

// A dialog template in memory: the dialog and one push button.
inline std::vector<WORD> dialogTemplate(const Fixture& f) {
    std::vector<WORD> t;
    auto dword = [&t](DWORD value) {
        t.push_back(LOWORD(value));
        t.push_back(HIWORD(value));
    };
    auto text = [&t](const std::wstring& s) {
        t.insert(t.end(), s.begin(), s.end());
        t.push_back(0);
    };
    dword(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_MODALFRAME);
    dword(0);
    t.push_back(1); // one control
    for (WORD v : {20, 20, 200, 80})
        t.push_back(v);
    t.push_back(0); // no menu
    if (f.windowClass.empty())
        t.push_back(0);
    else
        text(f.windowClass);
    text(f.title);
    if (t.size() % 2 != 0) // controls start on a DWORD boundary
        t.push_back(0);
    dword(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON);
    dword(0);
    for (WORD v : {10, 10, 80, 20})
        t.push_back(v);
    t.push_back(kButtonId);
    t.push_back(0xFFFF); // the predefined class "Button"
    t.push_back(0x0080);
    text(f.caption);
    t.push_back(0); // no creation data
    return t;
}

inline INT_PTR CALLBACK fixtureProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* fixture = reinterpret_cast<Fixture*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        SetTimer(dialog, 1, reinterpret_cast<Fixture*>(lParam)->deadlineMs, nullptr);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == kButtonId && HIWORD(wParam) == BN_CLICKED) {
            fixture->pressed = true;
            DestroyWindow(dialog);
        }
        return TRUE;
    case WM_TIMER:
        DestroyWindow(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

// PuTTY's host-key dialog is a standard dialog registered under PuTTY's own class name.
inline void registerPuttyDialogClass() {
    WNDCLASSEXW dialogClass{};
    dialogClass.cbSize = sizeof dialogClass;
    GetClassInfoExW(nullptr, MAKEINTRESOURCEW(0x8002), &dialogClass);
    dialogClass.hInstance = GetModuleHandleW(nullptr);
    dialogClass.lpszClassName = L"PuTTYHostKeyDialog";
    RegisterClassExW(&dialogClass);
}

// Shows the fixture and runs its messages until it is pressed or its deadline has passed.
inline void showFixture(Fixture* f) {
    const std::vector<WORD> layout = dialogTemplate(*f);
    f->dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                           reinterpret_cast<LPCDLGTEMPLATEW>(layout.data()),
                                           nullptr, fixtureProc, reinterpret_cast<LPARAM>(f));
    if (f->ready)
        SetEvent(f->ready);
    MSG message;
    while (f->dialog && IsWindow(f->dialog) && GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

} // namespace DialogFixture
