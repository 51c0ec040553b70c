#pragma once

#include <QString>

#include <optional>

// The .rdp connection file of a Remote Desktop session: a fixed 36-line template with the
// server's address, port and account filled in, written as GBK with CR LF line ends.
namespace RdpFile {

// The placeholder that the protected password replaces in the template's password line.
inline const QString kPasswordPlaceholder =
    QStringLiteral("01000000D08C9DDF0115D1118C7A00C04FC297EB0");

// The template with, in this order and each over the whole text, the sample address
// replaced by "H:P" (both without blanks at their edges), the password placeholder by
// `passwordField`, and "administrator" by the account (so an address holding that word gets the
// account too). Without a password field the password line is left out: the client then gets the
// password another way.
QString text(const QString& address, const QString& port, const QString& account,
             const std::optional<QString>& passwordField);

// The file name for a server name: characters that could leave the folder or that file
// names cannot hold (path separators, control characters and : * ? " < > |) become "_".
QString fileName(const QString& serverName);

// Writes `text` as GBK without a byte-order mark to `folder`/fileName(serverName), readable
// by the user only. The written path, or empty when the file could not be written.
QString write(const QString& folder, const QString& serverName, const QString& text);

} // namespace RdpFile
