#pragma once

#include "core/store/local_store.h"
#include "core/store/server_queries.h"

#include <QString>

#include <optional>

// Servers in and out of the store as "----" separated lines.
namespace BatchImport {

enum class Outcome { Skipped, Exists, Added, Failed };

// The server of one batch line: fields group, name, address, account, password, port, system,
// remark, start, end, sort, then optionally the four panel fields. Nothing for a line of fewer
// than eleven fields. `withPanelFields` tells whether the line carried any panel field; a
// line with only some of the four stores the missing ones empty.
struct BatchServer {
    ServerRecord server;
    bool withPanelFields = false;
};
std::optional<BatchServer> parseLine(const QString& line);

struct LineResult {
    Outcome outcome = Outcome::Skipped;
    // The row to show until the next reload (id empty, 状态 "等待检测"); set when added.
    ListCells provisionalRow;
};

// Adds one line's server unless its address and port are stored already, with the log lines
// of batch adding ("-S_ID", then "-{address} 添加成功", "添加失败" or "添加失败 指定服务器IP
// 已经存在"). Short lines are skipped silently.
LineResult addLine(LocalStore& store, const QString& line);

// The block's lines, after its outer and blank line breaks are removed.
QStringList blockLines(const QString& block);

// Files larger than this are not server lists; they are refused instead of being loaded.
constexpr qint64 kMaxFileBytes = 8 * 1024 * 1024;

// The text of an imported file. Files are GBK, as the export writes them; a file that starts
// with a UTF-8 or UTF-16 byte-order mark, or that is valid UTF-8 with non-ASCII characters,
// is read as what it is rather than garbled. The text ends at its first zero character.
QString decodeFile(const QByteArray& bytes);

} // namespace BatchImport

namespace BatchExport {

inline const QString kFileName = QStringLiteral("导出记录.txt");

// The export text of the listed rows: per row group, name, address, account, password, port,
// system, remark, start, end and sort, each followed by "----", then "0----" four times in
// place of the panel fields (never exported); CR LF between lines, none after the last.
QString exportText(const QList<ListCells>& rows);

// Writes `text` as GBK bytes to the data folder's 导出记录.txt, replacing it whole or not at
// all; false when the file could not be written.
bool writeExportFile(const QString& text, QString* error = nullptr);

} // namespace BatchExport
