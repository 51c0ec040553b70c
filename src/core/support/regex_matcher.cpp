#include "core/support/regex_matcher.h"

#include "core/codec/gbk_codec.h"

#include <QRegularExpressionMatchIterator>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

QRegularExpression::PatternOptions patternOptions(const RegexMatcher::Options& options) {
    return options.caseSensitive ? QRegularExpression::NoPatternOption
                                 : QRegularExpression::CaseInsensitiveOption;
}

// The pattern with the line ends of this dialect spelled out for PCRE2, which by itself
// knows LF only and lets "$" match before a final LF: CR and LF each end a line, "." matches
// neither, and "^" and "$" mean the start and end of any line in multi-line mode and of the
// whole subject otherwise. Escaped characters and characters inside a class stay as written.
QString withLineEnds(const QString& pattern, bool multiline) {
    const QString lineStart = multiline ? u"(?<![^\\r\\n])"_s : u"(?<![\\s\\S])"_s;
    const QString lineEnd = multiline ? u"(?![^\\r\\n])"_s : u"(?![\\s\\S])"_s;
    QString out;
    out.reserve(pattern.size() + 32);
    bool inClass = false;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == u'\\') {
            out += QStringView(pattern).sliced(i, std::min<qsizetype>(2, pattern.size() - i));
            ++i;
        } else if (inClass) {
            inClass = c != u']';
            out += c;
        } else if (c == u'[') {
            inClass = true;
            out += c;
            // A "]" right after "[" or "[^" is a member of the class, not its end.
            for (const QChar lead : {u'^', u']'}) {
                if (i + 1 < pattern.size() && pattern[i + 1] == lead)
                    out += pattern[++i];
            }
        } else if (c == u'.') {
            out += u"[^\\r\\n]"_s;
        } else if (c == u'^') {
            out += lineStart;
        } else if (c == u'$') {
            out += lineEnd;
        } else {
            out += c;
        }
    }
    return out;
}

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// The group number that a "$" at `dollar` names, and how many digits it spans: two digits
// when they form a group that exists, else one; 0 when no group is named.
std::pair<int, int> groupReference(const QString& replacement, qsizetype dollar, int groups) {
    const qsizetype first = dollar + 1;
    if (first >= replacement.size() || !isDigit(replacement[first]))
        return {0, 0};
    const int one = replacement[first].digitValue();
    if (first + 1 < replacement.size() && isDigit(replacement[first + 1])) {
        const int two = one * 10 + replacement[first + 1].digitValue();
        if (two >= 1 && two <= groups)
            return {two, 2};
    }
    return one >= 1 && one <= groups ? std::pair{one, 1} : std::pair{0, 0};
}

// The replacement for one match, with its "$" references filled in.
QString expandReplacement(const QString& replacement, const QRegularExpressionMatch& match,
                          const QString& subject) {
    const int groups = match.regularExpression().captureCount();
    QString out;
    out.reserve(replacement.size());
    for (qsizetype i = 0; i < replacement.size(); ++i) {
        const QChar c = replacement[i];
        if (c != u'$' || i + 1 >= replacement.size()) {
            out += c;
            continue;
        }
        const QChar next = replacement[i + 1];
        if (next == u'$') {
            out += u'$';
        } else if (next == u'&') {
            out += match.captured(0);
        } else if (next == u'`') {
            out += subject.left(match.capturedStart(0));
        } else if (next == u'\'') {
            out += subject.mid(match.capturedEnd(0));
        } else if (const auto [group, digits] = groupReference(replacement, i, groups); digits) {
            out += match.captured(group);
            i += digits;
            continue;
        } else {
            out += c;
            continue;
        }
        ++i;
    }
    return out;
}

} // namespace

bool RegexMatcher::execute(const QString& pattern, const QString& subject, Options options) {
    executed_ = true;
    pattern_ = options.quotePlaceholder ? QString(pattern).replace(u"#引号"_s, u"\""_s) : pattern;
    // The compiled form of the last pattern serves again when nothing changed: compiling is
    // the dearest part of a search.
    const QString compiled = withLineEnds(pattern_, options.multiline);
    const QRegularExpression::PatternOptions flags = patternOptions(options);
    if (expression_.pattern() != compiled || expression_.patternOptions() != flags)
        expression_ = QRegularExpression(compiled, flags);
    subject_ = subject;
    global_ = options.global;
    matches_.clear();
    if (!expression_.isValid())
        return false;
    if (!global_) {
        QRegularExpressionMatch first = expression_.match(subject_);
        if (first.hasMatch())
            matches_.append(std::move(first));
        return true;
    }
    QRegularExpressionMatchIterator it = expression_.globalMatch(subject_);
    while (it.hasNext())
        matches_.append(it.next());
    return true;
}

QString RegexMatcher::replace(const QString& replacement) const {
    if (!executed_ || !expression_.isValid())
        return {};
    QString out;
    qsizetype copied = 0;
    QRegularExpressionMatchIterator it = expression_.globalMatch(subject_);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(subject_).sliced(copied, m.capturedStart(0) - copied);
        out += expandReplacement(replacement, m, subject_);
        copied = m.capturedEnd(0);
        if (!global_)
            break;
    }
    out += QStringView(subject_).sliced(copied);
    return out;
}

QString RegexMatcher::matchText(int n, qsizetype* position) const {
    const QRegularExpressionMatch* m = match(n);
    if (!m)
        return {};
    if (position)
        *position = gbkOffset(m->capturedStart(0));
    return m->captured(0);
}

QString RegexMatcher::subMatchText(int n, int k, qsizetype* position) const {
    const QRegularExpressionMatch* m = match(n);
    if (!m || k < 1 || k > expression_.captureCount() || !m->hasCaptured(k))
        return {};
    if (position)
        *position = gbkOffset(m->capturedStart(k));
    return m->captured(k);
}

int RegexMatcher::subMatchCount() const {
    return matches_.isEmpty() ? 0 : expression_.captureCount();
}

const QRegularExpressionMatch* RegexMatcher::match(int n) const {
    return n >= 1 && n <= matches_.size() ? &matches_[n - 1] : nullptr;
}

// Callers count positions in the GBK bytes of the subject, where a Chinese character takes
// two bytes.
qsizetype RegexMatcher::gbkOffset(qsizetype index) const {
    return Gbk::encode(subject_.left(index)).size();
}
