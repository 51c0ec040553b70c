#include "common/test_home.h"
#include "core/remote/rdp_file.h"
#include "core/remote/server_diagnostics.h"
#include "core/remote/session_commands.h"
#include "core/support/gbk_codec.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// The .rdp file for 127.0.0.5:3389 and account admin, line by line; line 7 is the password
// line.
QStringList expectedRdpLines(const QString& passwordLine) {
    QStringList lines = {u"screen mode id:i:2"_s,
                         u"winposstr:s:0,1,364,170,2300,1289"_s,
                         u"compression:i:1"_s,
                         u"use multimon:i:0"_s,
                         u"username:s:admin"_s,
                         u"full address:s:127.0.0.5:3389"_s,
                         passwordLine,
                         u"session bpp:i:32"_s,
                         u"displayconnectionbar:i:1"_s,
                         u"keyboardhook:i:2"_s,
                         u"audiocapturemode:i:0"_s,
                         u"audiomode:i:0"_s,
                         u"videoplaybackmode:i:1"_s,
                         u"networkautodetect:i:1"_s,
                         u"bandwidthautodetect:i:1"_s,
                         u"enableworkspacereconnect:i:0"_s,
                         u"disable cursor setting:i:0"_s,
                         u"connection type:i:7"_s,
                         u"disable wallpaper:i:0"_s,
                         u"allow font smoothing:i:0"_s,
                         u"allow desktop composition:i:0"_s,
                         u"disable full window drag:i:1"_s,
                         u"disable menu anims:i:1"_s,
                         u"disable themes:i:0"_s,
                         u"bitmapcachepersistenable:i:1"_s,
                         u"autoreconnection enabled:i:1"_s,
                         u"redirectprinters:i:1"_s,
                         u"redirectclipboard:i:1"_s,
                         u"redirectcomports:i:0"_s,
                         u"redirectsmartcards:i:1"_s,
                         u"redirectposdevices:i:0"_s,
                         u"authentication level:i:2"_s,
                         u"prompt for credentials:i:1"_s,
                         u"enablecredsspsupport:i:0"_s,
                         u"allowconnection:i:1"_s,
                         u"certificate-ignore-flags:dw:0x20000"_s};
    if (passwordLine.isEmpty())
        lines.removeAt(6);
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
             (QStringList{u"-n"_s, u"100"_s, u"127.0.0.1"_s, u"8080"_s}));
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
