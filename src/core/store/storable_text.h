#pragma once

#include "core/store/records.h"

#include <QString>
#include <QStringList>

#include <optional>

// Text the store can keep. Its columns hold GBK bytes, and a character GBK lacks (an emoji,
// and in some places "½") would be written as "?" and come back changed. A record holding
// one is refused before anything is written, with the field and the characters named.
namespace StorableText {

// A field holding characters the store cannot keep.
struct Finding {
    QString field;          // the field's label in the windows that edit it
    QStringList characters; // as the user sees them; "U+200B" for one that does not show
    bool secret = false;    // a password or key: its characters never go into a log line

    // "备注信息含有无法保存的字符：😀、½".
    QString describe() const;
    // The same for a log line, without the characters of a secret field.
    QString describeForLog() const;
    // The message box of a window that edits the field: describe(), and what to do.
    QString boxText() const;
};

// The first field, in the order the server windows show them, that the store cannot keep.
std::optional<Finding> inServer(const ServerRecord& server);
// The same for a group's name and sort key.
std::optional<Finding> inGroup(const QString& name, const QString& sort);

} // namespace StorableText
