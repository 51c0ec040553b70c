#include "core/store/server_editing.h"

#include "core/store/line_formats.h"

using namespace Qt::StringLiterals;

namespace ServerEditing {

namespace {

QString timeTextOfYear(int year, const QDateTime& moment) {
    const QDate d = moment.date();
    const QTime t = moment.time();
    return u"%1-%2-%3 %4:%5:%6"_s.arg(year)
        .arg(d.month())
        .arg(d.day())
        .arg(t.hour())
        .arg(t.minute())
        .arg(t.second());
}

} // namespace

QString editorTimeText(const QDateTime& moment) {
    return timeTextOfYear(moment.date().year(), moment);
}

std::pair<QString, QString> defaultRentalTimes(const QDateTime& now) {
    return {editorTimeText(now), timeTextOfYear(now.date().year() + 1, now)};
}

PortAndUser chooseSystem(bool linux, const QString& port, const QString& user) {
    const QString fromPort = linux ? u"3389"_s : u"22"_s;
    const QString toPort = linux ? u"22"_s : u"3389"_s;
    const QString fromUser = linux ? u"administrator"_s : u"root"_s;
    const QString toUser = linux ? u"root"_s : u"administrator"_s;
    return {port == fromPort || port.isEmpty() ? toPort : port,
            user == fromUser || user.isEmpty() ? toUser : user};
}

std::optional<std::pair<QString, QString>> splitAddressAndPort(const QString& text) {
    if (!text.contains(u':'))
        return std::nullopt;
    const QStringList pieces = splitFields(text, u":"_s);
    if (pieces.size() < 2)
        return std::nullopt;
    return std::pair{pieces[0], pieces[1]};
}

} // namespace ServerEditing
