#pragma once

#include <QString>

// Where the program writes the tools it runs and its .rdp files. On Windows the user's
// temporary folder. On Linux a folder private to the user (mode 0700, created when missing,
// refused when another user owns it), because the program executes what it finds there;
// empty when no such folder can be had.
QString toolFolder();
