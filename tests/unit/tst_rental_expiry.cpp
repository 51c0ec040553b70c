#include "core/store/rental_expiry.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QDateTime kNow(QDate(2025, 6, 6), QTime(12, 0, 0));

ServerRecord serverEnding(const QString& id, const QString& end) {
    ServerRecord s;
    s.id = id;
    s.endTime = end;
    return s;
}

} // namespace

class TestRentalExpiry : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readsDateForms_data();
    void readsDateForms();
    void outlook_data();
    void outlook();
    void tallyAndItsMessage();
    void expiringServersEarliestFirst();
};

void TestRentalExpiry::readsDateForms_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("end"); // invalid: not read as a date

    const QDateTime dayEnd(QDate(2025, 6, 6), QTime(23, 59, 59));
    const QDateTime none;
    QTest::newRow("editor's form") << u"2025-6-6 9:5:7"_s << QDateTime({2025, 6, 6}, {9, 5, 7});
    QTest::newRow("leading zeros")
        << u"2025-06-06 09:05:07"_s << QDateTime({2025, 6, 6}, {9, 5, 7});
    QTest::newRow("hour and minute") << u"2025-06-06 18:30"_s << QDateTime({2025, 6, 6}, {18, 30});
    QTest::newRow("ISO T") << u"2025-06-06T18:30:00"_s << QDateTime({2025, 6, 6}, {18, 30});
    QTest::newRow("dashes") << u"2025-06-06"_s << dayEnd;
    QTest::newRow("slashes") << u"2025/06/06"_s << dayEnd;
    QTest::newRow("slashes, no zeros") << u"2025/6/6"_s << dayEnd;
    QTest::newRow("dots") << u"2025.6.6"_s << dayEnd;
    QTest::newRow("年月日") << u"2025年6月6日"_s << dayEnd;
    QTest::newRow("年月日 with time")
        << u"2025年6月6日9时5分7秒"_s << QDateTime({2025, 6, 6}, {9, 5, 7});
    QTest::newRow("年月日 hour minute")
        << u"2025年6月6日 9时5分"_s << QDateTime({2025, 6, 6}, {9, 5});
    QTest::newRow("blanks around") << u"  2025-6-6  "_s << dayEnd;
    QTest::newRow("full-width digits") << u"２０２５－６－６"_s << dayEnd;
    QTest::newRow("full-width colon") << u"2025-6-6 9：5"_s << QDateTime({2025, 6, 6}, {9, 5});
    QTest::newRow("tab before the time") << u"2025-6-6 \t9:5"_s << QDateTime({2025, 6, 6}, {9, 5});
    QTest::newRow("29 February of a common year")
        << u"2025-2-29 10:00:00"_s << QDateTime({2025, 2, 28}, {10, 0});
    QTest::newRow("31 April") << u"2025-4-31"_s << QDateTime({2025, 4, 30}, {23, 59, 59});
    QTest::newRow("29 February of a leap year")
        << u"2024-2-29"_s << QDateTime({2024, 2, 29}, {23, 59, 59});

    QTest::newRow("empty") << QString() << none;
    QTest::newRow("words") << u"长期"_s << none;
    QTest::newRow("month 13") << u"2025-13-1"_s << none;
    QTest::newRow("day 0") << u"2025-6-0"_s << none;
    QTest::newRow("day 32") << u"2025-1-32"_s << none;
    QTest::newRow("hour 24") << u"2025-6-6 24:00:00"_s << none;
    QTest::newRow("mixed separators") << u"2025-06/06"_s << none;
    QTest::newRow("two-digit year") << u"25-6-6"_s << none;
    QTest::newRow("text after the date") << u"2025-6-6 续费"_s << none;
    QTest::newRow("year and month only") << u"2025-06"_s << none;
    QTest::newRow("five-digit year") << u"20251-6-6"_s << none;
    QTest::newRow("three-digit day") << u"2025-6-123"_s << none;
    QTest::newRow("colon without seconds") << u"2025-6-6 9:5:"_s << none;
    QTest::newRow("T and a blank") << u"2025-6-6T 9:5"_s << none;
}

