// JsonDocument: reading by path (the "da" name, brackets, quoted names), type codes, the text
// forms of values and of serialised JSON, the changes, and the empty results of bad input.

#include "core/support/json_document.h"

#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;
using Change = std::function<bool(JsonDocument&)>;
Q_DECLARE_METATYPE(Change)
Q_DECLARE_METATYPE(JsonType)

namespace {

const QString kReply = uR"({"status":true,"msg":"ok","num":12.50,"arr":[1,"a",null,[2,3]],)"
                       uR"("obj":{"b":1,"a":2},"nul":null,"empty":[],"text":"true",)"
                       uR"("data":{"list":[{"id":7},{"id":8}]},"date":"d","da":{"x":"inner"},)"
                       uR"("a b":"spaced","名称":"中文"})"_s;

JsonDocument parsed(const QString& text) {
    JsonDocument document;
    document.parse(text);
    return document;
}

} // namespace

class TestJsonDocument : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsByPath_data();
    void readsByPath();
    void typeOf_data();
    void typeOf();
    void writesNumbersAsScripts_data();
    void writesNumbersAsScripts();
    void serialisesWithEscapes_data();
    void serialisesWithEscapes();
    void failedParseLeavesEmptyResults_data();
    void failedParseLeavesEmptyResults();
    void changes_data();
    void changes();
    void backslashesStoredAsTextStayPlain();
    void membersInOrderAndCounts();
    void documentsTakenOutAreCopies();
    void rootArrayIsReadByIndex();
};

void TestJsonDocument::readsByPath_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("json");

    QTest::newRow("boolean") << u"status"_s << u"true"_s << u"true"_s;
    QTest::newRow("string") << u"msg"_s << u"ok"_s << u"\"ok\""_s;
    QTest::newRow("string that says true") << u"text"_s << u"true"_s << u"\"true\""_s;
    QTest::newRow("missing") << u"token"_s << QString() << QString();
    QTest::newRow("null") << u"nul"_s << QString() << QString();
    QTest::newRow("number in shortest form") << u"num"_s << u"12.5"_s << u"12.5"_s;
    QTest::newRow("array joined with commas")
        << u"arr"_s << u"1,a,,2,3"_s << u"[1,\"a\",null,[2,3]]"_s;
    QTest::newRow("object") << u"obj"_s << u"[object Object]"_s << u"{\"b\":1,\"a\":2}"_s;
    QTest::newRow("dotted and indexed") << u"data.list[1].id"_s << u"8"_s << u"8"_s;
    QTest::newRow("quoted names") << u"data['list'][0][\"id\"]"_s << u"7"_s << u"7"_s;
    QTest::newRow("name with a blank") << u"['a b']"_s << u"spaced"_s << u"\"spaced\""_s;
    QTest::newRow("Chinese name") << u"名称"_s << u"中文"_s << u"\"中文\""_s;
    QTest::newRow("absolute path from da") << u"da.msg"_s << u"ok"_s << u"\"ok\""_s;
    QTest::newRow("da path that leads nowhere is taken relative")
        << u"da.x"_s << u"inner"_s << u"\"inner\""_s;
    QTest::newRow("name beginning with da is relative") << u"date"_s << u"d"_s << u"\"d\""_s;
    QTest::newRow("index past the end") << u"data.list[5]"_s << QString() << QString();
    QTest::newRow("below a missing member") << u"nothing.below"_s << QString() << QString();
    QTest::newRow("starting with a digit") << u"1abc"_s << QString() << QString();
    QTest::newRow("starting with a dot") << u".msg"_s << QString() << QString();
    QTest::newRow("open bracket") << u"arr[0"_s << QString() << QString();
}

void TestJsonDocument::readsByPath() {
    QFETCH(QString, path);
    QFETCH(QString, text);
    QFETCH(QString, json);

    const JsonDocument document = parsed(kReply);
    QCOMPARE(document.getText(path), text);
    QCOMPARE(document.getText(path, true), json);
    QCOMPARE(document.toJson(path), json);
}

