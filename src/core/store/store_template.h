#pragma once

#include <QString>

// The content of a new myserver.db: the three tables with their declared types, the default
// group "默认分组" (id 4, sort 50), the empty account row (id 1) and the AUTOINCREMENT
// counters that give the first server id 6 and the first added group id 5. 1024-byte pages.
namespace StoreTemplate {

// Creates the file at `path` (which must not exist). The template is built in a temporary
// file beside it and renamed into place, so a failure never leaves a half-made database.
bool write(const QString& path);

} // namespace StoreTemplate
