#pragma once

#include "core/store/records.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <type_traits>
#include <utility>

// Cuts `text` at every `separator`. Consecutive separators give empty pieces, a leading one
// an empty first piece; a trailing one gives no empty last piece, and empty text no pieces.
// Works on GBK bytes: a lead byte and the byte after it are one character, so a separator is
// never matched from the middle of a double-byte character.
QList<QByteArray> splitFields(const QByteArray& text, const QByteArray& separator);
QStringList splitFields(const QString& text, const QString& separator);

// Removes one leading and one trailing CR LF, then every CR at the start of the text or right
// after a line break and every LF at its end or right before one, judged on the text as it
// was before this last step. A block of lines loses its outer line breaks and its blank lines.
// After two or more leading or trailing line breaks, those steps would leave an LF first or a
// CR last, which a line cut from the text would carry as part of its first or last field (a
// group named LF "a"): such a left-over LF or CR goes too.
QString trimLineBreaks(const QString& text);

// The rule of trimLineBreaks for a text read a character at a time, so that a long one need
// not be made whole: `text` looks a few characters ahead (has(i), is(i, c), charAt(i)), gives
// its front character as a value (front()) and drops those read (drop(n)); `keep` takes the
// characters that stay, in order. Returns whether any character was removed.
template <typename Text, typename Keep> bool trimLineBreaksAhead(Text& text, Keep keep) {
    const auto isBreak = [](QChar c) { return c == u'\r' || c == u'\n'; };
    bool removed = false;
    if (text.is(0, u'\r') && text.is(1, u'\n')) {
        text.drop(2);
        removed = true;
    }
    // Only a CR LF is left: it is the trailing one.
    if (!text.has(2) && text.is(0, u'\r') && text.is(1, u'\n')) {
        text.drop(2);
        removed = true;
    }
    QChar before;
    bool first = true;
    bool keptAny = false;
    // A kept CR waits for the next kept character: with none, it was left last and goes.
    std::optional<std::decay_t<decltype(text.front())>> heldCr;
    while (text.has(0)) {
        // The trailing CR LF follows: this character is the last one.
        const bool trailingBreak = !text.has(3) && text.is(1, u'\r') && text.is(2, u'\n');
        const bool last = !text.has(1) || trailingBreak;
        const QChar c = text.charAt(0);
        if ((c == u'\r' && (first || isBreak(before))) ||
            (c == u'\n' && (last || isBreak(text.charAt(1)) || !keptAny))) {
            removed = true;
        } else {
            if (heldCr)
                keep(*std::exchange(heldCr, std::nullopt));
            if (c == u'\r')
                heldCr = text.front();
            else
                keep(text.front());
            keptAny = true;
        }
        before = c;
        first = false;
        text.drop(trailingBreak ? 3 : 1);
        removed = removed || trailingBreak;
    }
    return removed || heldCr.has_value();
}

// The "----" separated text form of one server: fifteen fields, the last four (the panel
// fields) optional. Lines of a block are separated by CR LF.
namespace ServerLine {

inline const QString kSeparator = QStringLiteral("----");

// 0-based positions of the fields within a line.
enum Field {
    Group,
    Name,
    Address,
    Account,
    Password,
    Port,
    System,
    Remark,
    StartTime,
    EndTime,
    Sort,
    PanelUrl,
    PanelUser,
    PanelPassword,
    PanelKey,
    FieldCount
};

QString format(const ServerRecord& server);
QStringList fields(const QString& line);
// Each column from its field, as the line holds it; a field the line lacks gives empty text.
ServerRecord record(const QStringList& fields);

} // namespace ServerLine

// The text form of one group: name "----" sort key; further fields are ignored.
namespace GroupLine {

QString format(const GroupRecord& group);
QStringList fields(const QString& line);

} // namespace GroupLine
