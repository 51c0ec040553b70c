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

// The numbers of an end text: year, month, day and, when `timed`, hour, minute, second.
struct EndFields {
    int year = 0;
    int month = 0;
    int day = 0;
    bool timed = false;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

bool isAsciiSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

bool isAsciiDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// Up to `most` digits at `at` (at least one); their value, with `at` moved past them.
std::optional<int> readDigits(QStringView text, qsizetype& at, qsizetype most) {
    const qsizetype start = at;
    int value = 0;
    while (at < text.size() && at - start < most && isAsciiDigit(text[at].unicode()))
        value = value * 10 + (text[at++].unicode() - u'0');
    return at > start ? std::optional<int>(value) : std::nullopt;
}

// The common form, "2024-6-30 9:05:07" in plain ASCII, read without the pattern: a list of
// tens of thousands of servers reads one per row. Nothing for any text this does not read
// whole; the pattern then reads it, so both forms of reading agree on every text.
std::optional<EndFields> quickFields(QStringView text) {
    qsizetype at = 0;
    auto skipSpaces = [&] {
        const qsizetype start = at;
        while (at < text.size() && isAsciiSpace(text[at].unicode()))
            ++at;
        return at > start;
    };
    skipSpaces();
    EndFields f;
    const qsizetype yearAt = at;
    const auto year = readDigits(text, at, 4);
    if (!year || at - yearAt != 4 || at >= text.size())
        return std::nullopt;
    const char16_t separator = text[at].unicode();
    if (separator != u'-' && separator != u'/' && separator != u'.')
        return std::nullopt;
    ++at;
    const auto month = readDigits(text, at, 2);
    if (!month || at >= text.size() || text[at].unicode() != separator)
        return std::nullopt;
    ++at;
    const auto day = readDigits(text, at, 2);
    if (!day)
        return std::nullopt;
    f.year = *year;
    f.month = *month;
    f.day = *day;
    const bool spaced = skipSpaces();
    if (at == text.size())
        return f;
    if (!spaced && text[at].unicode() != u'T')
        return std::nullopt;
    if (!spaced)
        ++at;
    const auto hour = readDigits(text, at, 2);
    if (!hour || at >= text.size() || text[at].unicode() != u':')
        return std::nullopt;
    ++at;
    const auto minute = readDigits(text, at, 2);
    if (!minute)
        return std::nullopt;
    std::optional<int> second = 0;
    if (at < text.size() && text[at].unicode() == u':') {
        ++at;
        second = readDigits(text, at, 2);
        if (!second)
            return std::nullopt;
    }
    skipSpaces();
    if (at != text.size())
        return std::nullopt;
    f.timed = true;
    f.hour = *hour;
    f.minute = *minute;
    f.second = *second;
    return f;
}

std::optional<EndFields> patternFields(const QString& text) {
    const QRegularExpressionMatch m = datePattern().match(ListSort::foldFullWidth(text));
    if (!m.hasMatch())
        return std::nullopt;
    const bool dashed = m.capturedLength(2) > 0;
    EndFields f;
    f.year = m.captured(1).toInt();
    f.month = m.captured(dashed ? 3 : 5).toInt();
    f.day = m.captured(dashed ? 4 : 6).toInt();
    f.timed = m.capturedLength(7) > 0;
    if (f.timed) {
        f.hour = m.captured(7).toInt();
        f.minute = m.captured(8).toInt();
        f.second = m.captured(9).toInt();
    }
    return f;
}

// The end as a local date and wall-clock time; compared as such, with no time zone lookup.
struct EndMoment {
    QDate date;
    QTime time;
};

bool operator<(const EndMoment& a, const EndMoment& b) {
    return a.date != b.date ? a.date < b.date : a.time < b.time;
}

std::optional<EndMoment> readEndMoment(const QString& text) {
    std::optional<EndFields> f = quickFields(text);
    if (!f)
        f = patternFields(text);
    if (!f)
        return std::nullopt;
    const std::optional<QDate> date = dateOf(f->year, f->month, f->day);
    if (!date)
        return std::nullopt;
    if (!f->timed)
        return EndMoment{*date, QTime(23, 59, 59)};
    const QTime time(f->hour, f->minute, f->second);
    if (!time.isValid())
        return std::nullopt;
    return EndMoment{*date, time};
}

} // namespace

std::optional<QDateTime> readEndTime(const QString& text) {
    const std::optional<EndMoment> end = readEndMoment(text);
    if (!end)
        return std::nullopt;
    return QDateTime(end->date, end->time);
}

Outlook outlook(const QString& endText, const QDateTime& now) {
    const std::optional<EndMoment> end = readEndMoment(endText);
    if (!end)
        return {};
    const EndMoment current{now.date(), now.time()};
    const qint64 daysLeft = current.date.daysTo(end->date);
    if (*end < current)
        return {Standing::Ended, daysLeft};
    if (!(EndMoment{current.date.addDays(kSoonDays), current.time} < *end))
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
