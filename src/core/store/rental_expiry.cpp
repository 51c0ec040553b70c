#include "core/store/rental_expiry.h"

#include "core/support/list_sort.h"

#include <QRegularExpression>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace RentalExpiry {

namespace {

// Groups: year, month, day (dashes, slashes or dots, the same one twice, or 年月日), then
// the optional hour, minute and second.
const QRegularExpression& datePattern() {
    static const QRegularExpression pattern(
        uR"(^\s*(\d{4})(?:([-/.])(\d{1,2})\2(\d{1,2})|年(\d{1,2})月(\d{1,2})日?))"
        uR"((?:(?:\s+|T|(?<=日))(\d{1,2})[:时](\d{1,2})(?:[:分](\d{1,2})秒?|分)?)?\s*$)"_s);
    return pattern;
}

std::optional<QDate> dateOf(int year, int month, int day) {
    if (month < 1 || month > 12 || day < 1 || day > 31)
        return std::nullopt;
    const QDate first(year, month, 1);
    return QDate(year, month, std::min(day, first.daysInMonth()));
}

} // namespace

std::optional<QDateTime> readEndTime(const QString& text) {
    const QRegularExpressionMatch m = datePattern().match(ListSort::foldFullWidth(text));
    if (!m.hasMatch())
        return std::nullopt;
    const bool dashed = m.capturedLength(2) > 0;
    const std::optional<QDate> date =
        dateOf(m.captured(1).toInt(), m.captured(dashed ? 3 : 5).toInt(),
               m.captured(dashed ? 4 : 6).toInt());
    if (!date)
        return std::nullopt;
    if (m.capturedLength(7) == 0)
        return QDateTime(*date, QTime(23, 59, 59));
    const QTime time(m.captured(7).toInt(), m.captured(8).toInt(), m.captured(9).toInt());
    if (!time.isValid())
        return std::nullopt;
    return QDateTime(*date, time);
}

Outlook outlook(const QString& endText, const QDateTime& now) {
    const std::optional<QDateTime> end = readEndTime(endText);
    if (!end)
        return {};
    const qint64 daysLeft = now.date().daysTo(end->date());
    if (*end < now)
        return {Standing::Ended, daysLeft};
    if (*end <= now.addDays(kSoonDays))
        return {Standing::EndingSoon, daysLeft};
    return {Standing::Running, daysLeft};
}

QString daysLeftText(const Outlook& outlook) {
    switch (outlook.standing) {
    case Standing::Unknown:
        return {};
    case Standing::Ended:
        return outlook.daysLeft == 0 ? u"今天已到期"_s : u"已到期 %1 天"_s.arg(-outlook.daysLeft);
    case Standing::EndingSoon:
    case Standing::Running:
        return outlook.daysLeft == 0 ? u"今天到期"_s : u"剩余 %1 天"_s.arg(outlook.daysLeft);
    }
    return {};
}

Tally tally(const QList<QString>& endTexts, const QDateTime& now) {
    Tally result;
    for (const QString& text : endTexts)
        result.add(outlook(text, now));
    return result;
}

QString tallyMessage(const Tally& tally) {
    return u"-租期提醒：%1 天内到期 %2 台，已到期 %3 台"_s.arg(kSoonDays)
        .arg(tally.endingSoon)
        .arg(tally.ended);
}

QList<ServerRecord> expiringServers(const QList<ServerRecord>& servers, const QDateTime& now) {
    QList<std::pair<QDateTime, ServerRecord>> found;
    for (const ServerRecord& server : servers) {
        const Standing standing = outlook(server.endTime, now).standing;
        if (standing == Standing::EndingSoon || standing == Standing::Ended)
            found.append({*readEndTime(server.endTime), server});
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    QList<ServerRecord> result;
    result.reserve(found.size());
    for (auto& [end, server] : found)
        result.append(std::move(server));
    return result;
}

} // namespace RentalExpiry