void TestJsonDocument::typeOf_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<JsonType>("type");

    QTest::newRow("root") << QString() << JsonType::Object;
    QTest::newRow("missing member of the root") << u"token"_s << JsonType::Missing;
    QTest::newRow("null member") << u"nul"_s << JsonType::Missing;
    QTest::newRow("below a missing member") << u"token.x"_s << JsonType::Other;
    QTest::newRow("below a null member") << u"nul.x"_s << JsonType::Other;
    QTest::newRow("member of a string") << u"msg.x"_s << JsonType::Missing;
    QTest::newRow("empty array") << u"empty"_s << JsonType::Array;
    QTest::newRow("object") << u"obj"_s << JsonType::Object;
    QTest::newRow("string") << u"msg"_s << JsonType::String;
    QTest::newRow("number") << u"num"_s << JsonType::Number;
    QTest::newRow("boolean") << u"status"_s << JsonType::Boolean;
}

void TestJsonDocument::typeOf() {
    QFETCH(QString, path);
    QFETCH(JsonType, type);
    QCOMPARE(parsed(kReply).typeOf(path), type);
}

void TestJsonDocument::writesNumbersAsScripts_data() {
    QTest::addColumn<QString>("json");
    QTest::addColumn<QString>("text");

    QTest::newRow("integer written as a float") << u"2.0"_s << u"2"_s;
    QTest::newRow("half") << u"0.5"_s << u"0.5"_s;
    QTest::newRow("shortest round trip") << u"0.30000000000000004"_s << u"0.30000000000000004"_s;
    QTest::newRow("large without exponent") << u"1e20"_s << u"100000000000000000000"_s;
    QTest::newRow("exponent from 1e21") << u"1e21"_s << u"1e+21"_s;
    QTest::newRow("exponent with digits") << u"1.5e22"_s << u"1.5e+22"_s;
    QTest::newRow("small without exponent") << u"0.000001"_s << u"0.000001"_s;
    QTest::newRow("small with exponent") << u"1e-7"_s << u"1e-7"_s;
    QTest::newRow("negative") << u"-3.25"_s << u"-3.25"_s;
    QTest::newRow("negative zero") << u"-0.0"_s << u"0"_s;
    QTest::newRow("big integer") << u"9007199254740993"_s << u"9007199254740993"_s;
}

void TestJsonDocument::writesNumbersAsScripts() {
    QFETCH(QString, json);
    QFETCH(QString, text);

    const JsonDocument document = parsed(u"{\"n\":"_s + json + u"}"_s);
    QCOMPARE(document.getText(u"n"_s), text);
    QCOMPARE(document.toText(), u"{\"n\":"_s + text + u"}"_s);
}

void TestJsonDocument::serialisesWithEscapes_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("json");

    QTest::newRow("quote and backslash parsed in") << u"a\"b\\c"_s << u"\"a\\\"b\\\\c\""_s;
    QTest::newRow("control characters") << u"\b\t\n\f\r\x01"_s << u"\"\\b\\t\\n\\f\\r\\u0001\""_s;
    QTest::newRow("invisible format characters")
        << u"\u007f\u00ad\u200b\u200e\u2028\ufeff\ufff0"_s
        << u"\"\\u007f\\u00ad\u200b\\u200e\\u2028\\ufeff\\ufff0\""_s;
    QTest::newRow("slash and Chinese as they are") << u"a/中"_s << u"\"a/中\""_s;
}

// Values come in through parse() so that their backslashes are ordinary characters.
void TestJsonDocument::serialisesWithEscapes() {
    QFETCH(QString, value);
    QFETCH(QString, json);

    JsonDocument document;
    QVERIFY(document.parse(u"{\"v\":"_s + json + u"}"_s));
    QCOMPARE(document.getText(u"v"_s), value);
    QCOMPARE(document.toJson(u"v"_s), json);
}

void TestJsonDocument::failedParseLeavesEmptyResults_data() {
    QTest::addColumn<QString>("text");

    QTest::newRow("empty text") << QString();
    QTest::newRow("null") << u"null"_s;
    QTest::newRow("not JSON") << u"{\"a\":"_s;
    QTest::newRow("trailing text") << u"{} x"_s;
}

void TestJsonDocument::failedParseLeavesEmptyResults() {
    QFETCH(QString, text);

    JsonDocument document = parsed(u"{\"status\":1}"_s);
    QVERIFY(!document.parse(text));
    QCOMPARE(document.getText(u"status"_s), QString());
    QCOMPARE(document.getNumber(u"status"_s), 0.0);
    QCOMPARE(document.toText(), QString());
    QCOMPARE(document.typeOf(QString()), JsonType::Missing);
    QCOMPARE(document.typeOf(u"status"_s), JsonType::Other);
    QCOMPARE(document.arrayCount(QString()), 0);
    QVERIFY(document.memberNames(QString()).isEmpty());
    QVERIFY(!document.setText(u"status"_s, u"x"_s));
}