void TestRentalExpiry::readsDateForms() {
    QFETCH(QString, text);
    QFETCH(QDateTime, end);
    const std::optional<QDateTime> read = RentalExpiry::readEndTime(text);
    QCOMPARE(read.has_value(), end.isValid());
    if (read)
        QCOMPARE(*read, end);
}

void TestRentalExpiry::outlook_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("standing");
    QTest::addColumn<QString>("daysLeft");

    using S = RentalExpiry::Standing;
    QTest::newRow("far") << u"2025-7-6"_s << int(S::Running) << u"剩余 30 天"_s;
    QTest::newRow("in 8 days") << u"2025-6-14"_s << int(S::Running) << u"剩余 8 天"_s;
    QTest::newRow("in 7 days, before now's hour")
        << u"2025-6-13 11:00:00"_s << int(S::EndingSoon) << u"剩余 7 天"_s;
    QTest::newRow("in 7 days, after now's hour")
        << u"2025-6-13 13:00:00"_s << int(S::Running) << u"剩余 7 天"_s;
    QTest::newRow("in 3 days") << u"2025/06/09"_s << int(S::EndingSoon) << u"剩余 3 天"_s;
    QTest::newRow("later today") << u"2025-6-6 18:00:00"_s << int(S::EndingSoon) << u"今天到期"_s;
    QTest::newRow("today, no time") << u"2025-06-06"_s << int(S::EndingSoon) << u"今天到期"_s;
    QTest::newRow("earlier today") << u"2025-6-6 9:5:7"_s << int(S::Ended) << u"今天已到期"_s;
    QTest::newRow("yesterday") << u"2025-6-5"_s << int(S::Ended) << u"已到期 1 天"_s;
    QTest::newRow("last year") << u"2024-6-6"_s << int(S::Ended) << u"已到期 365 天"_s;
    QTest::newRow("not a date") << u"包年"_s << int(S::Unknown) << QString();
}

void TestRentalExpiry::outlook() {
    QFETCH(QString, text);
    QFETCH(int, standing);
    QFETCH(QString, daysLeft);
    const RentalExpiry::Outlook seen = RentalExpiry::outlook(text, kNow);
    QCOMPARE(int(seen.standing), standing);
    QCOMPARE(RentalExpiry::daysLeftText(seen), daysLeft);
}

void TestRentalExpiry::tallyAndItsMessage() {
    const RentalExpiry::Tally none = RentalExpiry::tally({}, kNow);
    QCOMPARE(RentalExpiry::tallyMessage(none), u"-租期提醒：7 天内到期 0 台，已到期 0 台"_s);
    const RentalExpiry::Tally some =
        RentalExpiry::tally({u"2025-6-8"_s, u"2025-6-1"_s, u"2024-1-1"_s, u"2025-6-7 8:00:00"_s,
                             u"2026-1-1"_s, u"包年"_s, QString()},
                            kNow);
    QCOMPARE(some.endingSoon, 2);
    QCOMPARE(some.ended, 2);
    QCOMPARE(RentalExpiry::tallyMessage(some), u"-租期提醒：7 天内到期 2 台，已到期 2 台"_s);
}

void TestRentalExpiry::expiringServersEarliestFirst() {
    const QList<ServerRecord> servers = {
        serverEnding(u"1"_s, u"2025-6-10"_s),          serverEnding(u"2"_s, u"2030-1-1"_s),
        serverEnding(u"3"_s, u"2025/06/01"_s),         serverEnding(u"4"_s, u"包年"_s),
        serverEnding(u"5"_s, u"2025-6-10 08:00:00"_s), serverEnding(u"6"_s, u"2025-6-10"_s),
        serverEnding(u"7"_s, u"2025年6月7日"_s)};
    QStringList ids;
    for (const ServerRecord& server : RentalExpiry::expiringServers(servers, kNow))
        ids << server.id;
    // Equal ends keep the list's order.
    QCOMPARE(ids, (QStringList{u"3"_s, u"7"_s, u"5"_s, u"1"_s, u"6"_s}));
}

QTEST_GUILESS_MAIN(TestRentalExpiry)
#include "tst_rental_expiry.moc"
