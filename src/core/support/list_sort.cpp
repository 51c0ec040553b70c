#include "core/support/list_sort.h"

#include "core/codec/gbk_codec.h"

#include <QByteArray>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <limits>
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

// The entries being sorted, with what makes the list's quicksort fast on keys that tie
// often (a group column whose names all read as 0, a few sort numbers): a tree of each
// stretch's least and greatest key, so that a partition's scan that has stepped over many
// ties jumps straight to the entry that stops it, and a count of the places where a key is
// less than the one before it, so that a stretch already in order is known at once. A
// partition then costs the log of the length per swap rather than the whole range, and the
// sort O(n log^2 n) whatever the keys, with every entry ending exactly where the plain
// quicksort puts it. Keys are numbers (byte keys are sorted by their ranks), cheap to keep
// in the tree.
template <typename Key> class SortArray {
public:
    explicit SortArray(std::vector<Entry<Key>> entries) : a_(std::move(entries)) {
        const qsizetype n = size();
        while (leaves_ < n)
            leaves_ *= 2;
        // Places past the end hold keys that stop no scan.
        least_.assign(size_t(2 * leaves_), std::numeric_limits<Key>::max());
        greatest_.assign(size_t(2 * leaves_), std::numeric_limits<Key>::lowest());
        for (qsizetype k = 0; k < n; ++k)
            least_[size_t(leaves_ + k)] = greatest_[size_t(leaves_ + k)] = a_[size_t(k)].first;
        for (qsizetype node = leaves_ - 1; node > 0; --node)
            pull(node);
        descents_.assign(size_t(n + 1), 0);
        isDescent_.assign(size_t(n), 0);
        for (qsizetype k = 0; k + 1 < n; ++k)
            setDescent(k);
    }

    qsizetype size() const { return qsizetype(a_.size()); }
    const Entry<Key>& operator[](qsizetype k) const { return a_[size_t(k)]; }
    std::vector<Entry<Key>>& entries() { return a_; }

    void set(qsizetype k, Entry<Key> entry) {
        a_[size_t(k)] = std::move(entry);
        touch(k);
    }
    void swap(qsizetype i, qsizetype j) {
        std::swap(a_[size_t(i)], a_[size_t(j)]);
        touch(i);
        touch(j);
    }

    // The last place in from..to whose key compares below `key`; -1 when none does.
    qsizetype lastBelow(qsizetype from, qsizetype to, Key key) const {
        for (qsizetype k = to; k >= from && k > to - kShortScan; --k)
            if (compareKeys(a_[size_t(k)].first, key) < 0)
                return k;
        return find(
            1, 0, leaves_ - 1, from, to - kShortScan,
            [&](qsizetype node) { return compareKeys(least_[size_t(node)], key) < 0; }, true);
    }
    // The first place in from..to whose key compares above `key`; -1 when none does.
    qsizetype firstAbove(qsizetype from, qsizetype to, Key key) const {
        for (qsizetype k = from; k <= to && k < from + kShortScan; ++k)
            if (compareKeys(a_[size_t(k)].first, key) > 0)
                return k;
        return find(
            1, 0, leaves_ - 1, from + kShortScan, to,
            [&](qsizetype node) { return compareKeys(greatest_[size_t(node)], key) > 0; }, false);
    }
    // No key in lo..hi is less than the one before it.
    bool isNonDecreasing(qsizetype lo, qsizetype hi) const {
        return descentsBefore(hi) - descentsBefore(lo) == 0;
    }

private:
    // Scans step over this many entries before they ask the tree: most stop sooner.
    static constexpr qsizetype kShortScan = 16;

    // A key that compares below another is also less than it, and one less than a key that
    // compares below `key` compares below `key` too: so a stretch holds a key that compares
    // below `key` exactly when its least key does (and likewise above, with its greatest).
    template <typename Holds>
    qsizetype find(qsizetype node, qsizetype first, qsizetype last, qsizetype from, qsizetype to,
                   const Holds& holds, bool fromTheEnd) const {
        if (last < from || first > to || !holds(node))
            return -1;
        if (first == last)
            return first;
        const qsizetype middle = (first + last) / 2;
        const qsizetype left = 2 * node;
        if (fromTheEnd) {
            const qsizetype found = find(left + 1, middle + 1, last, from, to, holds, true);
            return found >= 0 ? found : find(left, first, middle, from, to, holds, true);
        }
        const qsizetype found = find(left, first, middle, from, to, holds, false);
        return found >= 0 ? found : find(left + 1, middle + 1, last, from, to, holds, false);
    }

    void pull(qsizetype node) {
        const size_t l = size_t(2 * node);
        least_[size_t(node)] = std::min(least_[l], least_[l + 1]);
        greatest_[size_t(node)] = std::max(greatest_[l], greatest_[l + 1]);
    }
    void touch(qsizetype k) {
        const size_t leaf = size_t(leaves_ + k);
        least_[leaf] = greatest_[leaf] = a_[size_t(k)].first;
        for (qsizetype node = (leaves_ + k) / 2; node > 0; node /= 2)
            pull(node);
        if (k > 0)
            setDescent(k - 1);
        if (k + 1 < size())
            setDescent(k);
    }

    // Place k is a descent when the key after it is less than its own.
    void setDescent(qsizetype k) {
        const char now = a_[size_t(k + 1)].first < a_[size_t(k)].first ? 1 : 0;
        if (now == isDescent_[size_t(k)])
            return;
        isDescent_[size_t(k)] = now;
        for (qsizetype i = k + 1; i <= size(); i += i & -i)
            descents_[size_t(i)] += now ? 1 : -1;
    }
    // Descents at places 0..end-1.
    qsizetype descentsBefore(qsizetype end) const {
        qsizetype sum = 0;
        for (qsizetype i = end; i > 0; i -= i & -i)
            sum += descents_[size_t(i)];
        return sum;
    }

    std::vector<Entry<Key>> a_;
    qsizetype leaves_ = 1;
    std::vector<Key> least_, greatest_;
    std::vector<qsizetype> descents_;
    std::vector<char> isDescent_;
};

