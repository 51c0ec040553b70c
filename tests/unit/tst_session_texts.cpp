#include "common/test_home.h"
#include "core/codec/gbk_codec.h"
#include "core/remote/rdp_file.h"
#include "core/remote/server_diagnostics.h"
#include "core/remote/session_commands.h"
#include "core/remote/session_fields.h"
#include "core/remote/tcping_check.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// The .rdp file for 127.0.0.5:3389 and account admin, line by line (tests/fixtures/
// expected.rdp); its line "{password line}" stands for the password line, which is left out
// when the password goes through the client instead.
QStringList expectedRdpLines(const QString& passwordLine) {
    QFile fixture(QStringLiteral(TORVANE_FIXTURES "/expected.rdp"));
    if (!fixture.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList lines = QString::fromUtf8(fixture.readAll()).split(u'\n', Qt::SkipEmptyParts);
    const qsizetype password = lines.indexOf(u"{password line}"_s);
    if (passwordLine.isEmpty())
        lines.removeAt(password);
    else
        lines[password] = passwordLine;
    return lines;
}

QString joinedWithCrLf(const QStringList& lines) {
    QString text;
    for (const QString& line : lines)
        text += line + u"\r\n"_s;
    return text;
}

} // namespace

class TestSessionTexts : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void rdpTextFollowsTheTemplate_data();
    void rdpTextFollowsTheTemplate();
    void accountReplacesAdministratorInTheAddressToo();
    void rdpFileNamesStayInTheFolder_data();
    void rdpFileNamesStayInTheFolder();
    void rdpFileIsGbkWithCrLfAndNoByteOrderMark();
    void puttyGetsThePasswordOnlyThroughItsFile();
    void freeRdpReadsThePasswordFromStandardInput();
    void portPingSplit_data();
    void portPingSplit();
    void tcpingProbesAHundredTimes();
    void blanksAtTheEdgesOfAddressAndPortAreDropped_data();
    void blanksAtTheEdgesOfAddressAndPortAreDropped();
    void addressNeverReadsAsAnOption_data();
    void addressNeverReadsAsAnOption();
    void lineBreaksRefuseTheSession_data();
    void lineBreaksRefuseTheSession();
    void globalPages();
    void clipboardCopies_data();
    void clipboardCopies();

private:
    TestHome home_;
};

void TestSessionTexts::initTestCase() {
    QVERIFY(home_.isValid());
}

void TestSessionTexts::rdpTextFollowsTheTemplate_data() {
    QTest::addColumn<std::optional<QString>>("passwordField");
    QTest::addColumn<QString>("passwordLine");
    QTest::newRow("password through the client") << std::optional<QString>() << QString();
    const QString field = u"01000000D08C9DDF0115D1118C7A00C04FC297EBAB0"_s;
    QTest::newRow("protected password in the file")
        << std::optional<QString>(field) << u"password 51:b:"_s + field;
}

void TestSessionTexts::rdpTextFollowsTheTemplate() {
    QFETCH(std::optional<QString>, passwordField);
    QFETCH(QString, passwordLine);
    const QString text = RdpFile::text(u"127.0.0.5"_s, u"3389"_s, u"admin"_s, passwordField);
    QCOMPARE(text, joinedWithCrLf(expectedRdpLines(passwordLine)));
}

// The account goes in after the address, so the word in the address is replaced as well.
void TestSessionTexts::accountReplacesAdministratorInTheAddressToo() {
    const QString text =
        RdpFile::text(u"administrator.example"_s, u"3389"_s, u"ops"_s, std::nullopt);
    QVERIFY(text.contains(u"\r\nfull address:s:ops.example:3389\r\n"_s));
    QVERIFY(text.contains(u"\r\nusername:s:ops\r\n"_s));
    QVERIFY(!text.contains(u"administrator"_s));
}