void TestJsonDocument::changes_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<Change>("change");
    QTest::addColumn<bool>("made");
    QTest::addColumn<QString>("after");

    QTest::newRow("setText adds a string member")
        << u"{}"_s << Change([](JsonDocument& d) { return d.setText(u"a"_s, u"x"_s); }) << true
        << u"{\"a\":\"x\"}"_s;
    QTest::newRow("setText below a missing member changes nothing")
        << u"{}"_s << Change([](JsonDocument& d) { return d.setText(u"a.b"_s, u"x"_s); }) << false
        << u"{}"_s;
    QTest::newRow("setText of JSON where nothing is") << u"{}"_s << Change([](JsonDocument& d) {
        return d.setText(u"a"_s, u"[1,{\"b\":2}]"_s, true);
    }) << true << u"{\"a\":[1,{\"b\":2}]}"_s;
    QTest::newRow("setText of JSON merges into what is there")
        << u"{\"o\":{\"keep\":1,\"sub\":{\"x\":1},\"list\":[1],\"s\":\"old\",\"n\":1}}"_s
        << Change([](JsonDocument& d) {
               return d.setText(
                   u"o"_s, u"{\"sub\":{\"y\":2},\"list\":[2],\"s\":\"new\",\"n\":2,\"add\":true}"_s,
                   true);
           })
        << true
        << u"{\"o\":{\"keep\":1,\"sub\":{\"x\":1,\"y\":2},\"list\":[1,2],\"s\":\"new\",\"n\":2,"
           u"\"add\":true}}"_s;
    QTest::newRow("setText of empty JSON where nothing is")
        << u"{}"_s << Change([](JsonDocument& d) { return d.setText(u"a"_s, QString(), true); })
        << false << u"{}"_s;
    QTest::newRow("setText of text that is not JSON")
        << u"{\"a\":1}"_s
        << Change([](JsonDocument& d) { return d.setText(u"a"_s, u"{oops"_s, true); }) << false
        << u"{\"a\":1}"_s;
    QTest::newRow("setJson replaces") << u"{\"a\":{\"x\":1}}"_s << Change([](JsonDocument& d) {
        return d.setJson(u"a"_s, u"{\"y\":2}"_s);
    }) << true << u"{\"a\":{\"y\":2}}"_s;
    QTest::newRow("push onto a string member makes an array")
        << u"{\"a\":\"s\"}"_s << Change([](JsonDocument& d) { return d.push(u"v"_s, u"a"_s); })
        << true << u"{\"a\":[\"v\"]}"_s;
    QTest::newRow("push onto an array appends") << u"{\"a\":[1]}"_s << Change([](JsonDocument& d) {
        return d.push(u"{\"b\":2}"_s, u"a"_s, true);
    }) << true << u"{\"a\":[1,{\"b\":2}]}"_s;
    QTest::newRow("push keeps quotes and line breaks of the text")
        << u"{\"a\":[]}"_s << Change([](JsonDocument& d) { return d.push(u"it's\n"_s, u"a"_s); })
        << true << u"{\"a\":[\"it's\\n\"]}"_s;
    QTest::newRow("setMember replaces an element")
        << u"{\"a\":[1,2]}"_s
        << Change([](JsonDocument& d) { return d.setMember(1, u"a"_s, u"x"_s); }) << true
        << u"{\"a\":[1,\"x\"]}"_s;
    QTest::newRow("setMember one past the end appends")
        << u"{\"a\":[1]}"_s
        << Change([](JsonDocument& d) { return d.setMember(1, u"a"_s, u"[true]"_s, true); }) << true
        << u"{\"a\":[1,[true]]}"_s;
    QTest::newRow("setMember far past the end is refused")
        << u"{\"a\":[1]}"_s
        << Change([](JsonDocument& d) { return d.setMember(1000000, u"a"_s, u"x"_s); }) << false
        << u"{\"a\":[1]}"_s;
    QTest::newRow("removeMember moves later elements down")
        << u"{\"a\":[1,2,3]}"_s << Change([](JsonDocument& d) { return d.removeMember(0, u"a"_s); })
        << true << u"{\"a\":[2,3]}"_s;
    QTest::newRow("remove deletes a member")
        << u"{\"a\":1,\"b\":2}"_s << Change([](JsonDocument& d) { return d.remove(u"a"_s); })
        << true << u"{\"b\":2}"_s;
    QTest::newRow("remove of an element leaves null")
        << u"{\"a\":[1,2]}"_s << Change([](JsonDocument& d) { return d.remove(u"a[0]"_s); }) << true
        << u"{\"a\":[null,2]}"_s;
    QTest::newRow("setNumber keeps 13 significant digits")
        << u"{}"_s << Change([](JsonDocument& d) { return d.setNumber(u"n"_s, 3.14159265358979); })
        << true << u"{\"n\":3.14159265359}"_s;
    QTest::newRow("setNumber refuses what is not a number")
        << u"{}"_s << Change([](JsonDocument& d) { return d.setNumber(u"n"_s, qQNaN()); }) << false
        << u"{}"_s;
    QTest::newRow("clear") << u"{\"a\":1}"_s << Change([](JsonDocument& d) {
        d.clear();
        return true;
    }) << true << u"{}"_s;
}