// Partitioning of the range lo..hi with the range's first entry as pivot; where rows with
// equal keys end depends on exactly these steps, and users see that order. The scans are the
// plain ones: j moves down over keys not below the pivot, i up over keys not above it, and
// the two entries they stop at change places. Returns the pivot's final place.
template <typename Key> qsizetype partition(SortArray<Key>& a, qsizetype lo, qsizetype hi) {
    qsizetype i = lo;
    qsizetype j = hi;
    const Entry<Key> pivot = a[lo];
    while (i != j) {
        const qsizetype below = a.lastBelow(i + 1, j, pivot.first);
        j = below >= 0 ? below : i;
        if (i < j) {
            const qsizetype above = a.firstAbove(i, j - 1, pivot.first);
            i = above >= 0 ? above : j;
        }
        if (i < j)
            a.swap(i, j);
    }
    a.set(lo, a[i]);
    a.set(i, pivot);
    return i;
}

// The quicksort with its own stack of pending ranges instead of recursion, so a long list
// cannot overflow the call stack. The ranges are disjoint, so the order in which they are
// handled does not change the result. A range whose keys never decrease (strictly, without
// tolerance) would come out of the partitioning unchanged, each pivot its range's minimum, so
// it is skipped.
template <typename Key> std::vector<qsizetype> sortEntries(std::vector<Entry<Key>> entries) {
    SortArray<Key> a(std::move(entries));
    std::vector<std::pair<qsizetype, qsizetype>> pending;
    if (a.size() > 0)
        pending.emplace_back(0, a.size() - 1);
    while (!pending.empty()) {
        const auto [lo, hi] = pending.back();
        pending.pop_back();
        if (lo >= hi || a.isNonDecreasing(lo, hi))
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
    order.reserve(size_t(a.size()));
    for (const auto& entry : a.entries())
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

// Byte keys are sorted by their rank among the distinct keys: ranks compare as the bytes do,
// and an integer is cheap to compare where the quicksort's tree compares keys again and again.
std::vector<qsizetype> sortByBytes(const QList<QString>& cells) {
    std::vector<QByteArray> keys;
    keys.reserve(size_t(cells.size()));
    for (const QString& text : cells)
        keys.push_back(Gbk::encode(text));
    std::vector<QByteArray> distinct = keys;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    std::vector<Entry<int>> entries;
    entries.reserve(keys.size());
    for (size_t k = 0; k < keys.size(); ++k)
        entries.emplace_back(
            int(std::lower_bound(distinct.begin(), distinct.end(), keys[k]) - distinct.begin()),
            qsizetype(k));
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
    return sortByBytes(cells);
}

} // namespace ListSort
