#include "common/test_home.h"
#include "core/remote/command_runner.h"
#include "core/remote/embedded_tools.h"
#include "core/remote/special_folder.h"
#include "core/remote/tool_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestCommandRunner : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void capturesWhatTheProgramPrints_data();
    void capturesWhatTheProgramPrints();
    void argumentsAreNeverShellCommands();
    void toolFolderIsPrivate();
    void extractWritesOnlyMissingTools();

private:
    TestHome home_;
};

void TestCommandRunner::initTestCase() {
    QVERIFY(home_.isValid());
}

void TestCommandRunner::capturesWhatTheProgramPrints_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("output");
    QTest::newRow("both streams in order")
        << u"/bin/sh"_s
        << QStringList{u"-c"_s, u"echo out; sleep 0.2; echo err >&2; sleep 0.2; echo out2"_s}
        << u"out\nerr\nout2\n"_s;
    QTest::newRow("prints nothing") << u"/bin/true"_s << QStringList{} << QString();
    QTest::newRow("zero byte ends its chunk")
        << u"/bin/sh"_s << QStringList{u"-c"_s, u"printf 'ab\\0cd'; sleep 0.3; printf 'ef'"_s}
        << u"abef"_s;
    QTest::newRow("missing program") << u"/nonexistent/tool"_s << QStringList{} << QString();
    QTest::newRow("non-ASCII text")
        << u"/bin/echo"_s << QStringList{u"默认分组"_s} << u"默认分组\n"_s;
}

void TestCommandRunner::capturesWhatTheProgramPrints() {
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QString, output);
    QCOMPARE(CommandRunner::run(program, arguments), output);
}

void TestCommandRunner::argumentsAreNeverShellCommands() {
    QTemporaryDir dir;
    const QString marker = dir.filePath(u"ran"_s);
    const QString hostile = u"127.0.0.1; touch %1 && echo $(touch %1)"_s.arg(marker);
    QCOMPARE(CommandRunner::run(u"/bin/echo"_s, {hostile}), hostile + u'\n');
    QVERIFY(!QFile::exists(marker));
}

void TestCommandRunner::toolFolderIsPrivate() {
    const QString folder = toolFolder();
    QCOMPARE(folder, QDir(qEnvironmentVariable("XDG_RUNTIME_DIR")).filePath(u"torvane"_s));
    QCOMPARE(SpecialFolder::path(SpecialFolder::kTemp), folder);
    QCOMPARE(SpecialFolder::name(SpecialFolder::kTemp), u"Temp"_s);
    QCOMPARE(SpecialFolder::name(43), u"软件安装目录"_s);
    QCOMPARE(SpecialFolder::path(44), QString());
    // Only this user may read, write or enter it: no group or other bits.
    const auto groupAndOther = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                               QFileDevice::ExeGroup | QFileDevice::ReadOther |
                               QFileDevice::WriteOther | QFileDevice::ExeOther;
    QCOMPARE(QFileInfo(folder).permissions() & groupAndOther, QFileDevice::Permissions());
    QVERIFY(QFileInfo(folder).permissions() & QFileDevice::ExeOwner);

    // A folder made with wider rights is tightened.
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                      QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                      QFileDevice::ExeOther);
    toolFolder();
    QVERIFY(!(QFileInfo(folder).permissions() & QFileDevice::ReadOther));
}

void TestCommandRunner::extractWritesOnlyMissingTools() {
    const QString tcping = EmbeddedTools::tcpingPath();
    QFile::remove(tcping);
    EmbeddedTools::extract();
    QVERIFY(QFileInfo(tcping).isExecutable());
    QVERIFY(CommandRunner::run(tcping, {u"tcping"_s, u"-n"_s, u"1"_s, u"127.0.0.1"_s, u"1"_s})
                .contains(u"refused"_s));

    // An existing file, whatever it holds, is left alone.
    {
        QFile file(tcping);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("older tool");
    }
    EmbeddedTools::extract();
    QFile file(tcping);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("older tool"));
    QCOMPARE(QDir(toolFolder()).entryList(QDir::Files | QDir::Hidden), QStringList{u"tcping"_s});
}

QTEST_GUILESS_MAIN(TestCommandRunner)
#include "tst_command_runner.moc"
