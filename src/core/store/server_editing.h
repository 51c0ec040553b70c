#pragma once

#include "core/store/records.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <utility>

// The rules of the server windows that need no window: default texts, the system switch and
// the address-colon-port split.
namespace ServerEditing {

// "2024-6-6 9:5:7": year-month-day hour:minute:second, no leading zeros.
QString editorTimeText(const QDateTime& moment);
// The start and end texts of a new server: now, and the same moment one year later (the
// year alone changes, so 29 February gives a date that does not exist; it is never checked).
std::pair<QString, QString> defaultRentalTimes(const QDateTime& now);

struct PortAndUser {
    QString port;
    QString user;
};
// The port and account after switching the system: untouched defaults (and empty boxes)
// follow the system, anything the user typed stays.
PortAndUser chooseSystem(bool linux, const QString& port, const QString& user);

// "10.0.0.5:22" gives ("10.0.0.5", "22"); text without ":" gives nothing. With several
// colons only the first two pieces count.
std::optional<std::pair<QString, QString>> splitAddressAndPort(const QString& text);

} // namespace ServerEditing
