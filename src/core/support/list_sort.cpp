#include "core/support/list_sort.h"

#include "core/support/gbk_codec.h"

#include <QByteArray>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <utility>

namespace {

bool isCSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Skips C's blanks and reads an optional sign, as atof and atoi do; true for "-".
bool skipBlanksAndSign(const char*& p, const char* end) {
    while (p < end && isCSpace(*p))
        ++p;
    if (p < end && (*p == '+' || *p == '-'))
        return *p++ == '-';
    return false;
}

// The folded text as bytes for the numeric parsers; only ASCII matters to them.
QByteArray numericBytes(const QString& text) {
    return ListSort::foldFullWidth(text).toLatin1();
}

template <typename Key> using Entry = std::pair<Key, qsizetype>;

int compareKeys(double a, double b) {
    // Equal infinities first: their difference is not a number, which would make a key
    // greater than itself and let the partitioning drop one row and copy another.
    if (a == b || std::fabs(a - b) <= 0.0000001)
        return 0;
    return a < b ? -1 : 1;
}
int compareKeys(int a, int b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}
int compareKeys(const QByteArray& a, const QByteArray& b) {
    return a.compare(b);
}

// Partitioning of the range lo..hi with the range's first entry as pivot; where rows with
// equal keys end depends on exactly these steps, and users see that order. Returns the
// pivot's final place.
template <typename Key>
qsizetype partition(std::vector<Entry<Key>>& a, qsizetype lo, qsizetype hi) {
    qsizetype i = lo;
    qsizetype j = hi;
    const Entry<Key> pivot = a[lo];
    while (i != j) {
        while (compareKeys(a[j].first, pivot.first) >= 0 && i < j)
            --j;
        while (compareKeys(a[i].first, pivot.first) <= 0 && i < j)
            ++i;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    a[lo] = a[i];
    a[i] = pivot;
    return i;
}

// A range whose keys never decrease (strictly, without tolerance) comes out of the
// partitioning unchanged: each pivot is its range's minimum, so nothing moves. Skipping such
// ranges keeps already sorted lists and all-equal columns linear instead of quadratic.
template <typename Key>
bool isNonDecreasing(const std::vector<Entry<Key>>& a, qsizetype lo, qsizetype hi) {
    for (qsizetype k = lo; k < hi; ++k)
        if (a[k + 1].first < a[k].first)
            return false;
    return true;
}

// The quicksort with its own stack of pending ranges instead of recursion, so a long list
// cannot overflow the call stack. The ranges are disjoint, so the order in which they are
// handled does not change the result.
template <typename Key> std::vector<qsizetype> sortEntries(std::vector<Entry<Key>> a) {
    std::vector<std::pair<qsizetype, qsizetype>> pending;
    if (!a.empty())
        pending.emplace_back(0, qsizetype(a.size()) - 1);
    while (!pending.empty()) {
        const auto [lo, hi] = pending.back();
        pending.pop_back();
        if (lo >= hi || isNonDecreasing(a, lo, hi))
            continue;
        const qsizetype p = partition(a, lo, hi);
        // The larger side waits on the stack, the smaller is handled first: the stack stays
        // logarithmic in depth.
        std::pair<qsizetype, qsizetype> left{lo, p - 1};
        std::pair<qsizetype, qsizetype> right{p + 1, hi};
        if (left.second - left.first > right.second - right.first)
            std::swap(left, right);
        pending.push_back(right);
        pending.push_back(left);
    }
    std::vector<qsizetype> order;
    order.reserve(a.size());
    for (const auto& entry : a)
        order.push_back(entry.second);
    return order;
}

template <typename Key, typename MakeKey>
std::vector<qsizetype> sortBy(const QList<QString>& cells, MakeKey makeKey) {
    std::vector<Entry<Key>> entries;
    entries.reserve(cells.size());
    for (qsizetype k = 0; k < cells.size(); ++k)
        entries.emplace_back(makeKey(cells[k]), k);
    return sortEntries(std::move(entries));
}

} // namespace

namespace ListSort {

QString foldFullWidth(const QString& text) {
    QString folded = text;
    for (QChar& c : folded) {
        const char16_t u = c.unicode();
        if (u >= 0xFF01 && u <= 0xFF5E)
            c = QChar(char16_t(u - 0xFEE0));
        else if (u == 0x3000)
            c = QChar(u' ');
    }
    return folded;
}

double leadingNumber(const QString& text) {
    const QByteArray bytes = numericBytes(text);
    const char* p = bytes.constData();
    const char* end = p + bytes.size();
    const bool negative = skipBlanksAndSign(p, end);
    const char* start = p;
    qsizetype digits = 0;
    while (p < end && isDigit(*p))
        ++p, ++digits;
    if (p < end && *p == '.') {
        ++p;
        while (p < end && isDigit(*p))
            ++p, ++digits;
    }
    if (digits == 0)
        return 0.0;
    bool negativeExponent = false;
    if (p < end && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        if (q < end && (*q == '+' || *q == '-'))
            negativeExponent = *q++ == '-';
        if (q < end && isDigit(*q)) {
            while (q < end && isDigit(*q))
                ++q;
            p = q;
        } else {
            negativeExponent = false;
        }
    }
    double value = 0.0;
    if (std::from_chars(start, p, value).ec == std::errc::result_out_of_range)
        value = negativeExponent ? 0.0 : HUGE_VAL; // as atof: underflow 0, overflow infinity
    return negative ? -value : value;
}

int leadingInteger(const QString& text) {
    const QByteArray bytes = numericBytes(text);
    const char* p = bytes.constData();
    const char* end = p + bytes.size();
    const bool negative = skipBlanksAndSign(p, end);
    long long value = 0;
    while (p < end && isDigit(*p)) {
        value = value * 10 + (*p++ - '0');
        // Out of range reads as INT_MAX or INT_MIN.
        if (value > qint64(INT_MAX) + 1)
            return negative ? INT_MIN : INT_MAX;
    }
    if (negative)
        value = -value;
    return int(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

std::vector<qsizetype> sortOrder(const QList<QString>& cells, int column) {
    if (column == 0)
        return sortBy<double>(cells, leadingNumber);
    if (column == 1 || column == 2)
        return sortBy<int>(cells, leadingInteger);
    return sortBy<QByteArray>(cells, [](const QString& text) { return Gbk::encode(text); });
}

} // namespace ListSort
