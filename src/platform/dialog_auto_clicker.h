#pragma once

#include <QPoint>
#include <QString>

// A window of another program, and the point inside it that a click aims at.
struct ForeignWindow {
    quint64 id = 0;
    QPoint point;

    explicit operator bool() const { return id != 0; }
};

// A push button of a dialog. Where buttons are windows of their own (Windows) they are found
// by window class and caption; where the toolkit draws them itself (X11) by their place in
// the dialog's bottom row of buttons, counted from the right (1 = the rightmost).
struct DialogButton {
    QString windowClass;
    QString caption;
    int placeFromRight = 0;
};

// A dialog of another program, found by window class and title, and the button to press.
struct DialogTarget {
    QString windowClass;
    QString title;
    DialogButton button;
};

// Finds dialogs of other programs and presses their buttons. Window ids are those of the
// window system; log lines show them in decimal.
class DialogAutoClicker {
public:
    // The first window below `parent` (none: among the top-level windows) whose class and
    // title are these; none when there is no such window.
    static ForeignWindow findWindow(const ForeignWindow& parent, const QString& windowClass,
                                    const QString& title);

    // The button in `dialog`, with the point a click on it aims at; none when it is not
    // there (yet).
    static ForeignWindow findButton(const ForeignWindow& dialog, const DialogButton& button);

    // Clicks the left mouse button at the window's point. False when the click could not be
    // delivered there.
    static bool click(const ForeignWindow& target);
};
