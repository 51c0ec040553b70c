#include "core/codec/gbk_codec.h"
#include "core/support/list_sort.h"

#include <QRandomGenerator>
#include <QTest>
#include <QThread>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

// The list's quicksort written the plain way: recursive, first element as pivot,
// on 1-based indices, comparing with `cmp`. The implementation must give exactly this order.
template <typename Key, typename Cmp>
void referenceSort(std::vector<std::pair<Key, int>>& a, int lo, int hi, Cmp cmp) {
    if (lo > hi)
        return;
    int i = lo;
    int j = hi;
    const auto pivot = a[lo];
    while (i != j) {
        while (cmp(a[j].first, pivot.first) >= 0 && i < j)
            --j;
        while (cmp(a[i].first, pivot.first) <= 0 && i < j)
            ++i;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    a[lo] = a[i];
    a[i] = pivot;
    referenceSort(a, lo, i - 1, cmp);
    referenceSort(a, i + 1, hi, cmp);
}

template <typename Key, typename MakeKey, typename Cmp>
std::vector<qsizetype> referenceOrder(const QList<QString>& cells, MakeKey makeKey, Cmp cmp) {
    std::vector<std::pair<Key, int>> a(1); // index 0 unused: the reference counts from 1
    for (int k = 0; k < cells.size(); ++k)
        a.emplace_back(makeKey(cells[k]), k);
    referenceSort(a, 1, int(cells.size()), cmp);
    std::vector<qsizetype> order;
    for (size_t k = 1; k < a.size(); ++k)
        order.push_back(a[k].second);
    return order;
}

std::vector<qsizetype> expectedOrder(const QList<QString>& cells, int column) {
    if (column == 0)
        return referenceOrder<double>(cells, ListSort::leadingNumber, [](double x, double y) {
            return std::fabs(x - y) <= 0.0000001 ? 0 : (x < y ? -1 : 1);
        });
    if (column == 1 || column == 2)
        return referenceOrder<int>(cells, ListSort::leadingInteger,
                                   [](int x, int y) { return x < y ? -1 : (x > y ? 1 : 0); });
    return referenceOrder<QByteArray>(
        cells, [](const QString& s) { return Gbk::encode(s); },
        [](const QByteArray& x, const QByteArray& y) {
            return std::strcmp(x.constData(), y.constData());
        });
}

QList<QString> sortedCells(const QList<QString>& cells, int column) {
    QList<QString> result;
    for (qsizetype from : ListSort::sortOrder(cells, column))
        result << cells[from];
    return result;
}

// Texts whose keys tie often: few distinct numbers, numbers with trailing words, full-width
// digits, and non-numeric names.
QString randomCell(QRandomGenerator& random) {
    static const QStringList kPool = {
        u"1"_s,    u"2"_s, u"10"_s,  u"2.00000001"_s, u"0"_s,    u"abc"_s, u"  7x"_s, u"-3"_s,
        u"１２"_s, u"7"_s, u"1e1"_s, u"香港"_s,       u"美国"_s, u"007"_s, u"2"_s,    u"+2"_s};
    return kPool[random.bounded(int(kPool.size()))] +
           (random.bounded(4) == 0 ? QString::number(random.bounded(3)) : QString());
}

} // namespace

class TestListSort : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void leadingNumbers_data();
    void leadingNumbers();
    void matchesTheListsQuicksort_data();
    void matchesTheListsQuicksort();
    void columnOrders_data();
    void columnOrders();
    void longListsDoNotOverflow();
};

void TestListSort::leadingNumbers_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("number");
    QTest::addColumn<int>("integer");
    QTest::newRow("plain") << u"42"_s << 42.0 << 42;
    QTest::newRow("blanks and sign") << u"  -7.5kg"_s << -7.5 << -7;
    QTest::newRow("no digits") << u"abc"_s << 0.0 << 0;
    QTest::newRow("empty") << QString() << 0.0 << 0;
    QTest::newRow("exponent") << u"1e3x"_s << 1000.0 << 1;
    QTest::newRow("dangling exponent") << u"5e"_s << 5.0 << 5;
    QTest::newRow("full-width digits") << u"１２３"_s << 123.0 << 123;
    QTest::newRow("full-width sign and space") << u"\u3000－４"_s << -4.0 << -4;
    QTest::newRow("address") << u"10.0.0.2"_s << 10.0 << 10;
    QTest::newRow("number underflow") << u"1e-400"_s << 0.0 << 1;
    QTest::newRow("number overflow") << u"1e400"_s << qInf() << 1;
    QTest::newRow("integer overflow") << u"99999999999"_s << 99999999999.0 << INT_MAX;
    QTest::newRow("negative overflow") << u"-99999999999"_s << -99999999999.0 << INT_MIN;
}

void TestListSort::leadingNumbers() {
    QFETCH(QString, text);
    QFETCH(double, number);
    QFETCH(int, integer);
    QCOMPARE(ListSort::leadingNumber(text), number);
    QCOMPARE(ListSort::leadingInteger(text), integer);
}

