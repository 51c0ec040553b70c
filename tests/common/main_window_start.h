#pragma once

#include "ui/app/main_window.h"
#include "ui/app/server_list_view.h"

#include <QSignalSpy>
#include <QTest>

// Shows `window` and waits until its list's first fill has ended. The start-up makes the
// database ready on the store's thread, then fills the list, and the fill ends with the rental
// reminder in the log: tests that read the list or compare the log start after it. False when
// the window is not shown or the fill does not end.
inline bool showAndWaitForFirstFill(MainWindow& window) {
    QSignalSpy filled(window.serverList(), &ServerListView::reloaded);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    if (filled.count() == 0 && !filled.wait(20000))
        return false;
    return QTest::qWaitFor([&] { return !window.serverList()->isFilling(); }, 20000);
}
