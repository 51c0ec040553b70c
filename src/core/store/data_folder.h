#pragma once

#include <QString>

// The folder that holds myserver.db and 导出记录.txt.
namespace DataFolder {

// TORVANE_HOME when set; else the executable's folder when it is a portable folder; else the
// per-user application data folder (~/.local/share/Torvane on Linux). The folder is created
// when missing.
QString path();

// path() + "/" + name.
QString file(const QString& name);

// Whether the executable's folder `folder` keeps the data. On Windows, any folder the user can
// create files in (the program travels with its list); an installed copy in Program Files
// keeps it in the per-user folder (%APPDATA%\Torvane). Elsewhere only a writable folder that
// already holds myserver.db or a marker file named "portable": a build or install folder must never
// become the place where a user's passwords live.
bool isPortableFolder(const QString& folder);

} // namespace DataFolder
