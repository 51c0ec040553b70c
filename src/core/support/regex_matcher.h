#pragma once

#include <QList>
#include <QRegularExpression>
#include <QString>

// Runs one pattern over one subject and answers questions about the matches it found. The
// dialect is the ECMAScript-like one of PCRE2: lazy quantifiers, non-capturing groups, \w in
// and outside classes, negated classes, ^ and $ that follow the multi-line option. CR and LF
// both end a line: "." matches neither, and in multi-line mode ^ and $ match after and before
// either; otherwise they match only at the very start and the very end of the subject.
//
// Nothing here reports an error: an invalid pattern makes execute() return false, and every
// later read gives empty text or 0. Indexes that callers pass are 1-based.
class RegexMatcher {
public:
    struct Options {
        bool caseSensitive = false;
        bool multiline = true;
        bool global = true;
        // Every "#引号" in the pattern stands for a double quote.
        bool quotePlaceholder = false;
    };

    // Starts afresh: compiles the pattern and collects its matches in the subject (only the
    // first unless global). True when the pattern is valid, even with no match.
    bool execute(const QString& pattern, const QString& subject, Options options);
    bool execute(const QString& pattern, const QString& subject) {
        return execute(pattern, subject, Options{});
    }

    // The subject with every match (the first only, unless global) replaced. The replacement
    // may name $1..$99, $& (the match), $` and $' (the text before and after it) and $$.
    // Empty before any execute() and after an invalid pattern.
    QString replace(const QString& replacement = {}) const;

    int matchCount() const { return int(matches_.size()); }

    // Text of match n; `position` receives the offset of the match in the GBK bytes of the
    // subject. Empty text (and no position) when n is out of range.
    QString matchText(int n, qsizetype* position = nullptr) const;

    // Text of capture group k of match n, with its GBK byte offset in `position`. Empty when
    // either index is out of range or the group took no part in the match.
    QString subMatchText(int n, int k, qsizetype* position = nullptr) const;

    // Capture groups of the first match; 0 when there is none.
    int subMatchCount() const;

    // The pattern as compiled (placeholders replaced); empty before any execute().
    QString pattern() const { return pattern_; }

private:
    const QRegularExpressionMatch* match(int n) const;
    qsizetype gbkOffset(qsizetype index) const;

    bool executed_ = false;
    QString pattern_;
    QRegularExpression expression_;
    QString subject_;
    QList<QRegularExpressionMatch> matches_;
    bool global_ = true;
};
