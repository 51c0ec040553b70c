#pragma once

#include <QString>

class LogSink;

// Opens a web address in the user's browser through QDesktopServices, whose URL handlers are
// also where tests catch the pages; a page that cannot be opened is logged to `log`, when
// there is one. True when the page was handed to the browser.
bool openWebPage(const QString& address, const LogSink* log);
