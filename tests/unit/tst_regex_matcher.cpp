// RegexMatcher: the matches and groups it collects under each option, positions in GBK bytes,
// replacement, and the silent empty results of an invalid pattern or a missing match.

#include "core/support/regex_matcher.h"

#include <QTest>

using namespace Qt::StringLiterals;

using Options = RegexMatcher::Options;
Q_DECLARE_METATYPE(RegexMatcher::Options)

class TestRegexMatcher : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void collectsMatches_data();
    void collectsMatches();
    void capturesGroups_data();
    void capturesGroups();
    void positionsCountGbkBytes_data();
    void positionsCountGbkBytes();
    void replaces_data();
    void replaces();
    void invalidPatternLeavesEmptyResults();
    void quotePlaceholder();
};

void TestRegexMatcher::collectsMatches_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<Options>("options");
    QTest::addColumn<QStringList>("matches");

    QTest::newRow("no match") << u"x"_s << u"abc"_s << Options{} << QStringList{};
    QTest::newRow("all matches by default")
        << u"a."_s << u"a1 a2 a3"_s << Options{} << QStringList{u"a1"_s, u"a2"_s, u"a3"_s};
    QTest::newRow("first only when not global")
        << u"a."_s << u"a1 a2"_s << Options{.global = false} << QStringList{u"a1"_s};
    QTest::newRow("case ignored by default")
        << u"ABC"_s << u"xabcx"_s << Options{} << QStringList{u"abc"_s};
    QTest::newRow("case sensitive")
        << u"ABC"_s << u"xabcx"_s << Options{.caseSensitive = true} << QStringList{};
    QTest::newRow("anchors per line by default")
        << u"^b"_s << u"a\nb"_s << Options{} << QStringList{u"b"_s};
    QTest::newRow("anchors on the whole text")
        << u"^b"_s << u"a\nb"_s << Options{.multiline = false} << QStringList{};
    QTest::newRow("lazy quantifier")
        << u"<.+?>"_s << u"<a><b>"_s << Options{} << QStringList{u"<a>"_s, u"<b>"_s};
    QTest::newRow("dot stops at a line break")
        << u"a.+"_s << u"ab\ncd"_s << Options{} << QStringList{u"ab"_s};
    QTest::newRow("lines start after CR and after LF")
        << u"^\\w"_s << u"a\rb\nc\r\nd"_s << Options{}
        << QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s};
    QTest::newRow("lines end before CR and before LF")
        << u"\\w$"_s << u"a\rb\nc\r\nd"_s << Options{}
        << QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s};
    QTest::newRow("$ on the whole text is its very end only")
        << u"a$"_s << u"a\n"_s << Options{.multiline = false} << QStringList{};
    QTest::newRow("$ on the whole text at its end")
        << u"a$"_s << u"b\na"_s << Options{.multiline = false} << QStringList{u"a"_s};
    QTest::newRow("^ on the whole text is its very start only")
        << u"^b"_s << u"a\rb"_s << Options{.multiline = false} << QStringList{};
    QTest::newRow("dot stops at a CR")
        << u"a.+"_s << u"ab\rcd"_s << Options{} << QStringList{u"ab"_s};
    QTest::newRow("dot, ^ and $ inside a class are characters")
        << u"[.^$]+"_s << u"a.^$b"_s << Options{} << QStringList{u".^$"_s};
    QTest::newRow("escaped dot, ^ and $ are characters")
        << u"\\.\\^\\$"_s << u"x.^$"_s << Options{} << QStringList{u".^$"_s};
    QTest::newRow("line-break trimming pattern")
        << u"(?:^\\r|\\n$)"_s << u"\r\nx\n"_s << Options{} << QStringList{u"\r"_s, u"\n"_s};
}

void TestRegexMatcher::collectsMatches() {
    QFETCH(QString, pattern);
    QFETCH(QString, subject);
    QFETCH(Options, options);
    QFETCH(QStringList, matches);

    RegexMatcher matcher;
    QVERIFY(matcher.execute(pattern, subject, options));
    QCOMPARE(matcher.matchCount(), matches.size());
    for (int n = 1; n <= matches.size(); ++n)
        QCOMPARE(matcher.matchText(n), matches[n - 1]);
    QCOMPARE(matcher.matchText(0), QString());
    QCOMPARE(matcher.matchText(int(matches.size()) + 1), QString());
}

void TestRegexMatcher::capturesGroups_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<int>("match");
    QTest::addColumn<int>("group");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("groupCount");

    const QString charset = u"<meta.+?charset=[^\\w]?([-\\w]+)"_s;
    QTest::newRow("charset in a meta tag")
        << charset << u"<head><META http-equiv=\"x\" content=\"text/html; charset=GB2312\">"_s << 1
        << 1 << u"GB2312"_s << 1;
    QTest::newRow("quoted charset")
        << charset << u"<meta charset=\"utf-8\" />"_s << 1 << 1 << u"utf-8"_s << 1;
    QTest::newRow("second match") << u"(\\w)=(\\d)"_s << u"a=1 b=2"_s << 2 << 2 << u"2"_s << 2;
    QTest::newRow("group that took no part") << u"(a)|(b)"_s << u"b"_s << 1 << 1 << QString() << 2;
    QTest::newRow("group index past the last") << u"(a)"_s << u"a"_s << 1 << 2 << QString() << 1;
    QTest::newRow("group index 0") << u"(a)"_s << u"a"_s << 1 << 0 << QString() << 1;
    QTest::newRow("match index past the last") << u"(a)"_s << u"a"_s << 2 << 1 << QString() << 1;
    QTest::newRow("no match has no groups") << u"(a)"_s << u"x"_s << 1 << 1 << QString() << 0;
}

