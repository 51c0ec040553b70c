#pragma once

#include <QString>

#include <nlohmann/json.hpp>

// The text forms of JSON values that JsonDocument hands out, written the way a script engine
// writes them: numbers in their shortest form (2, 0.5, 1e+21), compact serialisation.
namespace JsonText {

using Json = nlohmann::ordered_json;

// Stands for a backslash inside text values stored by JsonDocument::setText; every text that
// leaves the document turns it back into a backslash.
inline constexpr char16_t kBackslashMark = u'\u2400';

QString fromUtf8(const std::string& text);
std::string toUtf8(const QString& text);

// A number as a script writes it: shortest round-trip digits, exponent form from 1e21 on and
// below 1e-6, "NaN" and "Infinity" for the non-finite values.
QString numberText(double number);

// The value's own text: a string itself, a number its numberText, "true"/"false", an object
// "[object Object]", an array its elements' texts joined with "," (null elements empty), and
// empty text for null.
QString valueText(const Json& value);

// Compact JSON: no spaces, members in order, non-finite numbers as null. Strings escape the
// quote, the backslash, control characters and the invisible format characters as \u escapes
// with lower-case hex digits.
QString serialise(const Json& value);

// Turns every backslash mark back into a backslash.
QString restoreBackslashes(QString text);

} // namespace JsonText
