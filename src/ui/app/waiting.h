#pragma once

#include <QAbstractButton>
#include <QWidget>

// Shows that a window waits for a store operation it started: `button`, which would start
// another, is disabled and the pointer over the window says busy. The window itself stays
// usable and can be closed meanwhile.
inline void showWaiting(QWidget* window, QAbstractButton* button, bool waiting) {
    button->setEnabled(!waiting);
    if (waiting)
        window->setCursor(Qt::BusyCursor);
    else
        window->unsetCursor();
}
