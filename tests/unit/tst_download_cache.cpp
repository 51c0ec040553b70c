// The downloads torvane-cloud keeps: a reply comes back only under the mark it was kept under,
// and the replies least recently handed out make room once the budget is full.

#include "cloud_service/download_cache.h"

#include <QTest>

#include <string>

namespace {

using Kind = DownloadCache::Kind;

} // namespace

class TestDownloadCache : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void repliesComeBackUnderTheirMarkOnly();
    void leastRecentlyHandedOutGoFirst();
};

void TestDownloadCache::repliesComeBackUnderTheirMarkOnly() {
    DownloadCache cache(1000);
    cache.keep(Kind::Servers, 1, 7, "servers of 1");
    cache.keep(Kind::Groups, 1, 7, "groups of 1");
    QCOMPARE(cache.find(Kind::Servers, 1, 7), std::optional<std::string>("servers of 1"));
    QCOMPARE(cache.find(Kind::Groups, 1, 7), std::optional<std::string>("groups of 1"));
    QVERIFY(!cache.find(Kind::Servers, 1, 8));
    QVERIFY(!cache.find(Kind::Servers, 2, 7));

    // A newer reply takes the old one's place; mark 0 is never kept.
    cache.keep(Kind::Servers, 1, 8, "changed servers of 1");
    QVERIFY(!cache.find(Kind::Servers, 1, 7));
    QCOMPARE(cache.find(Kind::Servers, 1, 8), std::optional<std::string>("changed servers of 1"));
    cache.keep(Kind::Servers, 3, 0, "unmarked");
    QVERIFY(!cache.find(Kind::Servers, 3, 0));
}

void TestDownloadCache::leastRecentlyHandedOutGoFirst() {
    DownloadCache cache(30);
    const std::string tenBytes(10, 'x');
    cache.keep(Kind::Servers, 1, 1, tenBytes);
    cache.keep(Kind::Servers, 2, 1, tenBytes);
    cache.keep(Kind::Servers, 3, 1, tenBytes);
    QVERIFY(cache.find(Kind::Servers, 1, 1));
    cache.keep(Kind::Servers, 4, 1, tenBytes);
    QVERIFY(!cache.find(Kind::Servers, 2, 1));
    for (const std::int64_t account : {1, 3, 4})
        QVERIFY(cache.find(Kind::Servers, account, 1));

    // A reply larger than the whole budget is not kept and pushes nothing out.
    cache.keep(Kind::Servers, 5, 1, std::string(31, 'y'));
    QVERIFY(!cache.find(Kind::Servers, 5, 1));
    QVERIFY(cache.find(Kind::Servers, 1, 1));
}

QTEST_APPLESS_MAIN(TestDownloadCache)
#include "tst_download_cache.moc"
