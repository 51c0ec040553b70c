// How a reply of the announcements action becomes the eight link rows: which line reaches
// which label, which lines and fields count, and how a colour field is read.

#include "core/links/announcement_loader.h"

#include <QTest>

using namespace Qt::StringLiterals;
using AnnouncementLoader::LinkRow;
using AnnouncementLoader::LinkRows;

namespace {

// Label n (1-based) shows `row` instead of its built-in row.
struct Changed {
    int label;
    LinkRow row;
};

} // namespace

Q_DECLARE_METATYPE(Changed)
Q_DECLARE_METATYPE(QList<Changed>)

class TestAnnouncementLoader : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void builtInRowsAreOurOwnPages();
    void replyFillsLabels_data();
    void replyFillsLabels();
    void colourField_data();
    void colourField();
};

void TestAnnouncementLoader::builtInRowsAreOurOwnPages() {
    for (const LinkRow& row : AnnouncementLoader::builtInRows()) {
        QVERIFY(!row.caption.isEmpty());
        QVERIFY2(row.address.startsWith(u"https://www.torvane.net/"_s), qPrintable(row.address));
        QVERIFY(!row.colour);
    }
}

void TestAnnouncementLoader::replyFillsLabels_data() {
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<QList<Changed>>("changed");

    auto row = [](const char* name, const QString& reply, QList<Changed> changed,
                  bool answered = true) { QTest::newRow(name) << reply << answered << changed; };
    const LinkRow ab{u"公告"_s, u"http://a/"_s, {}};

    row("empty reply", {}, {});
    row("no separator", u"维护通知，暂停服务"_s, {});
    row("no separator on any line", u"a\r\nb\r\nc"_s, {});
    row("one line", u"公告----http://a/"_s, {{1, ab}});
    row("trailing line break adds no line", u"公告----http://a/\r\n"_s, {{1, ab}});
    row("empty first line belongs to label 1", u"\r\n公告----http://a/"_s, {{2, ab}});
    row("empty lines in between count", u"x----1\r\n\r\n\r\ny----4"_s,
        {{1, {u"x"_s, u"1"_s, {}}}, {4, {u"y"_s, u"4"_s, {}}}});
    row("a line of one field keeps its label", u"公告\r\n公告----http://a/"_s, {{2, ab}});
    row("trailing separator adds no field", u"公告----"_s, {});
    row("leading separator gives an empty caption", u"----http://a/"_s,
        {{1, {QString(), u"http://a/"_s, {}}}});
    row("doubled separator gives an empty address", u"公告--------255"_s,
        {{1, {u"公告"_s, QString(), 255}}});
    row("colour field", u"公告----http://a/----255"_s, {{1, {u"公告"_s, u"http://a/"_s, 255}}});
    row("fields after the third are ignored", u"公告----http://a/----255----x----y"_s,
        {{1, {u"公告"_s, u"http://a/"_s, 255}}});
    row("a bare line feed does not end a line", u"a----b\nc----d"_s, {{1, {u"a"_s, u"b\nc"_s, 0}}});
    row("a bare carriage return does not end a line", u"a----b\rc"_s,
        {{1, {u"a"_s, u"b\rc"_s, {}}}});
    QList<Changed> eight;
    QStringList ten;
    for (int n = 1; n <= 10; ++n) {
        ten << u"c%1----u%1"_s.arg(n);
        if (n <= 8)
            eight << Changed{n, {u"c%1"_s.arg(n), u"u%1"_s.arg(n), {}}};
    }
    row("lines after the eighth are ignored", ten.join(u"\r\n"_s), eight);
    row("an unanswered request keeps every built-in row", u"公告----http://a/"_s, {}, false);
}

void TestAnnouncementLoader::replyFillsLabels() {
    QFETCH(QString, reply);
    QFETCH(bool, answered);
    QFETCH(QList<Changed>, changed);

    LinkRows expected = AnnouncementLoader::builtInRows();
    for (const Changed& c : changed)
        expected[size_t(c.label - 1)] = c.row;
    const CloudApi::Reply given{reply, answered ? QString() : u"701 连接失败!"_s};
    const LinkRows rows = AnnouncementLoader::rowsFromReply(given);
    for (size_t i = 0; i < rows.size(); ++i) {
        QCOMPARE(rows[i].caption, expected[i].caption);
        QCOMPARE(rows[i].address, expected[i].address);
        QCOMPARE(rows[i].colour, expected[i].colour);
    }
}

void TestAnnouncementLoader::colourField_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<quint32>("colour");

    QTest::newRow("red") << u"255"_s << 0x0000FFu;
    QTest::newRow("blue") << u"16711680"_s << 0xFF0000u;
    QTest::newRow("white") << u"16777215"_s << 0xFFFFFFu;
    QTest::newRow("blanks around") << u" 32768 "_s << 0x008000u;
    QTest::newRow("word") << u"red"_s << 0u;
    QTest::newRow("hexadecimal is not decimal") << u"0x0000FF"_s << 0u;
    QTest::newRow("digits then text") << u"255px"_s << 0u;
    QTest::newRow("empty") << QString() << 0u;
    QTest::newRow("beyond the colour bytes") << u"4278190335"_s << 0x0000FFu;
    QTest::newRow("negative") << u"-1"_s << 0xFFFFFFu;
}

void TestAnnouncementLoader::colourField() {
    QFETCH(QString, text);
    QFETCH(quint32, colour);
    QCOMPARE(AnnouncementLoader::colourFromText(text), colour);
}

QTEST_GUILESS_MAIN(TestAnnouncementLoader)
#include "tst_announcement_loader.moc"
