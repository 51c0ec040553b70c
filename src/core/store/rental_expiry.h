#pragma once

#include "core/store/records.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// The rental period's end, read from the free 到期时间 text of a server. Nothing is stored
// differently: the text stays as typed, and a text that is not a date is simply not read.
namespace RentalExpiry {

// A rental ending within this many days counts as ending soon.
inline constexpr int kSoonDays = 7;

// The end of the rental written in `text`, in local time. Read: year-month-day with "-", "/"
// or "." (the same one twice) or as 年月日, numbers with or without leading zeros, full-width
// digits too, optionally followed by hour:minute or hour:minute:second. A day past the end of
// its month (the server editor writes 29 February plus one year) means the month's last day.
// A date without a time ends when that day ends.
std::optional<QDateTime> readEndTime(const QString& text);

enum class Standing { Unknown, Running, EndingSoon, Ended };

struct Outlook {
    Standing standing = Standing::Unknown;
    // Calendar days from today to the end day; negative once it has passed.
    qint64 daysLeft = 0;
};

Outlook outlook(const QString& endText, const QDateTime& now);

// "剩余 3 天", "今天到期", "已到期 2 天" ...; empty when the text is not a date.
QString daysLeftText(const Outlook& outlook);

struct Tally {
    int endingSoon = 0;
    int ended = 0;

    void add(const Outlook& outlook) {
        endingSoon += outlook.standing == Standing::EndingSoon;
        ended += outlook.standing == Standing::Ended;
    }
};

Tally tally(const QList<QString>& endTexts, const QDateTime& now);

// The log message (without the time stamp) that reports a tally.
QString tallyMessage(const Tally& tally);

// The servers whose rental ends within kSoonDays or has ended, the earliest end first.
QList<ServerRecord> expiringServers(const QList<ServerRecord>& servers, const QDateTime& now);

} // namespace RentalExpiry
