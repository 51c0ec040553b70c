#pragma once

#include <QLocale>

class QApplication;

// The name the desktop entry, the icon and the AppStream data are installed under; the
// task bar groups the window with its menu entry by it.
inline constexpr const char* kDesktopFileName = "net.torvane.Torvane";

// Process-wide settings made once at start: the program's name (which places the per-user
// data folder), its icon and desktop entry, Qt's own texts in the user's language, the
// interface font, enough global workers that slow requests do not hold up the list, and a
// guard that keeps a paste of an empty clipboard from reaching the text boxes.
void setUpApplication(QApplication& app);

// The language of Qt's own texts (the buttons of message boxes): the system's, or Chinese,
// the language of the whole interface, when the system names none (C or POSIX).
QLocale qtTextsLocale(const QLocale& system);
