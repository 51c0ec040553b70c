// The text forms the store shares with import, export and the cloud: "----" fields, line
// blocks, GBK bytes and the log's date-time text.

#include "core/codec/gbk_codec.h"
#include "core/store/line_formats.h"
#include "core/support/time_text.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestTextFormats : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void splitFields_data();
    void splitFields();
    void splitFieldsKeepsDoubleByteCharactersWhole_data();
    void splitFieldsKeepsDoubleByteCharactersWhole();
    void trimLineBreaks_data();
    void trimLineBreaks();
    void serverLineRoundTrip_data();
    void serverLineRoundTrip();
    void groupLine();
    void gbkEncode_data();
    void gbkEncode();
    void timeText_data();
    void timeText();
};

// Each row runs through both overloads: the QString one as given, the byte one on the GBK
// form of the same text.
void TestTextFormats::splitFields_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QStringList>("pieces");

    const QString sep = u"----"_s;
    QTest::newRow("empty text") << QString() << sep << QStringList();
    QTest::newRow("no separator") << u"abc"_s << sep << QStringList{u"abc"_s};
    QTest::newRow("trailing separator") << u"a----b----"_s << sep << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("consecutive separators")
        << u"a--------b"_s << sep << QStringList{u"a"_s, QString(), u"b"_s};
    QTest::newRow("leading separator") << u"----a"_s << sep << QStringList{QString(), u"a"_s};
    QTest::newRow("separator only") << u"----"_s << sep << QStringList{QString()};
    QTest::newRow("five dashes") << u"a-----b"_s << sep << QStringList{u"a"_s, u"-b"_s};
    QTest::newRow("chinese fields")
        << u"默认分组----生产服务器"_s << sep << QStringList{u"默认分组"_s, u"生产服务器"_s};

    QStringList ten;
    for (int i = 1; i <= 10; ++i)
        ten << u"f%1"_s.arg(i);
    QTest::newRow("ten fields, trailing separator") << ten.join(sep) + sep << sep << ten;

    const QString crlf = u"\r\n"_s;
    QTest::newRow("line breaks") << u"one\r\ntwo\r\n\r\nthree\r\n"_s << crlf
                                 << QStringList{u"one"_s, u"two"_s, QString(), u"three"_s};
}

void TestTextFormats::splitFields() {
    QFETCH(QString, text);
    QFETCH(QString, separator);
    QFETCH(QStringList, pieces);

    QCOMPARE(::splitFields(text, separator), pieces);

    QList<QByteArray> bytePieces;
    for (const QString& piece : pieces)
        bytePieces << Gbk::encode(piece);
    QCOMPARE(::splitFields(Gbk::encode(text), Gbk::encode(separator)), bytePieces);
}

// A byte with the high bit set and the byte after it are one character: scanning resumes
// after both, so a separator is never found starting inside such a pair.
void TestTextFormats::splitFieldsKeepsDoubleByteCharactersWhole_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<QByteArray>>("pieces");

    QTest::newRow("dash after lead byte belongs to it")
        << QByteArray("\x81----x") << QList<QByteArray>{QByteArray("\x81----x")};
    QTest::newRow("separator right after the pair")
        << QByteArray("\x81-----x") << QList<QByteArray>{QByteArray("\x81-"), QByteArray("x")};
    QTest::newRow("lead byte last")
        << QByteArray("a----\x81") << QList<QByteArray>{QByteArray("a"), QByteArray("\x81")};
}

void TestTextFormats::splitFieldsKeepsDoubleByteCharactersWhole() {
    QFETCH(QByteArray, text);
    QFETCH(QList<QByteArray>, pieces);
    QCOMPARE(::splitFields(text, QByteArray("----")), pieces);
}

void TestTextFormats::trimLineBreaks_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("trimmed");

    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("one line") << u"a"_s << u"a"_s;
    QTest::newRow("line break only") << u"\r\n"_s << QString();
    QTest::newRow("two lines unchanged") << u"a\r\nb"_s << u"a\r\nb"_s;
    QTest::newRow("outer breaks and a blank line") << u"\r\na\r\n\r\nb\r\n"_s << u"a\r\nb"_s;
    QTest::newRow("two blank lines") << u"a\r\n\r\n\r\nb"_s << u"a\r\nb"_s;
    // The rule's steps would leave the LF of a second leading break and the CR of a second
    // trailing one; a line would carry them in its first or last field.
    QTest::newRow("two leading breaks") << u"\r\n\r\na"_s << u"a"_s;
    QTest::newRow("two trailing breaks") << u"a\r\n\r\n"_s << u"a"_s;
    QTest::newRow("three of each around two lines")
        << u"\r\n\r\n\r\na\r\n\r\nb\r\n\r\n\r\n"_s << u"a\r\nb"_s;
    QTest::newRow("a lone LF first, a lone CR last") << u"\na\r\nb\r"_s << u"a\r\nb"_s;
    QTest::newRow("CR and LF inside a line stay") << u"a\rb\nc"_s << u"a\rb\nc"_s;
}

void TestTextFormats::trimLineBreaks() {
    QFETCH(QString, text);
    QFETCH(QString, trimmed);
    QCOMPARE(::trimLineBreaks(text), trimmed);
}

void TestTextFormats::serverLineRoundTrip_data() {
    QTest::addColumn<bool>("withPanel");
    QTest::newRow("all fifteen fields") << true;
    QTest::newRow("panel fields empty") << false;
}

