#pragma once

#include <QString>

// The folder that holds myserver.db and 导出记录.txt.
namespace DataFolder {

// `configured` (TORVANE_HOME at start-up, or a test's folder) when not empty; else the
// executable's folder when it is a portable folder; else the per-user application data folder
// (~/.local/share/Torvane on Linux).
QString choose(const QString& configured);

// Creates the folder when it is missing: on Linux for its user alone, as it holds passwords.
// A folder that exists already keeps the permissions its owner gave it.
void make(const QString& folder);

// Whether the executable's folder `folder` keeps the data. On Windows, any folder the user can
// create files in (the program travels with its list); an installed copy in Program Files
// keeps it in the per-user folder (%APPDATA%\Torvane). Elsewhere only a writable folder that
// already holds myserver.db or a marker file named "portable": a build or install folder must never
// become the place where a user's passwords live.
bool isPortableFolder(const QString& folder);

} // namespace DataFolder
