// The main window on Windows as a user has it: the program's folder holds a GBK myserver.db
// written earlier (portable use), the list shows its servers with their Chinese names, and
// "登录服务器" starts mstsc and PuTTY and presses their dialogs. The clients are stand-ins beside
// this program (putty.exe is also found on PATH, as an installed PuTTY is): they raise the
// real clients' dialogs and write down their command line and the file they were given.

#include "core/app_context.h"
#include "core/codec/gbk_codec.h"
#include "gbk_server_list.h"
#include "ui/app/application.h"
#include "ui/app/list_columns.h"
#include "ui/app/main_window.h"
#include "ui/app/prompt.h"
#include "ui/app/server_list_view.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <windows.h>

#include <dpapi.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int kServers = 4;
// The launchers look for a dialog up to ten times, one second apart.
constexpr int kWaitMs = 30'000;

// What a stand-in wrote down, line by line: "command line", "file" and each "pressed".
struct Record {
    QString commandLine;
    QByteArray file;
    QStringList pressed;
};

Record readRecord(const QString& path) {
    QFile file(path);
    Record record;
    if (!file.open(QIODevice::ReadOnly))
        return record;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        if (line.startsWith(u"command line: "_s))
            record.commandLine = line.mid(14);
        else if (line.startsWith(u"file: "_s))
            record.file = QByteArray::fromHex(line.mid(6).toLatin1());
        else if (!line.isEmpty())
            record.pressed << line;
    }
    return record;
}

// The password that the blob of a .rdp password line protects (the blob in hexadecimal, then
// one more "0"), as UTF-16 code units up to the first zero; empty when it does not unprotect.
QString unprotectedPassword(const QString& field) {
    if (!field.endsWith(u'0') || field.size() % 2 == 0)
        return {};
    QByteArray blob = QByteArray::fromHex(field.chopped(1).toLatin1());
    DATA_BLOB in{DWORD(blob.size()), reinterpret_cast<BYTE*>(blob.data())};
    DATA_BLOB out{};
    if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, 0, &out))
        return {};
    const QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(out.pbData),
                                            qsizetype(out.cbData / 2));
    LocalFree(out.pbData);
    return text.left(text.indexOf(QChar(0)));
}

} // namespace

class TestWinMainWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void listShowsTheChineseNames();
    void sshLoginPressesPuttysHostKeyDialog();
    void rdpLoginPressesBothDialogs();

private:
    Record loginThrough(const QString& serverName, const QString& client);
    QString logText() const;

    QTemporaryDir records_;
    QString listFile_;
    QStringList prompts_;
    std::unique_ptr<AppContext> context_;
    std::unique_ptr<MainWindow> window_;
};

void TestWinMainWindow::initTestCase() {
    QVERIFY(records_.isValid());
    qputenv("TORVANE_STAND_IN_RECORDS", QDir::toNativeSeparators(records_.path()).toLocal8Bit());
    // No data folder named: the program's folder, where a portable copy keeps its list.
    context_ = std::make_unique<AppContext>(AppContext::Settings{{}, u"http://127.0.0.1:1"_s});
    const QString programFolder = QCoreApplication::applicationDirPath();
    QCOMPARE(context_->dataFolder(), programFolder);
    listFile_ = QDir(programFolder).filePath(u"myserver.db"_s);
    QVERIFY(GbkServerList::write(listFile_, kServers));

    Prompt::setResponder([this](const PromptRequest& request) {
        prompts_ << request.text;
        return QMessageBox::Ok;
    });
    window_ = std::make_unique<MainWindow>(*context_);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QTRY_COMPARE(window_->serverList()->model()->rowCount(), kServers);
}

void TestWinMainWindow::cleanupTestCase() {
    window_.reset();
    Prompt::setResponder({});
    QFile::remove(listFile_);
}