// Every field comes back at its own position, so format() and the Field positions agree.
void TestTextFormats::serverLineRoundTrip() {
    QFETCH(bool, withPanel);

    ServerRecord s;
    s.group = u"生产"_s;
    s.name = u"web-1"_s;
    s.ip = u"192.0.2.10"_s;
    s.user = u"root"_s;
    s.password = u"p-w"_s;
    s.port = u"22"_s;
    s.system = u"Debian"_s;
    s.remark = u"备注"_s;
    s.startTime = u"2024-01-01"_s;
    s.endTime = u"2025-01-01"_s;
    s.sort = u"50"_s;
    if (withPanel) {
        s.panelUrl = u"http://192.0.2.10:8888"_s;
        s.panelUser = u"admin"_s;
        s.panelPassword = u"secret"_s;
        s.panelKey = u"k3y"_s;
    }

    const QString line = ServerLine::format(s);
    const QStringList f = ServerLine::fields(line);
    QVERIFY(f.size() <= ServerLine::FieldCount);
    if (withPanel)
        QCOMPARE(f.size(), ServerLine::FieldCount);

    QCOMPARE(f.value(ServerLine::Group), s.group);
    QCOMPARE(f.value(ServerLine::Name), s.name);
    QCOMPARE(f.value(ServerLine::Address), s.ip);
    QCOMPARE(f.value(ServerLine::Account), s.user);
    QCOMPARE(f.value(ServerLine::Password), s.password);
    QCOMPARE(f.value(ServerLine::Port), s.port);
    QCOMPARE(f.value(ServerLine::System), s.system);
    QCOMPARE(f.value(ServerLine::Remark), s.remark);
    QCOMPARE(f.value(ServerLine::StartTime), s.startTime);
    QCOMPARE(f.value(ServerLine::EndTime), s.endTime);
    QCOMPARE(f.value(ServerLine::Sort), s.sort);
    QCOMPARE(f.value(ServerLine::PanelUrl), s.panelUrl);
    QCOMPARE(f.value(ServerLine::PanelUser), s.panelUser);
    QCOMPARE(f.value(ServerLine::PanelPassword), s.panelPassword);
    QCOMPARE(f.value(ServerLine::PanelKey), s.panelKey);
}

void TestTextFormats::groupLine() {
    const QString line = GroupLine::format({u"9"_s, u"默认分组"_s, u"50"_s});
    QCOMPARE(line, u"默认分组----50"_s);
    QCOMPARE(GroupLine::fields(line), (QStringList{u"默认分组"_s, u"50"_s}));
    QCOMPARE(GroupLine::fields(u"测试----7----extra"_s).mid(0, 2),
             (QStringList{u"测试"_s, u"7"_s}));
}

void TestTextFormats::gbkEncode_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<bool>("roundTrips");

    QTest::newRow("empty") << QString() << QByteArray() << true;
    QTest::newRow("ascii") << u"root@host:22"_s << QByteArray("726f6f7440686f73743a3232") << true;
    QTest::newRow("ascii controls and DEL") << u"\t\r\n\x7f"_s << QByteArray("090d0a7f") << true;
    QTest::newRow("default group name") << u"默认分组"_s << QByteArray("c4acc8cfb7d6d7e9") << true;
    QTest::newRow("euro sign") << u"€"_s << QByteArray("80") << true;
    QTest::newRow("mixed") << u"a生产b"_s << QByteArray("61c9fab2fa62") << true;
    QTest::newRow("emoji") << u"a😀b"_s << QByteArray("613f62") << false;
    QTest::newRow("thai") << u"aกb"_s << QByteArray("613f62") << false;
}

// Unencodable characters become "?"; everything else decodes back to the same text.
void TestTextFormats::gbkEncode() {
    QFETCH(QString, text);
    QFETCH(QByteArray, hex);
    QFETCH(bool, roundTrips);

    const QByteArray bytes = Gbk::encode(text);
    QCOMPARE(bytes.toHex(), hex);
    const QString back = Gbk::decode(bytes);
    if (roundTrips)
        QCOMPARE(back, text);
    else
        QCOMPARE(back, u"a?b"_s);
}

void TestTextFormats::timeText_data() {
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("text");

    QTest::newRow("all parts") << QTime(9, 5, 7) << u"2024年6月6日9时5分7秒"_s;
    QTest::newRow("no seconds") << QTime(9, 5, 0) << u"2024年6月6日9时5分"_s;
    QTest::newRow("whole hour") << QTime(9, 0, 0) << u"2024年6月6日9时"_s;
    QTest::newRow("midnight") << QTime(0, 0, 0) << u"2024年6月6日"_s;
    QTest::newRow("seconds after midnight") << QTime(0, 0, 7) << u"2024年6月6日0时0分7秒"_s;
    QTest::newRow("minutes after midnight") << QTime(0, 5, 0) << u"2024年6月6日0时5分"_s;
    QTest::newRow("two-digit parts") << QTime(23, 59, 58) << u"2024年6月6日23时59分58秒"_s;
}

void TestTextFormats::timeText() {
    QFETCH(QTime, time);
    QFETCH(QString, text);
    QCOMPARE(::timeText(QDateTime(QDate(2024, 6, 6), time)), text);
}

QTEST_GUILESS_MAIN(TestTextFormats)
#include "tst_text_formats.moc"