void TestListSort::matchesTheListsQuicksort_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("rounds");
    QTest::addColumn<int>("longest");
    QTest::newRow("ID (number)") << 0 << 400 << 60;
    QTest::newRow("分组 (integer)") << 1 << 400 << 60;
    QTest::newRow("服务器IP (bytes)") << 3 << 400 << 60;
    // Long lists of frequent ties, where the partition's scans jump far.
    QTest::newRow("ID, long") << 0 << 6 << 3000;
    QTest::newRow("分组, long") << 1 << 6 << 3000;
    QTest::newRow("服务器IP, long") << 3 << 6 << 3000;
}

void TestListSort::matchesTheListsQuicksort() {
    QFETCH(int, column);
    QFETCH(int, rounds);
    QFETCH(int, longest);
    QRandomGenerator random(20241206u + uint(column) + uint(longest));
    for (int round = 0; round < rounds; ++round) {
        QList<QString> cells;
        const int n = random.bounded(1, longest);
        for (int k = 0; k < n; ++k)
            cells << randomCell(random);
        const auto expected = expectedOrder(cells, column);
        const auto actual = ListSort::sortOrder(cells, column);
        QVERIFY2(actual == expected, qPrintable(QStringList(cells).join(u" | "_s)));
    }
}

void TestListSort::columnOrders_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<QStringList>("cells");
    QTest::addColumn<QStringList>("sorted");
    QTest::newRow("ID: 2 before 10")
        << 0 << QStringList{u"10"_s, u"2"_s} << QStringList{u"2"_s, u"10"_s};
    QTest::newRow("IP: text order") << 3 << QStringList{u"9.9.9.9"_s, u"10.0.0.2"_s}
                                    << QStringList{u"10.0.0.2"_s, u"9.9.9.9"_s};
    // Group names without digits all read as 0: the order stays as it was.
    QTest::newRow("分组: all equal keep order")
        << 1 << QStringList{u"香港"_s, u"美国"_s, u"默认分组"_s}
        << QStringList{u"香港"_s, u"美国"_s, u"默认分组"_s};
    QTest::newRow("分组: numbers first by value")
        << 1 << QStringList{u"美国"_s, u"12"_s, u"7"_s} << QStringList{u"美国"_s, u"7"_s, u"12"_s};
    // GBK byte order: 默 is C4 AC and 香 CF E3, the reverse of their Unicode order.
    QTest::newRow("备注: GBK byte order") << 6 << QStringList{u"香港"_s, u"默认"_s, u"abc"_s}
                                          << QStringList{u"abc"_s, u"默认"_s, u"香港"_s};
    QTest::newRow("ID: within 0.0000001 is a tie")
        << 0 << QStringList{u"1.00000001"_s, u"1"_s} << QStringList{u"1.00000001"_s, u"1"_s};
    // Keys that overflow to infinity equal each other; no row is lost or shown twice.
    QTest::newRow("ID: two infinities") << 0 << QStringList{u"1e309"_s, u"5"_s, u"1e400"_s, u"3"_s}
                                        << QStringList{u"3"_s, u"5"_s, u"1e400"_s, u"1e309"_s};
    QTest::newRow("ID: infinities of both signs")
        << 0 << QStringList{u"1e309"_s, u"-1e309"_s, u"2e309"_s, u"0"_s, u"-2e309"_s}
        << QStringList{u"-2e309"_s, u"-1e309"_s, u"0"_s, u"2e309"_s, u"1e309"_s};
}

void TestListSort::columnOrders() {
    QFETCH(int, column);
    QFETCH(QStringList, cells);
    QFETCH(QStringList, sorted);
    QCOMPARE(QStringList(sortedCells(cells, column)), sorted);
}

void TestListSort::longListsDoNotOverflow() {
    // Already sorted, all equal and random: 100,000 rows each, on a thread with a small stack
    // so a recursion as deep as the list would crash here.
    QList<QString> ascending, equal, shuffled;
    QRandomGenerator random(7);
    for (int k = 0; k < 100000; ++k) {
        ascending << QString::number(k);
        equal << u"香港"_s;
        shuffled << QString::number(random.bounded(1000));
    }
    bool ok = false;
    QThread* worker = QThread::create([&] {
        const auto byNumber = ListSort::sortOrder(shuffled, 0);
        ok = ListSort::sortOrder(ascending, 0).front() == 0 &&
             ListSort::sortOrder(equal, 1).back() == 99999 &&
             std::is_sorted(byNumber.begin(), byNumber.end(), [&](qsizetype a, qsizetype b) {
                 return shuffled[a].toInt() < shuffled[b].toInt();
             });
    });
    worker->setStackSize(256 * 1024);
    worker->start();
    QVERIFY(worker->wait(60000));
    delete worker;
    QVERIFY(ok);
}

QTEST_GUILESS_MAIN(TestListSort)
#include "tst_list_sort.moc"