void TestSessionTexts::rdpFileNamesStayInTheFolder_data() {
    QTest::addColumn<QString>("serverName");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("chinese") << u"测试"_s << u"测试.rdp"_s;
    QTest::newRow("blanks and dots") << u"web 1.2"_s << u"web 1.2.rdp"_s;
    QTest::newRow("parent folders") << u"../../etc/x"_s << u".._.._etc_x.rdp"_s;
    QTest::newRow("backslash") << u"..\\x"_s << u".._x.rdp"_s;
    QTest::newRow("control characters") << u"a\nb\tc"_s << u"a_b_c.rdp"_s;
    QTest::newRow("reserved on windows") << u"c:d*e?f\"g<h>i|j"_s << u"c_d_e_f_g_h_i_j.rdp"_s;
    QTest::newRow("dot dot") << u".."_s << u"...rdp"_s;
}

void TestSessionTexts::rdpFileNamesStayInTheFolder() {
    QFETCH(QString, serverName);
    QFETCH(QString, fileName);
    QCOMPARE(RdpFile::fileName(serverName), fileName);

    QTemporaryDir folder;
    const QString path = RdpFile::write(folder.path(), serverName, u"x"_s);
    QVERIFY(!path.isEmpty());
    QCOMPARE(QFileInfo(path).dir().canonicalPath(), QDir(folder.path()).canonicalPath());
}

void TestSessionTexts::rdpFileIsGbkWithCrLfAndNoByteOrderMark() {
    QTemporaryDir folder;
    const QString text = RdpFile::text(u"127.0.0.5"_s, u"3389"_s, u"管理员"_s, std::nullopt);
    const QString path = RdpFile::write(folder.path(), u"测试"_s, text);
    QCOMPARE(path, QDir(folder.path()).filePath(u"测试.rdp"_s));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QCOMPARE(bytes, Gbk::encode(text));
    QVERIFY(bytes.startsWith("screen mode id:i:2\r\n"));
    QVERIFY(bytes.contains("username:s:\xB9\xDC\xC0\xED\xD4\xB1\r\n"));
    QCOMPARE(bytes.count('\n'), 35);
    QCOMPARE(bytes.count("\r\n"), 35);
    QCOMPARE(file.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
             QFileDevice::Permissions());
}

void TestSessionTexts::puttyGetsThePasswordOnlyThroughItsFile() {
    const SessionTarget server{u"web"_s, u"127.0.0.7"_s, u"22"_s, u"root"_s, u"p w&\"x'"_s};
    const LaunchRequest request =
        SessionCommands::putty(u"/usr/bin/putty"_s, server, u"/run/t/putty-password-1"_s);
    QCOMPARE(request.program, u"/usr/bin/putty"_s);
    QCOMPARE(request.arguments, (QStringList{u"-ssh"_s, u"root@127.0.0.7"_s, u"-P"_s, u"22"_s,
                                             u"-pwfile"_s, u"/run/t/putty-password-1"_s}));
    QVERIFY(request.standardInput.isEmpty());
    QCOMPARE(SessionCommands::puttyPasswordFileContent(server.password), QByteArray("p w&\"x'\n"));
}

void TestSessionTexts::freeRdpReadsThePasswordFromStandardInput() {
    const LaunchRequest request =
        SessionCommands::freeRdp(u"/usr/bin/xfreerdp"_s, u"/run/t/测试.rdp"_s, u"密 码&1"_s);
    QCOMPARE(request.program, u"/usr/bin/xfreerdp"_s);
    QCOMPARE(request.arguments, (QStringList{u"/run/t/测试.rdp"_s, u"/admin"_s, u"/cert:tofu"_s,
                                             u"/from-stdin:force"_s}));
    QCOMPARE(request.standardInput, u"密 码&1\n"_s.toUtf8());
}

void TestSessionTexts::portPingSplit_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::newRow("host and port") << u"127.0.0.1:8080"_s << u"127.0.0.1"_s << u"8080"_s;
    QTest::newRow("host only") << u"127.0.0.1"_s << u"127.0.0.1"_s << u"80"_s;
    QTest::newRow("extra pieces ignored") << u"127.0.0.1:22:x"_s << u"127.0.0.1"_s << u"22"_s;
    QTest::newRow("final colon") << u"127.0.0.1:"_s << u"127.0.0.1:"_s << u"80"_s;
    QTest::newRow("empty port kept") << u"127.0.0.1::"_s << u"127.0.0.1"_s << QString();
    QTest::newRow("empty host kept") << u":22"_s << QString() << u"22"_s;
}