void TestJsonDocument::changes() {
    QFETCH(QString, before);
    QFETCH(Change, change);
    QFETCH(bool, made);
    QFETCH(QString, after);

    JsonDocument document = parsed(before);
    QCOMPARE(change(document), made);
    QCOMPARE(document.toText(), after);
}

// Such a backslash comes out as it went in, even inside serialised JSON; one that came in
// through parse() is escaped as usual.
void TestJsonDocument::backslashesStoredAsTextStayPlain() {
    JsonDocument document = parsed(u"{\"parsed\":\"a\\\\b\"}"_s);
    QVERIFY(document.setText(u"path"_s, u"C:\\tools\\x"_s));
    QCOMPARE(document.getText(u"path"_s), u"C:\\tools\\x"_s);
    QCOMPARE(document.toText(), u"{\"parsed\":\"a\\\\b\",\"path\":\"C:\\tools\\x\"}"_s);
    QCOMPARE(document.getDocument(u"path"_s).getText(QString()), u"C:\\tools\\x"_s);
}

void TestJsonDocument::membersInOrderAndCounts() {
    const JsonDocument document = parsed(kReply);
    QCOMPARE(document.memberNames(u"obj"_s), (QStringList{u"b"_s, u"a"_s}));
    QVERIFY(document.memberNames(u"arr"_s).isEmpty());
    QCOMPARE(document.arrayCount(u"data.list"_s), 2);
    QCOMPARE(document.arrayCount(u"obj"_s), 0);
    QCOMPARE(document.getMemberText(1, u"arr"_s), u"a"_s);
    QCOMPARE(document.getMemberText(0, u"arr"_s), QString());
    QCOMPARE(document.getMemberText(0, u"arr"_s, true), u"1"_s);
    QCOMPARE(document.getNumber(u"num"_s), 12.5);
    QCOMPARE(document.getNumber(u"status"_s), 1.0);
    QCOMPARE(document.getNumber(u"msg"_s), 0.0);
}

void TestJsonDocument::documentsTakenOutAreCopies() {
    JsonDocument document = parsed(kReply);
    JsonDocument member = document.getMemberDocument(0, u"data.list"_s);
    QCOMPARE(member.toText(), u"{\"id\":7}"_s);
    QVERIFY(member.setText(u"id"_s, u"changed"_s));
    QCOMPARE(document.getText(u"data.list[0].id"_s), u"7"_s);

    QCOMPARE(document.getDocument(u"obj"_s).toText(), u"{\"b\":1,\"a\":2}"_s);
    QCOMPARE(document.getDocument(u"nothing"_s).typeOf(QString()), JsonType::Missing);
}

void TestJsonDocument::rootArrayIsReadByIndex() {
    JsonDocument document;
    QVERIFY(document.parse(u"[{\"a\":1},\"x\"]"_s));
    QCOMPARE(document.getText(u"[0].a"_s), u"1"_s);
    QCOMPARE(document.getText(u"[1]"_s), u"x"_s);
    QCOMPARE(document.arrayCount(QString()), 2);
    QVERIFY(document.parse(u"5"_s));
    QCOMPARE(document.getText(QString()), u"5"_s);
}

QTEST_GUILESS_MAIN(TestJsonDocument)
#include "tst_json_document.moc"
