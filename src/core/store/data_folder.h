#pragma once

#include <QString>

// The folder that holds myserver.db and 导出记录.txt.
namespace DataFolder {

// TORVANE_HOME when set; else the executable's folder when it is writable (portable use);
// else the per-user application data folder. The folder is created when missing.
QString path();

// path() + "/" + name.
QString file(const QString& name);

} // namespace DataFolder
