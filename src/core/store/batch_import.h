#pragma once

#include "core/store/local_store.h"
#include "core/store/sliced_lines.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

// Servers into the store from "----" separated lines: typed, pasted or read from a file.
namespace BatchImport {

// The server of one batch line: fields group, name, address, account, password, port, system,
// remark, start, end, sort, then optionally the four panel fields. Nothing for a line of fewer
// than eleven fields. `withPanelFields` tells whether the line carried any panel field; a
// line with only some of the four stores the missing ones empty.
struct BatchServer {
    ServerRecord server;
    bool withPanelFields = false;
};
std::optional<BatchServer> parseLine(const QString& line);

// Adds one line's server unless its address and port are stored already, or one of its
// fields holds a character the store cannot keep ("-{address} 添加失败 <field>含有无法保存的
// 字符：<characters>"). Short lines are skipped silently. The line's log messages, "-S_ID <id>"
// then "-{address} 添加成功", "添加失败" or "添加失败 指定服务器IP已经存在", are returned, not
// written, because "添加成功" is only true once the transaction around the line has been committed.
// An added line's server has an empty id (the list shows it until its next reload).
[[nodiscard]] LineWrite addLine(LocalStore& store, const QString& line);

// The block's lines, after its outer and blank line breaks are removed.
QStringList blockLines(const QString& block);

// The batch window's box, given as the texts of its blocks (its lines): its lines after the
// outer and blank line breaks are removed, and the trimmed text (lines separated by CR LF)
// when trimming changed it, for the box to show. The box's text is read as the box would give
// it whole: a no-break space reads as a space, a line or paragraph separator as a line break.
// Made off the UI thread: a long batch is megabytes of text. The text is never made whole: a
// line that is a block as it stands shares that block's string.
struct BoxLines {
    QStringList lines;
    std::optional<QString> trimmed;
};
BoxLines boxLines(QStringList blocks);

// Adds a batch of lines a slice at a time, one write transaction per slice, so a long batch
// neither freezes the window nor holds the file's write lock for long. The log lines of a
// slice go to the log after its commit: a line is reported added only when it is in the file,
// and a failed commit turns the slice's "添加成功" into "添加失败" with the reason.
class BatchAdder : public SlicedLines {
public:
    // Work per slice before the window gets its events again.
    static constexpr std::chrono::milliseconds kSlice{15};
    // The pause between slices, in which another writer of the file (a second Torvane) gets
    // the write lock; a few milliseconds per slice of some hundred lines.
    static constexpr std::chrono::milliseconds kGap{3};

    explicit BatchAdder(QStringList lines) : SlicedLines(std::move(lines), addLine) {}
};

// Files larger than this are not server lists; they are refused instead of being loaded.
constexpr qint64 kMaxFileBytes = qint64{8} * 1024 * 1024;

// The text of an imported file. Files are GBK, as the export writes them; only a file that
// starts with a UTF-8 or UTF-16 byte-order mark is read as that. (Many GBK texts are valid
// UTF-8 byte for byte, so guessing from the bytes garbles them.) The text ends at its first
// zero character.
QString decodeFile(const QByteArray& bytes);

} // namespace BatchImport
