// Finding and pressing other programs' dialog buttons. Each fixture is a real dialog, made
// from a dialog template on a thread of its own, with the window class, title and button
// caption of the Remote Desktop client's and PuTTY's dialogs written out here; the clicker
// looks for them by the names the launchers use. Every fixture closes itself at a deadline,
// so a button that is never pressed cannot keep a test waiting.

#include "dialog_fixture.h"
#include "platform/windows/win32/dialog_names.h"
#include "platform/windows/win32/foreign_windows.h"
#include "win_check.h"

#include <windows.h>

#include <thread>
#include <vector>

namespace {

namespace Names = Win32::DialogNames;
using namespace DialogFixture;

constexpr UINT kUnpressedDeadlineMs = 1500;

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