void TestSessionTexts::portPingSplit() {
    QFETCH(QString, text);
    QFETCH(QString, host);
    QFETCH(QString, port);
    const auto split = ServerDiagnostics::splitPortPing(text);
    QCOMPARE(split.host, host);
    QCOMPARE(split.port, port);
}

void TestSessionTexts::tcpingProbesAHundredTimes() {
    QCOMPARE(ServerDiagnostics::tcpingArguments(u"127.0.0.1"_s, u"8080"_s),
             (QStringList{u"-n"_s, u"100"_s, u"--"_s, u"127.0.0.1"_s, u"8080"_s}));
}

void TestSessionTexts::blanksAtTheEdgesOfAddressAndPortAreDropped_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::newRow("trailing blanks") << u"127.0.0.1 "_s << u"22 "_s;
    QTest::newRow("leading blanks") << u"  127.0.0.1"_s << u" 22"_s;
    QTest::newRow("tabs and a line end") << u"\t127.0.0.1\r\n"_s << u"22\t"_s;
    QTest::newRow("ideographic space") << u"127.0.0.1\u3000"_s << u"\u300022"_s;
}

// Wherever an address or port becomes an argument or a line, its edges are clean.
void TestSessionTexts::blanksAtTheEdgesOfAddressAndPortAreDropped() {
    QFETCH(QString, address);
    QFETCH(QString, port);
    const SessionTarget server{u"web"_s, address, port, u"root"_s, u" pw "_s};
    QCOMPARE(SessionCommands::putty(u"putty"_s, server, u"/f"_s).arguments.mid(1, 3),
             (QStringList{u"root@127.0.0.1"_s, u"-P"_s, u"22"_s}));
    QCOMPARE(ServerDiagnostics::tcpingArguments(address, port).mid(3),
             (QStringList{u"127.0.0.1"_s, u"22"_s}));
    QCOMPARE(TcpingCheck::arguments(address, port).mid(4), (QStringList{u"127.0.0.1"_s, u"22"_s}));
    QVERIFY(RdpFile::text(address, port, u"root"_s, std::nullopt)
                .contains(u"\r\nfull address:s:127.0.0.1:22\r\n"_s));
    // The password is the user's own: its blanks stay.
    QCOMPARE(SessionCommands::puttyPasswordFileContent(server.password), QByteArray(" pw \n"));
}

void TestSessionTexts::addressNeverReadsAsAnOption_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("expected");
    const QString address = u"-oProxyCommand=x"_s;
    QTest::newRow("tcping console") << ServerDiagnostics::tcpingArguments(address, u"-n"_s)
                                    << QStringList{u"-n"_s, u"100"_s, u"--"_s, address, u"-n"_s};
    QTest::newRow("tcping probe") << TcpingCheck::arguments(address, u"22"_s)
                                  << QStringList{u"tcping"_s, u"-n"_s, u"1"_s,
                                                 u"--"_s,     address, u"22"_s};
    // PuTTY: the address is behind the account, the port is the value of -P.
    QTest::newRow("putty") << SessionCommands::putty(
                                  u"putty"_s, {u"w"_s, address, u"-22"_s, u"root"_s, {}}, u"/f"_s)
                                  .arguments
                           << QStringList{u"-ssh"_s, u"root@"_s + address, u"-P"_s,
                                          u"-22"_s,  u"-pwfile"_s,         u"/f"_s};
}

void TestSessionTexts::addressNeverReadsAsAnOption() {
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, expected);
    QCOMPARE(arguments, expected);
}