void TestWinMainWindow::listShowsTheChineseNames() {
    QCOMPARE(window_->windowTitle(), u"Torvane-服务器管理工具"_s);
    const ServerListView* list = window_->serverList();
    QStringList names;
    for (int row = 0; row < kServers; ++row) {
        names << list->cell(row, ListColumn::Name);
        QCOMPARE(list->cell(row, ListColumn::Group), u"生产服务器"_s);
        QCOMPARE(list->cell(row, ListColumn::Remark), u"备注"_s);
    }
    names.sort();
    QCOMPARE(names,
             (QStringList{u"测试服务器1"_s, u"测试服务器2"_s, u"测试服务器3"_s, u"测试服务器4"_s}));
    QVERIFY(prompts_.isEmpty());
}

// PuTTY gets the account, address and port on its command line and the password in a file
// that is gone once its host-key dialog has been pressed.
void TestWinMainWindow::sshLoginPressesPuttysHostKeyDialog() {
    const Record record = loginThrough(u"测试服务器2"_s, u"putty"_s);
    QVERIFY2(record.commandLine.contains(u" -ssh root@127.0.0.3 -P 22 -pwfile "_s),
             qPrintable(record.commandLine));
    QVERIFY(!record.commandLine.contains(QString::fromLatin1(GbkServerList::kLinuxPassword)));
    QCOMPARE(record.file, GbkServerList::kLinuxPassword + '\n');
    QCOMPARE(record.pressed, QStringList{u"pressed: &Accept"_s});
    QVERIFY(logText().contains(u"-拦截到按钮:"_s));
    QVERIFY(logText().contains(u"-正在自动点击"_s));
    const QString passwordFile = record.commandLine.section(u" -pwfile "_s, 1).trimmed();
    QTRY_VERIFY2(!QFile::exists(passwordFile), qPrintable(passwordFile));
    QVERIFY(prompts_.isEmpty());
}

// mstsc gets the .rdp file in the tool folder, written in GBK, whose password line
// unprotects to the server's password; both of its dialogs are pressed in turn.
void TestWinMainWindow::rdpLoginPressesBothDialogs() {
    const Record record = loginThrough(u"测试服务器1"_s, u"mstsc"_s);
    QVERIFY2(record.commandLine.startsWith(u"mstsc "_s), qPrintable(record.commandLine));
    QVERIFY2(record.commandLine.endsWith(u"测试服务器1.rdp /console"_s),
             qPrintable(record.commandLine));
    const QStringList lines = Gbk::decode(record.file).split(u"\r\n"_s);
    QVERIFY(lines.contains(u"username:s:administrator"_s));
    QVERIFY(lines.contains(u"full address:s:127.0.0.2:3389"_s));
    const QStringList passwordLines = lines.filter(u"password 51:b:"_s);
    QCOMPARE(passwordLines.size(), 1);
    QCOMPARE(unprotectedPassword(passwordLines[0].mid(14)), u"p密码 w&=1"_s);
    QCOMPARE(record.pressed, (QStringList{u"pressed: 连接(&N)"_s, u"pressed: 是(&Y)"_s}));
    QCOMPARE(logText().count(u"-拦截到弹窗:"_s), 2);
    QVERIFY(prompts_.isEmpty());
}

// "登录服务器" on the server of that name, and what the stand-in `client` wrote down; empty
// when it wrote nothing in time.
Record TestWinMainWindow::loginThrough(const QString& serverName, const QString& client) {
    ServerListView* list = window_->serverList();
    for (int row = 0; row < list->model()->rowCount(); ++row) {
        if (list->cell(row, ListColumn::Name) == serverName) {
            list->view()->setCurrentIndex(list->model()->index(row, ListColumn::Name));
            list->menuAction(ServerListView::MenuItem::Login)->trigger();
        }
    }
    const QString recordFile = QDir(records_.path()).filePath(client + u".txt"_s);
    if (!QTest::qWaitFor([&] { return QFile::exists(recordFile); }, kWaitMs))
        return {};
    return readRecord(recordFile);
}

QString TestWinMainWindow::logText() const {
    return window_->findChild<QPlainTextEdit*>(u"编辑框1"_s)->toPlainText();
}

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    setUpApplication(app);
    TestWinMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_win_main_window.moc"
