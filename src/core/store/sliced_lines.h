#pragma once

#include "core/store/local_store.h"
#include "core/store/records.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
#include <chrono>
#include <optional>

// What one line of a long write did. Its messages reach the log only after its slice's
// commit: a line is reported written only once it is in the file.
struct LineWrite {
    // The line added or changed a row.
    bool wrote = false;
    QStringList log;
    // The last message instead, when the line wrote and its slice's commit failed: the form
    // with its "%1" filled by the subject (an address, a group name). Kept apart so that the
    // message is built only when a commit fails, not for every line of a long batch.
    QStringView uncommittedForm;
    QString subject;
    // The server the line added, listed until the list's next reload.
    std::optional<ServerRecord> added;

    QString uncommittedMessage() const { return uncommittedForm.toString().arg(subject); }
};

// A long list of lines (a batch add, a cloud download) written a slice at a time: each slice
// is one write transaction (writeSlice), so a long list neither freezes the window nor holds
// the file's write lock for long, and an interruption keeps what went before.
class SlicedLines {
public:
    using WriteLine = LineWrite (*)(LocalStore& store, const QString& line);

    struct Slice {
        // The servers this slice added, committed, for the list until its next reload.
        QList<ServerRecord> added;
        // False when the slice could not be written (no lock in time, a failed commit).
        bool written = true;
        // Not written because another connection held the file's lock past the busy time-out.
        bool busy = false;
    };

    SlicedLines(QStringList lines, WriteLine write) : lines_(std::move(lines)), write_(write) {}

    // Writes lines for about `budget` (at least one line) in one transaction on `store`, then
    // logs their messages to `log`.
    [[nodiscard]] Slice nextSlice(LocalStore& store, std::chrono::milliseconds budget,
                                  const LogSink& log);

    bool isDone() const { return next_ >= lines_.size(); }
    qsizetype total() const { return lines_.size(); }
    qsizetype processed() const { return next_; }
    // Rows added and committed so far.
    qsizetype added() const { return added_; }

    // The fields of ServerRecord.
    static constexpr std::size_t kRecordFields = 16;

private:
    void shareRepeatedTexts(ServerRecord& server);

    QStringList lines_;
    WriteLine write_;
    // Per field, the short texts of the servers added so far, for later ones to share.
    std::array<QSet<QString>, kRecordFields> repeatedTexts_;
    qsizetype next_ = 0;
    qsizetype added_ = 0;
};