void TestSessionTexts::lineBreaksRefuseTheSession_data() {
    QTest::addColumn<SessionTarget>("server");
    QTest::addColumn<QString>("field");
    const SessionTarget safe{u"web"_s, u"127.0.0.5"_s, u"3389"_s, u"admin"_s, u"p w&\t1"_s};
    auto with = [&](auto member, const QString& value) {
        SessionTarget server = safe;
        server.*member = value;
        return server;
    };
    QTest::newRow("all safe") << safe << QString();
    QTest::newRow("line ends at the address edges")
        << with(&SessionTarget::address, u"127.0.0.5\r\n"_s) << QString();
    QTest::newRow("line break in a name") << with(&SessionTarget::name, u"a\nb"_s) << QString();
    QTest::newRow("LF in the password")
        << with(&SessionTarget::password, u"pass\nword"_s) << u"密码"_s;
    QTest::newRow("CR in the password")
        << with(&SessionTarget::password, u"pass\rword"_s) << u"密码"_s;
    QTest::newRow("password ending in LF")
        << with(&SessionTarget::password, u"password\n"_s) << u"密码"_s;
    QTest::newRow("NUL in the password")
        << with(&SessionTarget::password, u"pass"_s + QChar(u'\0') + u"word"_s) << u"密码"_s;
    QTest::newRow("setting smuggled in the account")
        << with(&SessionTarget::user, u"admin\r\nalternate shell:s:cmd.exe"_s) << u"用户名"_s;
    QTest::newRow("LF inside the address")
        << with(&SessionTarget::address, u"127.0.0.5\nalternate shell:s:x"_s) << u"服务器IP"_s;
    QTest::newRow("LF inside the port")
        << with(&SessionTarget::port, u"3389\nx:s:1"_s) << u"端口"_s;
}

void TestSessionTexts::lineBreaksRefuseTheSession() {
    QFETCH(SessionTarget, server);
    QFETCH(QString, field);
    const auto refusal = SessionFields::lineBreakRefusal(server);
    if (field.isEmpty()) {
        QVERIFY(!refusal);
        return;
    }
    QVERIFY(refusal);
    QVERIFY2(refusal->message.contains(field + u"中含有换行符"_s), qPrintable(refusal->message));
    QVERIFY(refusal->logMessage.startsWith(u"-"_s + field));
    QVERIFY(!refusal->logMessage.contains(u'\n') && !refusal->logMessage.contains(u'\r'));
}

void TestSessionTexts::globalPages() {
    const QString site = u"https://"_s + ServerDiagnostics::kGlobalPingHost;
    QCOMPARE(ServerDiagnostics::globalPingAddress(u"127.0.0.5"_s), site + u"/ping/?ip=127.0.0.5"_s);
    QCOMPARE(ServerDiagnostics::globalTcpingAddress(u"127.0.0.5"_s, u"3389"_s),
             site + u"/tcping/?ip=127.0.0.5:3389"_s);
}

void TestSessionTexts::clipboardCopies_data() {
    QTest::addColumn<ServerDiagnostics::ClipboardCopy>("copy");
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<QString>("logLine");
    QTest::newRow("address") << ServerDiagnostics::copyAddress(u"127.0.0.5"_s) << u"127.0.0.5"_s
                             << u"IP 127.0.0.5 复制成功\r\n"_s;
    QTest::newRow("no row selected")
        << ServerDiagnostics::copyAddress({}) << QString() << u"IP  复制成功\r\n"_s;
    QTest::newRow("address and port")
        << ServerDiagnostics::copyAddressAndPort(u"127.0.0.5"_s, u"3389"_s) << u"127.0.0.5:3389"_s
        << u"IP:端口 127.0.0.5:3389 复制成功\r\n"_s;
    QTest::newRow("login") << ServerDiagnostics::copyLogin(u"127.0.0.5"_s, u"3389"_s, u"admin"_s,
                                                           u"p w"_s)
                           << u"IP:端口 127.0.0.5:3389\r\n账号:admin密码:p w"_s
                           << u"IP:端口 127.0.0.5:3389\r\n账号:admin密码:p w 复制成功\r\n"_s;
}

void TestSessionTexts::clipboardCopies() {
    QFETCH(ServerDiagnostics::ClipboardCopy, copy);
    QFETCH(QString, clipboard);
    QFETCH(QString, logLine);
    QCOMPARE(copy.clipboard, clipboard);
    QCOMPARE(copy.logLine, logLine);
}

QTEST_GUILESS_MAIN(TestSessionTexts)
#include "tst_session_texts.moc"
