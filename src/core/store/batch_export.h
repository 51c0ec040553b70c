#pragma once

#include "core/store/records.h"

#include <QList>
#include <QString>

// The listed servers out to 导出记录.txt as "----" separated lines.
namespace BatchExport {

inline const QString kFileName = QStringLiteral("导出记录.txt");

// The export text of the listed servers: per server group, name, address, account, password, port,
// system, remark, start, end and sort, each followed by "----", then "0----" four times in
// place of the panel fields (never exported); CR LF between lines, none after the last.
QString exportText(const QList<ServerRecord>& servers);

// Writes `text` as GBK bytes to 导出记录.txt in `dataFolder`, replacing it whole or not at
// all, readable by its owner only; false when the file could not be written.
bool writeExportFile(const QString& dataFolder, const QString& text, QString* error = nullptr);

// What the user is told after a successful export: the folder the file is in.
QString exportedMessage(const QString& dataFolder);

} // namespace BatchExport
