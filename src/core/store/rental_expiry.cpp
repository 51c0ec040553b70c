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
    for (const QString& text : endTexts) {
        const Standing standing = outlook(text, now).standing;
        result.endingSoon += standing == Standing::EndingSoon;
        result.ended += standing == Standing::Ended;
    }
    return result;
}

QString tallyMessage(const Tally& tally) {
    return u"-租期提醒：%1 天内到期 %2 台，已到期 %3 台"_s.arg(kSoonDays)
        .arg(tally.endingSoon)
        .arg(tally.ended);
}

QList<ListCells> expiringRows(const QList<ListCells>& rows, const QDateTime& now) {
    QList<std::pair<QDateTime, ListCells>> found;
    for (const ListCells& row : rows) {
        const Standing standing = outlook(row[ListColumn::EndTime], now).standing;
        if (standing == Standing::EndingSoon || standing == Standing::Ended)
            found.append({*readEndTime(row[ListColumn::EndTime]), row});
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    QList<ListCells> result;
    result.reserve(found.size());
    for (auto& [end, row] : found)
        result.append(std::move(row));
    return result;
}

} // namespace RentalExpiry
