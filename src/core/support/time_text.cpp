#include "core/support/time_text.h"

using namespace Qt::StringLiterals;

QString timeText(const QDateTime& moment) {
    const QDate d = moment.date();
    const QTime t = moment.time();
    QString text = u"%1年%2月%3日"_s.arg(d.year()).arg(d.month()).arg(d.day());
    if (t.second() != 0)
        return text + u"%1时%2分%3秒"_s.arg(t.hour()).arg(t.minute()).arg(t.second());
    if (t.minute() != 0)
        return text + u"%1时%2分"_s.arg(t.hour()).arg(t.minute());
    if (t.hour() != 0)
        return text + u"%1时"_s.arg(t.hour());
    return text;
}

QString timeText() {
    return timeText(QDateTime::currentDateTime());
}
