#pragma once

#include <QString>

// The sealing of the three secret fields of a server (password, panel password, panel API
// key) on their way to and from the cloud: the GBK bytes XORed with a fixed mask, written as
// upper-case hexadecimal, followed by a 9-character tag of the key. It is an encoding with a
// check tag, not a cipher: it keeps the fields from travelling and resting as plain text and
// makes a field that was not sealed with our key unseal to the empty text.
namespace PasswordSealer {

// The key both the upload and the download use.
inline const QString kSealingKey = QStringLiteral("KPWVRZQTMNE");

// Characters 3 to 11 of the key's MD5 digest in hexadecimal, upper case.
QString tag(const QString& key);

// Two upper-case hexadecimal digits per masked GBK byte of `plain`, then tag(key).
QString seal(const QString& plain, const QString& key);

// The plain text, or the empty text when `sealed` does not end with tag(key). The body is read
// in pairs of characters (a last single character is a pair of its own); each pair's
// hexadecimal digits, in either case, make the byte, its other characters are skipped. A zero
// byte ends the text.
QString unseal(const QString& sealed, const QString& key);

} // namespace PasswordSealer
