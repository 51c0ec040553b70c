#pragma once

#include <QString>
#include <QStringList>

#include <nlohmann/json.hpp>

// Type codes of JsonDocument::typeOf.
enum class JsonType {
    Missing = 0, // missing member or null
    Boolean = 1,
    Number = 2,
    Object = 4,
    Array = 5,
    String = 6,
    Other = -1, // the path cannot be followed (it passes through something missing)
};

// One JSON value, normally an object, read and changed by member paths. Member order is kept.
//
// Paths use script member syntax and may start with the document's name "da": "status",
// "data.list[2].id", "[0]", "['a b']", "da.status". resolvePath() tells how a path is read.
// Array indexes are 0-based. Nothing here throws or reports an error: a bad path, missing
// value or text that is not JSON leaves the result at its empty value (empty text, 0, false).
//
// Text values stored with setText() keep their backslashes as a mark that every text leaving
// the document turns back into a plain backslash, so such a backslash also appears unescaped
// inside serialised JSON.
class JsonDocument {
public:
    static inline const QString kName = QStringLiteral("da");

    // An empty object.
    JsonDocument();

    // Replaces the value by the parsed text; true when that gave a value other than null. A
    // text that is not JSON leaves null behind.
    bool parse(const QString& text);
    // Back to an empty object.
    void clear();

    // The whole value as compact JSON; empty text for null.
    QString toText() const;
    // The value at the path as compact JSON; empty text when it is missing or null.
    QString toJson(const QString& path) const;

    // Rewrites the path into the form every operation reads it in: a path that starts with
    // "da" and leads to a value stays; else "" becomes "da", "[..." becomes "da[...", and any
    // other path "da." + path. True when the result leads to a value other than null.
    bool resolvePath(QString& path) const;

    JsonType typeOf(const QString& path) const;

    // The value's own text (a string itself, 12.5, true, "[object Object]", array elements
    // joined with ","), or its JSON when `asJson`. Empty for missing and null values.
    QString getText(const QString& path, bool asJson = false) const;
    // As getText() for element `index` of the array at the path, except that without
    // `asJson` only a string element gives its text.
    QString getMemberText(int index, const QString& path, bool asJson = false) const;
    // The number at the path; a boolean reads as 1 or 0, a string holding a decimal number as
    // that number, anything else as 0.
    double getNumber(const QString& path) const;

    // Names of the members of the object at the path, in order; empty for anything else.
    QStringList memberNames(const QString& path) const;
    // Elements of the array at the path; 0 for anything else.
    int arrayCount(const QString& path) const;

    // A separate document holding a copy of the value at the path, or of element `index` of
    // the array there; its value is null when there is none.
    JsonDocument getDocument(const QString& path) const;
    JsonDocument getMemberDocument(int index, const QString& path) const;

    // Changes; each returns true when it was made. A path whose parent is missing changes
    // nothing.
    //
    // Stores the text as a string, or with `valueIsJson` the parsed value: merged into an
    // existing value at the path (objects member by member, arrays by appending, values of
    // any other kind replaced), else written there.
    bool setText(const QString& path, const QString& value, bool valueIsJson = false);
    // Writes the parsed JSON at the path, replacing what was there.
    bool setJson(const QString& path, const QString& json);
    // Appends the text (or the parsed JSON) to the array at the path; a value there that is
    // not an array is replaced by a new array first.
    bool push(const QString& value, const QString& path, bool valueIsJson = false);
    // Writes element `index` of the array at the path.
    bool setMember(int index, const QString& path, const QString& value, bool valueIsJson = false);
    // Removes element `index` of the array at the path; later elements move down.
    bool removeMember(int index, const QString& path);
    // Deletes the member at the path (an array element becomes null).
    bool remove(const QString& path);
    // Writes the number, rounded to 13 significant digits; NaN and infinities are refused.
    bool setNumber(const QString& path, double number);

private:
    using Json = nlohmann::ordered_json;

    Json* find(const QString& path);
    const Json* find(const QString& path) const;
    const Json* findMember(int index, const QString& path) const;
    bool write(const QString& path, Json value);

    Json value_;
};
