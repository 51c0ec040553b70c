#pragma once

#include <QString>

// Opens a web address in the user's browser through QDesktopServices, whose URL handlers are
// also where tests catch the pages; a page that cannot be opened is logged. True when the
// page was handed to the browser.
bool openWebPage(const QString& address);
