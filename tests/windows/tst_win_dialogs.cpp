// Finding and pressing other programs' dialog buttons. Each fixture is a real dialog, made
// from a dialog template on a thread of its own, with the window class, title and button
// caption of the Remote Desktop client's and PuTTY's dialogs written out here; the clicker
// looks for them by the names the launchers use. Every fixture closes itself at a deadline,
// so a button that is never pressed cannot keep a test waiting.

#include "platform/windows/win32/dialog_names.h"
#include "platform/windows/win32/foreign_windows.h"
#include "win_check.h"

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

namespace {

namespace Names = Win32::DialogNames;

constexpr WORD kButtonId = 100;
constexpr UINT kPressedDeadlineMs = 10000;
constexpr UINT kUnpressedDeadlineMs = 1500;

struct Fixture {
    std::wstring windowClass; // empty: the standard dialog class #32770
    std::wstring title;
    std::wstring caption;
    UINT deadlineMs = kPressedDeadlineMs;
    HANDLE ready = nullptr;
    HWND dialog = nullptr;
    bool pressed = false;
};

// A dialog template in memory: the dialog and one push button.
std::vector<WORD> dialogTemplate(const Fixture& f) {
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

INT_PTR CALLBACK fixtureProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
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
void registerPuttyDialogClass() {
    WNDCLASSEXW dialogClass{};
    dialogClass.cbSize = sizeof dialogClass;
    GetClassInfoExW(nullptr, MAKEINTRESOURCEW(0x8002), &dialogClass);
    dialogClass.hInstance = GetModuleHandleW(nullptr);
    dialogClass.lpszClassName = L"PuTTYHostKeyDialog";
    RegisterClassExW(&dialogClass);
}

// Shows the fixture and runs its messages until it is pressed or its deadline has passed.
void showFixture(Fixture* f) {
    const std::vector<WORD> layout = dialogTemplate(*f);
    f->dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                           reinterpret_cast<LPCDLGTEMPLATEW>(layout.data()),
                                           nullptr, fixtureProc, reinterpret_cast<LPARAM>(f));
    SetEvent(f->ready);
    MSG message;
    while (f->dialog && IsWindow(f->dialog) && GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

struct Row {
    const char* name;
    Fixture fixture;
    const wchar_t* windowClass;
    const wchar_t* title;
    const wchar_t* caption;
    bool pressable;
};

void findsAndPresses() {
    const std::vector<Row> rows = {
        {"Remote Desktop: connect",
         {L"", L"远程桌面连接", L"连接(&N)"},
         Names::kRemoteDesktopClass,
         Names::kRemoteDesktopTitle,
         Names::kRemoteDesktopConnect,
         true},
        {"Remote Desktop: yes",
         {L"", L"远程桌面连接", L"是(&Y)"},
         Names::kRemoteDesktopClass,
         Names::kRemoteDesktopTitle,
         Names::kRemoteDesktopYes,
         true},
        {"PuTTY host key: accept",
         {L"PuTTYHostKeyDialog", L"PuTTY Security Alert", L"&Accept"},
         Names::kPuttyHostKeyClass,
         Names::kPuttyHostKeyTitle,
         Names::kPuttyAccept,
         true},
        {"Remote Desktop: connect without its accelerator",
         {L"", L"远程桌面连接", L"连接(N)", kUnpressedDeadlineMs},
         Names::kRemoteDesktopClass,
         Names::kRemoteDesktopTitle,
         Names::kRemoteDesktopConnect,
         false},
        {"PuTTY host key: accept without its accelerator",
         {L"PuTTYHostKeyDialog", L"PuTTY Security Alert", L"Accept", kUnpressedDeadlineMs},
         Names::kPuttyHostKeyClass,
         Names::kPuttyHostKeyTitle,
         Names::kPuttyAccept,
         false},
    };
    for (Row r : rows) {
        WinCheck::row = r.name;
        Fixture& f = r.fixture;
        f.ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::thread shown(showFixture, &f);
        CHECK_EQUAL(WaitForSingleObject(f.ready, kPressedDeadlineMs), WAIT_OBJECT_0);
        CHECK(f.dialog != nullptr);

        const HWND dialog = Win32::findWindow(nullptr, r.windowClass, r.title);
        CHECK(dialog != nullptr);
        CHECK(dialog == f.dialog);
        const HWND button =
            dialog ? Win32::findWindow(dialog, Names::kButtonClass, r.caption) : nullptr;
        CHECK_EQUAL(button != nullptr, r.pressable);
        if (button)
            CHECK(Win32::postClick(button, 5, 5));

        shown.join();
        CloseHandle(f.ready);
        CHECK_EQUAL(f.pressed, r.pressable);
        // The pressed dialog is gone with its button: a click has nowhere to go.
        if (button)
            CHECK(!Win32::postClick(button, 5, 5));
    }
}

} // namespace

int main() {
    registerPuttyDialogClass();
    return WinCheck::run({{"finds and presses the launchers' dialog buttons", findsAndPresses}});
}