void TestRegexMatcher::capturesGroups() {
    QFETCH(QString, pattern);
    QFETCH(QString, subject);
    QFETCH(int, match);
    QFETCH(int, group);
    QFETCH(QString, text);
    QFETCH(int, groupCount);

    RegexMatcher matcher;
    QVERIFY(matcher.execute(pattern, subject));
    QCOMPARE(matcher.subMatchText(match, group), text);
    QCOMPARE(matcher.subMatchCount(), groupCount);
}

void TestRegexMatcher::positionsCountGbkBytes_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<qsizetype>("matchPosition");
    QTest::addColumn<qsizetype>("groupPosition");

    QTest::newRow("ASCII") << u"b(c)"_s << u"abc"_s << qsizetype(1) << qsizetype(2);
    QTest::newRow("double-byte characters before the match")
        << u"x(y)"_s << u"服务器xy"_s << qsizetype(6) << qsizetype(7);
    QTest::newRow("group where its text also occurs earlier in the match")
        << u"a(a)"_s << u"中aa"_s << qsizetype(2) << qsizetype(3);
}

void TestRegexMatcher::positionsCountGbkBytes() {
    QFETCH(QString, pattern);
    QFETCH(QString, subject);
    QFETCH(qsizetype, matchPosition);
    QFETCH(qsizetype, groupPosition);

    RegexMatcher matcher;
    QVERIFY(matcher.execute(pattern, subject));
    qsizetype position = -1;
    matcher.matchText(1, &position);
    QCOMPARE(position, matchPosition);
    matcher.subMatchText(1, 1, &position);
    QCOMPARE(position, groupPosition);
}

void TestRegexMatcher::replaces_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<Options>("options");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<QString>("result");

    QTest::newRow("every match removed")
        << u"\\d"_s << u"a1b2c3"_s << Options{} << QString() << u"abc"_s;
    QTest::newRow("first only when not global")
        << u"\\d"_s << u"a1b2"_s << Options{.global = false} << u"#"_s << u"a#b2"_s;
    QTest::newRow("group references")
        << u"(\\w+)@(\\w+)"_s << u"user@host"_s << Options{} << u"$2 at $1"_s << u"host at user"_s;
    QTest::newRow("whole match, before, after, dollar")
        << u"b"_s << u"abc"_s << Options{} << u"[$&|$`|$'|$$]"_s << u"a[b|a|c|$]c"_s;
    QTest::newRow("reference to a missing group stays as written")
        << u"(b)"_s << u"abc"_s << Options{} << u"$2$0"_s << u"a$2$0c"_s;
    QTest::newRow("no match leaves the subject")
        << u"x"_s << u"abc"_s << Options{} << u"y"_s << u"abc"_s;
    QTest::newRow("line-break trimming")
        << u"(?:^\\r|\\n$)"_s << u"\r\nline\n"_s << Options{} << QString() << u"\nline"_s;
}

void TestRegexMatcher::replaces() {
    QFETCH(QString, pattern);
    QFETCH(QString, subject);
    QFETCH(Options, options);
    QFETCH(QString, replacement);
    QFETCH(QString, result);

    RegexMatcher matcher;
    QVERIFY(matcher.execute(pattern, subject, options));
    QCOMPARE(matcher.replace(replacement), result);
}

void TestRegexMatcher::invalidPatternLeavesEmptyResults() {
    RegexMatcher matcher;
    QCOMPARE(matcher.replace(u"x"_s), QString());
    QCOMPARE(matcher.pattern(), QString());

    QVERIFY(matcher.execute(u"a"_s, u"a"_s));
    QVERIFY(!matcher.execute(u"(a"_s, u"a"_s));
    QCOMPARE(matcher.matchCount(), 0);
    QCOMPARE(matcher.matchText(1), QString());
    QCOMPARE(matcher.subMatchCount(), 0);
    QCOMPARE(matcher.replace(u"x"_s), QString());
    QCOMPARE(matcher.pattern(), u"(a"_s);
}

void TestRegexMatcher::quotePlaceholder() {
    const QString subject = u"say \"hi\" and #引号x#引号"_s;
    RegexMatcher matcher;
    QVERIFY(matcher.execute(u"#引号(\\w+)#引号"_s, subject, {.quotePlaceholder = true}));
    QCOMPARE(matcher.pattern(), u"\"(\\w+)\""_s);
    QCOMPARE(matcher.matchText(1), u"\"hi\""_s);

    QVERIFY(matcher.execute(u"#引号(\\w+)#引号"_s, subject));
    QCOMPARE(matcher.matchText(1), u"#引号x#引号"_s);
}

QTEST_GUILESS_MAIN(TestRegexMatcher)
#include "tst_regex_matcher.moc"
