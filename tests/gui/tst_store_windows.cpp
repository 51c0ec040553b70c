#include "common/gui_test_main.h"
#include "common/main_window_start.h"
#include "common/test_home.h"
#include "core/codec/gbk_codec.h"
#include "core/store/batch_export.h"
#include "core/store/data_folder.h"
#include "core/store/local_store.h"
#include "core/store/store_connection.h"
#include "ui/app/application.h"
#include "ui/app/main_window.h"
#include "ui/app/prompt.h"
#include "ui/app/server_list_view.h"
#include "ui/store/batch_window.h"
#include "ui/store/group_manager.h"
#include "ui/store/group_windows.h"
#include "ui/store/server_editor.h"
#include "ui/store/server_editor_window.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

template <typename T> T* child(QWidget* parent, const char16_t* name) {
    return parent->findChild<T*>(QString::fromUtf16(name));
}

QStringList column(ServerListView* list, int c) {
    QStringList texts;
    for (int row = 0; row < list->model()->rowCount(); ++row)
        texts << list->cell(row, c);
    return texts;
}

int countServers(const QString& path, const QString& condition = u"1"_s,
                 const QStringList& values = {}) {
    StoreConnection db;
    if (!db.open(path))
        return -1;
    const auto rows = db.query(u"SELECT count(*) FROM server_data WHERE "_s + condition, values);
    return rows ? rows->rows.value(0).value(0).toInt() : -1;
}

// Runs `act` on the next modal window once it is shown, then closes that window.
void onNextModal(std::function<void(QWidget*)> act) {
    QTimer::singleShot(0, [act] {
        QWidget* modal = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((modal = QApplication::activeModalWidget()) != nullptr, 5000);
        act(modal);
        modal->close();
    });
}

} // namespace

class TestStoreWindows : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void addWindowDefaults();
    void addWindowSystemSwitchAndAddressSplit_data();
    void addWindowSystemSwitchAndAddressSplit();
    void addressTypedKeyByKey_data();
    void addressTypedKeyByKey();
    void addServerRefusesDuplicatesAndBadSortKeys();
    void editorsRefuseCharactersTheStoreCannotKeep_data();
    void editorsRefuseCharactersTheStoreCannotKeep();
    void modifyWindowShowsOwnGroupFirstAndSaves();
    void modifySavesToServerItWasOpenedFor();
    void deleteAndBatchDelete();
    void groupsAddRenameDelete();
    void batchAddLines();
    void closingBatchWindowAsksAndReports();
    void pasteOfAnEmptyClipboardKeepsTheBox();
    void exportThenImport();
    void importDecodesFiles_data();
    void importDecodesFiles();
    void buttonsOpenTheirWindows();
    void lockHeldElsewhereEndsInAMessage_data();
    void lockHeldElsewhereEndsInAMessage();

private:
    void waitForList();

    TestHome home_;
    std::unique_ptr<MainWindow> window_;
    ServerListView* list_ = nullptr;
    QList<PromptRequest> prompts_;
    QStringList log_;
};

void TestStoreWindows::initTestCase() {
    QVERIFY(home_.isValid());
}

void TestStoreWindows::init() {
    QFile::remove(home_.databasePath());
    prompts_.clear();
    Prompt::setResponder([this](const PromptRequest& r) {
        prompts_ << r;
        return QMessageBox::Ok;
    });
    window_ = std::make_unique<MainWindow>(home_.context());
    list_ = window_->serverList();
    QVERIFY(showAndWaitForFirstFill(*window_));
}

void TestStoreWindows::cleanup() {
    window_.reset();
    // A change a test reported is delivered now, to no window, rather than to the next
    // test's window while it starts on a new file.
    QCoreApplication::sendPostedEvents();
    Prompt::setResponder({});
}

void TestStoreWindows::waitForList() {
    QTest::qWait(20);
    QTRY_VERIFY_WITH_TIMEOUT(!list_->isFilling(), 15000);
}

void TestStoreWindows::addWindowDefaults() {
    ServerEditorWindow add(ServerEditorWindow::Mode::Add, home_.context());
    window_->serverEditor()->prepareAddWindow(add);
    // The groups are read on the store's thread; the window waits for them.
    QVERIFY(add.isWaiting());
    QVERIFY(!child<QPushButton>(&add, u"按钮1")->isEnabled());
    QTRY_VERIFY(!add.isWaiting());
    QVERIFY(child<QPushButton>(&add, u"按钮1")->isEnabled());
    QCOMPARE(add.width(), 392);
    QCOMPARE(child<QLineEdit>(&add, u"服务器端口输入框")->text(), u"3389"_s);
    QCOMPARE(child<QLineEdit>(&add, u"服务器用户名输入框")->text(), u"administrator"_s);
    QCOMPARE(child<QLineEdit>(&add, u"排序输入框")->text(), u"50"_s);
    QCOMPARE(child<QLineEdit>(&add, u"备注输入框")->text(), u"无"_s);
    QVERIFY(child<QRadioButton>(&add, u"单选框1")->isChecked());
    const QString start = child<QLineEdit>(&add, u"开始时间输入框")->text();
    const QString end = child<QLineEdit>(&add, u"到期时间输入框")->text();
    QVERIFY(QRegularExpression(u"^\\d{4}-[1-9]\\d?-[1-9]\\d? \\d{1,2}:\\d{1,2}:\\d{1,2}$"_s)
                .match(start)
                .hasMatch());
    QCOMPARE(end.section(u'-', 0, 0).toInt(), start.section(u'-', 0, 0).toInt() + 1);
    QCOMPARE(end.section(u'-', 1), start.section(u'-', 1));
    auto* groups = child<QComboBox>(&add, u"服务器分组框");
    QCOMPARE(groups->count(), 1);
    QCOMPARE(groups->currentText(), u"默认分组"_s);

    child<QPushButton>(&add, u"按钮2")->click();
    QCOMPARE(add.width(), 765);
    QVERIFY(child<QPushButton>(&add, u"按钮2")->isHidden());
    QCOMPARE(child<QPushButton>(&add, u"按钮1")->x(), 136);
}

void TestStoreWindows::addWindowSystemSwitchAndAddressSplit_data() {
    QTest::addColumn<QString>("typedPort");
    QTest::addColumn<QString>("typedUser");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("user");
    QTest::newRow("defaults follow") << u"3389"_s << u"administrator"_s << u"22"_s << u"root"_s;
    QTest::newRow("typed port stays") << u"2222"_s << u"administrator"_s << u"2222"_s << u"root"_s;
    QTest::newRow("empty boxes filled") << QString() << QString() << u"22"_s << u"root"_s;
    QTest::newRow("typed account stays") << u"3389"_s << u"ops"_s << u"22"_s << u"ops"_s;
}

void TestStoreWindows::addWindowSystemSwitchAndAddressSplit() {
    QFETCH(QString, typedPort);
    QFETCH(QString, typedUser);
    QFETCH(QString, port);
    QFETCH(QString, user);
    ServerEditorWindow add(ServerEditorWindow::Mode::Add, home_.context());
    auto* portBox = child<QLineEdit>(&add, u"服务器端口输入框");
    auto* userBox = child<QLineEdit>(&add, u"服务器用户名输入框");
    portBox->setText(typedPort);
    userBox->setText(typedUser);
    child<QRadioButton>(&add, u"单选框2")->click();
    QCOMPARE(portBox->text(), port);
    QCOMPARE(userBox->text(), user);

    child<QLineEdit>(&add, u"服务器IP输入框")->setText(u"127.0.0.5:2200:9"_s);
    QCOMPARE(child<QLineEdit>(&add, u"服务器IP输入框")->text(), u"127.0.0.5"_s);
    QCOMPARE(portBox->text(), u"2200"_s);
}

// Keys go where the focus is, as a person's typing does: after the split the port box has it.
void TestStoreWindows::addressTypedKeyByKey_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::newRow("two-digit port") << u"127.0.0.5:22"_s << u"127.0.0.5"_s << u"22"_s;
    QTest::newRow("rdp port") << u"127.0.0.41:3389"_s << u"127.0.0.41"_s << u"3389"_s;
    QTest::newRow("no port") << u"127.0.0.9"_s << u"127.0.0.9"_s << u"3389"_s;
}

void TestStoreWindows::addressTypedKeyByKey() {
    QFETCH(QString, typed);
    QFETCH(QString, address);
    QFETCH(QString, port);
    ServerEditorWindow add(ServerEditorWindow::Mode::Add, home_.context());
    add.show();
    QVERIFY(QTest::qWaitForWindowActive(&add));
    auto* addressBox = child<QLineEdit>(&add, u"服务器IP输入框");
    addressBox->setFocus();
    for (const QChar key : typed)
        QTest::keyClick(add.focusWidget(), key.toLatin1());
    QCOMPARE(addressBox->text(), address);
    QCOMPARE(child<QLineEdit>(&add, u"服务器端口输入框")->text(), port);
}

void TestStoreWindows::addServerRefusesDuplicatesAndBadSortKeys() {
    ServerEditorWindow add(ServerEditorWindow::Mode::Add, home_.context());
    ServerEditor* editor = window_->serverEditor();
    editor->prepareAddWindow(add);
    QTRY_VERIFY(!add.isWaiting());
    auto submit = [&] {
        editor->addServer(add);
        QTRY_VERIFY(!add.isWaiting());
    };
    child<QLineEdit>(&add, u"服务器IP输入框")->setText(u"127.0.0.5"_s);
    child<QLineEdit>(&add, u"服务器名称输入框")->setText(u"O'Brien's box"_s);
    // The row comes in waiting for its probe, which may have answered by the time the add
    // window is ready again.
    QStringList statusOnArrival;
    const auto arrivals = connect(list_->model(), &QAbstractItemModel::rowsInserted, this,
                                  [&](const QModelIndex&, int first) {
                                      statusOnArrival << list_->cell(first, ListColumn::Status);
                                  });
    submit();
    disconnect(arrivals);
    QCOMPARE(prompts_.last().text, u"添加成功"_s);
    QCOMPARE(countServers(home_.databasePath()), 1);
    QCOMPARE(list_->model()->rowCount(), 1);
    QCOMPARE(list_->cell(0, ListColumn::Name), u"O'Brien's box"_s);
    QCOMPARE(list_->cell(0, ListColumn::Id), u"6"_s);
    QCOMPARE(statusOnArrival, QStringList{u"等待检测"_s});

    // Same address and port: refused quietly, with a log line only.
    const int boxes = int(prompts_.size());
    submit();
    QCOMPARE(prompts_.size(), boxes);
    QCOMPARE(countServers(home_.databasePath()), 1);
    QTRY_VERIFY(
        child<QPlainTextEdit>(window_.get(), u"编辑框1")->toPlainText().contains(u"-S_ID 6\n"_s));
    QTRY_VERIFY(child<QPlainTextEdit>(window_.get(), u"编辑框1")
                    ->toPlainText()
                    .contains(u"-指定服务器IP已经存在 添加失败"_s));

    child<QLineEdit>(&add, u"服务器端口输入框")->setText(u"3390"_s);
    submit();
    QCOMPARE(countServers(home_.databasePath()), 2);

    child<QLineEdit>(&add, u"服务器端口输入框")->setText(u"3391"_s);
    child<QLineEdit>(&add, u"排序输入框")->clear();
    submit();
    QCOMPARE(prompts_.last().text, u"添加失败"_s);
    QCOMPARE(countServers(home_.databasePath()), 2);
}

void TestStoreWindows::editorsRefuseCharactersTheStoreCannotKeep_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("message");

    QTest::newRow("emoji in the remark")
        << u"备注输入框"_s << u"好😀"_s << u"备注信息含有无法保存的字符：😀"_s;
    QTest::newRow("several in the name")
        << u"服务器名称输入框"_s << u"😀a½😀"_s << u"服务器名称含有无法保存的字符：😀、½"_s;
    QTest::newRow("in the password")
        << u"服务器密码输入框"_s << u"pw😀"_s << u"服务器密码含有无法保存的字符：😀"_s;
    QTest::newRow("in the panel key")
        << u"接口密钥编辑框"_s << u"k😀"_s << u"接口密钥含有无法保存的字符：😀"_s;
}

// A character GBK lacks would be stored as "?": the add and modify windows name the field
// and the character instead, write nothing and stay open; so do the group windows.
void TestStoreWindows::editorsRefuseCharactersTheStoreCannotKeep() {
    QFETCH(QString, box);
    QFETCH(QString, value);
    QFETCH(QString, message);
    const QString expected = message + u"，请删除或换掉这些字符后再保存"_s;

    ServerEditorWindow add(ServerEditorWindow::Mode::Add, home_.context());
    add.show();
    ServerEditor* editor = window_->serverEditor();
    editor->prepareAddWindow(add);
    QTRY_VERIFY(!add.isWaiting());
    child<QLineEdit>(&add, u"服务器IP输入框")->setText(u"127.0.0.6"_s);
    add.findChild<QLineEdit*>(box)->setText(value);
    editor->addServer(add);
    QCOMPARE(prompts_.last().text, expected);
    QCOMPARE(countServers(home_.databasePath()), 0);
    QCOMPARE(list_->model()->rowCount(), 0);
    QVERIFY(add.isVisible());

    add.findChild<QLineEdit*>(box)->setText(u"无"_s);
    editor->addServer(add);
    QTRY_VERIFY(!add.isWaiting());
    QCOMPARE(prompts_.last().text, u"添加成功"_s);
    list_->view()->setCurrentIndex(list_->model()->index(0, 0));
    ServerEditorWindow modify(ServerEditorWindow::Mode::Modify, home_.context());
    modify.show();
    editor->prepareModifyWindow(modify);
    QTRY_VERIFY(!modify.isWaiting());
    modify.findChild<QLineEdit*>(box)->setText(value);
    editor->saveServer(modify);
    QCOMPARE(prompts_.last().text, expected);
    QVERIFY(modify.isVisible());
    QCOMPARE(countServers(home_.databasePath(), u"server_ip='127.0.0.6'"_s), 1);
    QCOMPARE(countServers(home_.databasePath(),
                          u"instr(server_name || remark || server_pass || baota_apikey, '?')"_s),
             0);

    window_->groupManager()->addGroup(value, u"1"_s);
    QCOMPARE(prompts_.last().text,
             u"分组名称含有无法保存的字符：%1，请删除或换掉这些字符后再保存"_s.arg(
                 message.section(u'：', 1)));
}

void TestStoreWindows::modifyWindowShowsOwnGroupFirstAndSaves() {
    {
        LocalStore store;
        QVERIFY(store.open(home_.databasePath()));
        ServerRecord s;
        s.ip = u"127.0.0.7"_s;
        s.port = u"22"_s;
        s.group = u"默认分组"_s;
        s.sort = u"50"_s;
        s.system = u"linux"_s;
        QVERIFY(store.insertBatchServer(s, false));
    }
    list_->reload();
    waitForList();
    list_->view()->setCurrentIndex(list_->model()->index(0, 0));

    ServerEditorWindow modify(ServerEditorWindow::Mode::Modify, home_.context());
    window_->serverEditor()->prepareModifyWindow(modify);
    QTRY_VERIFY(!modify.isWaiting());
    auto* groups = child<QComboBox>(&modify, u"服务器分组框");
    QCOMPARE(groups->count(), 2);
    QCOMPARE(groups->itemText(0), u"默认分组"_s);
    QCOMPARE(groups->itemText(1), u"默认分组"_s);
    QVERIFY(child<QRadioButton>(&modify, u"单选框2")->isChecked());
    QCOMPARE(child<QLineEdit>(&modify, u"服务器IP输入框")->text(), u"127.0.0.7"_s);

    // The modify window takes any text: an empty sort key and a quote.
    child<QLineEdit>(&modify, u"排序输入框")->clear();
    child<QLineEdit>(&modify, u"备注输入框")->setText(u"x'); DROP TABLE server_data; --"_s);
    child<QLineEdit>(&modify, u"面板地址编辑框")->setText(u"http://127.0.0.1:8888/abc"_s);
    window_->serverEditor()->saveServer(modify);
    QVERIFY(modify.isWaiting());
    QTRY_VERIFY(!modify.isWaiting());
    QCOMPARE(prompts_.last().text, u"修改成功"_s);
    QCOMPARE(list_->cell(0, ListColumn::Remark), u"x'); DROP TABLE server_data; --"_s);
    QCOMPARE(list_->server(0).panelUrl, u"http://127.0.0.1:8888/abc"_s);
    QCOMPARE(list_->cell(0, ListColumn::Sort), QString());
    QCOMPARE(countServers(home_.databasePath(), u"remark=? AND sort=''"_s,
                          {u"x'); DROP TABLE server_data; --"_s}),
             1);
}

// A reload between opening the window and pressing 修改 (the refresh timer, a batch delete)
// clears the selection; the edits still go to the server the window shows.
void TestStoreWindows::modifySavesToServerItWasOpenedFor() {
    {
        LocalStore store;
        QVERIFY(store.open(home_.databasePath()));
        for (const QString& ip : {u"127.0.0.8"_s, u"127.0.0.9"_s}) {
            ServerRecord s;
            s.ip = ip;
            s.port = u"22"_s;
            s.sort = ip.right(1);
            s.system = u"linux"_s;
            QVERIFY(store.insertBatchServer(s, false));
        }
    }
    list_->reload();
    waitForList();
    list_->view()->setCurrentIndex(list_->model()->index(0, 0));
    ServerEditorWindow modify(ServerEditorWindow::Mode::Modify, home_.context());
    window_->serverEditor()->prepareModifyWindow(modify);
    QTRY_VERIFY(!modify.isWaiting());
    QCOMPARE(child<QLineEdit>(&modify, u"服务器IP输入框")->text(), u"127.0.0.8"_s);

    list_->reload();
    waitForList();
    QCOMPARE(list_->selectedRow(), -1);
    child<QLineEdit>(&modify, u"备注输入框")->setText(u"edited"_s);
    window_->serverEditor()->saveServer(modify);
    QTRY_VERIFY(!modify.isWaiting());
    QCOMPARE(prompts_.last().text, u"修改成功"_s);
    QCOMPARE(countServers(home_.databasePath(), u"server_ip='127.0.0.8' AND remark='edited'"_s), 1);
    QCOMPARE(countServers(home_.databasePath(), u"remark='edited'"_s), 1);
    QCOMPARE(list_->cell(list_->model()->rowOfId(u"6"_s), ListColumn::Remark), u"edited"_s);
}

void TestStoreWindows::deleteAndBatchDelete() {
    {
        LocalStore store;
        QVERIFY(store.open(home_.databasePath()));
        for (int n = 1; n <= 6; ++n) {
            ServerRecord s;
            s.ip = u"127.0.1.%1"_s.arg(n);
            s.port = u"22"_s;
            s.name = u"s%1"_s.arg(n);
            s.sort = QString::number(n);
            QVERIFY(store.insertBatchServer(s, false));
        }
    }
    list_->reload();
    waitForList();
    list_->view()->setCurrentIndex(list_->model()->index(0, 0));
    window_->serverEditor()->deleteServer();
    QCOMPARE(list_->model()->rowCount(), 5);
    QTRY_COMPARE(countServers(home_.databasePath()), 5);

    list_->model()->setChecked(0, true);
    list_->model()->setChecked(2, true);
    list_->model()->setChecked(4, true);
    window_->serverEditor()->deleteCheckedServers();
    QCOMPARE(prompts_.last().text,
             u"确定要删除端数据吗？删除后无法恢复！如果有上传到云端这可以从云端再次下载数据"_s);
    QTRY_VERIFY_WITH_TIMEOUT(!window_->serverEditor()->isDeleting(), 5000);
    waitForList();
    QCOMPARE(column(list_, ListColumn::Name), (QStringList{u"s3"_s, u"s5"_s}));
    auto* pane = child<QPlainTextEdit>(window_.get(), u"编辑框1");
    QTRY_VERIFY(pane->toPlainText().contains(u"-正在删除：s6"_s));
    QCOMPARE(pane->toPlainText().count(u"-正在删除："_s), 3);
}

void TestStoreWindows::groupsAddRenameDelete() {
    GroupManager* groups = window_->groupManager();
    auto* filter = child<QComboBox>(window_.get(), u"选择分组组合框");
    QSignalSpy refilled(groups, &GroupManager::groupFilterRefilled);
    groups->addGroup(u"测试"_s, u"60"_s);
    groups->addGroup(u"测试"_s, u"abc"_s);
    groups->addGroup(u"香港"_s, u"50"_s);
    QTRY_VERIFY(refilled.count() >= 1);
    QTRY_COMPARE(filter->count(), 4);
    QCOMPARE(filter->itemText(0), u"默认分组"_s);
    QCOMPARE(filter->itemText(1), u"测试"_s);
    QCOMPARE(filter->itemText(2), u"测试"_s);

    {
        LocalStore store;
        QVERIFY(store.open(home_.databasePath()));
        ServerRecord s;
        s.ip = u"127.0.2.1"_s;
        s.port = u"22"_s;
        s.group = u"默认分组"_s;
        s.sort = u"1"_s;
        QVERIFY(store.insertBatchServer(s, false));
    }
    // In 分组管理: rename the default group (its server follows), delete another group
    // (its servers keep the name).
    onNextModal([&](QWidget* modal) {
        auto* managerWindow = qobject_cast<GroupManagerWindow*>(modal);
        QVERIFY(managerWindow);
        QTRY_COMPARE(managerWindow->rowCount(), 4);
        QCOMPARE(managerWindow->group(2).sort, u"abc"_s);
        auto* view = managerWindow->findChild<QTableView*>(u"超级列表框1"_s);
        view->setCurrentIndex(view->model()->index(0, 0));
        onNextModal([&](QWidget* editWindow) {
            child<QLineEdit>(editWindow, u"编辑框1")->setText(u"生产"_s);
            child<QPushButton>(editWindow, u"按钮1")->click();
        });
        managerWindow->menu()->actions().at(0)->trigger();
        QTRY_COMPARE(managerWindow->group(0).name, u"生产"_s);
        view->setCurrentIndex(view->model()->index(3, 0));
        managerWindow->menu()->actions().at(1)->trigger();
        QCOMPARE(managerWindow->rowCount(), 3);
    });
    groups->openManager();
    QCOMPARE(prompts_.last().text, u"修改成功"_s);
    QCOMPARE(countServers(home_.databasePath(), u"server_class=?"_s, {u"生产"_s}), 1);
    waitForList();
    QTRY_COMPARE(list_->cell(0, ListColumn::Group), u"生产"_s);
    QTRY_COMPARE(filter->count(), 3);
    QCOMPARE(filter->itemText(0), u"生产"_s);
}

void TestStoreWindows::batchAddLines() {
    BatchWindow batch(list_, home_.context());
    QCOMPARE(batch.text(), BatchWindow::kHint);
    QSignalSpy finished(&batch, &BatchWindow::addingFinished);
    // The untouched hint adds one server from its second line.
    batch.addLines();
    QVERIFY(finished.wait(5000));
    QCOMPARE(countServers(home_.databasePath(), u"server_ip='服务器IP' AND server_port='端口'"_s),
             1);

    const QString block =
        u"\r\n"
        u"香港----web----127.0.3.1----root----p&w=1----22----linux----备注----s----e----10\r\n"
        u"\r\n"
        u"香港----web----127.0.3.1----root----p&w=1----22----linux----备注----s----e----10\r\n"
        u"short----line----127.0.3.2----root----pw----22----linux----r----s----e----\r\n"
        u"美国----db----127.0.3.3----root----pw----22----linux----r----s----e----20----http://"
        u"127.0.0.1:8888/x----admin----pp----key\r\n"
        u"美国----half----127.0.3.4----root----pw----22----linux----r----s----e----30----http://127.0.0.1:8888/y\r\n"_s;
    batch.setText(block);
    batch.addLines();
    QVERIFY(finished.wait(5000));
    QVERIFY(!batch.text().startsWith(u"\r\n"_s));
    QCOMPARE(countServers(home_.databasePath(), u"server_ip LIKE '127.0.3.%'"_s), 3);
    QCOMPARE(countServers(home_.databasePath(),
                          u"server_ip='127.0.3.1' AND baota_url='0' AND server_pass='p&w=1'"_s),
             1);
    QCOMPARE(countServers(home_.databasePath(), u"server_ip='127.0.3.3' AND baota_apikey='key'"_s),
             1);
    QCOMPARE(countServers(home_.databasePath(),
                          u"server_ip='127.0.3.4' AND baota_url='http://127.0.0.1:8888/y' AND "
                          u"baota_apikey=''"_s),
             1);
    auto* pane = child<QPlainTextEdit>(window_.get(), u"编辑框1");
    QTRY_VERIFY(pane->toPlainText().contains(u"-127.0.3.1 添加失败 指定服务器IP已经存在"_s));
    QVERIFY(pane->toPlainText().contains(u"-127.0.3.3 添加成功"_s));
    waitForList();
    QCOMPARE(list_->model()->rowCount(), 4);
}

// Esc during a long batch asks first; "No" carries on, "Yes" stops and the log says what was
// added and what was left.
void TestStoreWindows::closingBatchWindowAsksAndReports() {
    constexpr int kLines = 20000;
    QStringList lines;
    for (int i = 0; i < kLines; ++i)
        lines << u"默认分组----n----127.1.%1.%2----root----pw----22----linux----r----s----e----1"_s
                     .arg(i / 256)
                     .arg(i % 256);
    BatchWindow batch(list_, home_.context());
    batch.show();
    batch.setText(lines.join(u"\r\n"_s));
    batch.addLines();
    QTRY_VERIFY(countServers(home_.databasePath()) > 0);

    QMessageBox::StandardButton answer = QMessageBox::No;
    Prompt::setResponder([&](const PromptRequest& r) {
        prompts_ << r;
        return answer;
    });
    QTest::keyClick(&batch, Qt::Key_Escape);
    QVERIFY(prompts_.last().text.contains(u"确定要停止吗"_s));
    QVERIFY(batch.isVisible());
    QVERIFY(batch.isAdding());

    // The pane empties itself every 30 lines, so a line shown once may be gone by the time
    // it is looked for: every text the pane shows from here on is kept.
    auto* pane = child<QPlainTextEdit>(window_.get(), u"编辑框1");
    QString shown;
    const auto watch =
        connect(pane, &QPlainTextEdit::textChanged, this, [&] { shown += pane->toPlainText(); });
    // The window closes at once; the batch ends when the slice under way is back.
    answer = QMessageBox::Yes;
    batch.close();
    QVERIFY(!batch.isVisible());
    QTRY_VERIFY(!batch.isAdding());
    int added = -1;
    QTRY_VERIFY((added = countServers(home_.databasePath())) >= 0);
    QVERIFY(added < kLines);
    const QString stopped =
        u"-批量添加已停止：已添加 %1 行，%2 行未处理"_s.arg(added).arg(kLines - added);
    QTRY_VERIFY2_WITH_TIMEOUT(
        (shown + pane->toPlainText()).contains(stopped),
        qPrintable(stopped + u" not among: "_s +
                   (shown + pane->toPlainText()).split(u'\n').filter(u"批量添加"_s).join(u" | "_s)),
        60000);
    disconnect(watch);
}

// Ctrl+V over selected lines with nothing on the clipboard leaves the box as it was; Qt's own
// box would crash the program.
void TestStoreWindows::pasteOfAnEmptyClipboardKeepsTheBox() {
    BatchWindow batch(list_, home_.context());
    batch.show();
    QVERIFY(QTest::qWaitForWindowExposed(&batch));
    auto* box = child<QPlainTextEdit>(&batch, u"编辑框1");
    QGuiApplication::clipboard()->clear();
    const QString before = box->toPlainText();
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(box->toPlainText(), before);

    // A clipboard with text still pastes.
    QGuiApplication::clipboard()->setText(u"默认分组"_s);
    box->selectAll();
    QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(box->toPlainText(), u"默认分组"_s);
}

void TestStoreWindows::exportThenImport() {
    BatchWindow batch(list_, home_.context());
    QSignalSpy finished(&batch, &BatchWindow::addingFinished);
    batch.setText(
        u"默认分组----a----127.0.4.1----root----pw----22----linux----r----s----e----5\r\n"
        u"默认分组----b----127.0.4.2----administrator----pw2----3389----windows----备注----s----e----6"_s);
    batch.addLines();
    QVERIFY(finished.wait(5000));
    waitForList();

    // An export left readable by everyone before: the new one is for its owner alone.
    QFile file(QDir(home_.dataFolder()).filePath(BatchExport::kFileName));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ReadOther));

    child<QPushButton>(window_.get(), u"按钮13")->click();
    QCOMPARE(prompts_.last().text, u"导出成功，导出文件在%1目录下 导出记录.txt"_s.arg(
                                       QDir::toNativeSeparators(home_.dataFolder())));
    constexpr QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                                QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                QFileDevice::WriteOther | QFileDevice::ExeOther;
    QCOMPARE(file.permissions() & others, QFileDevice::Permissions());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    file.close();
    QCOMPARE(
        bytes,
        Gbk::encode(
            u"默认分组----a----127.0.4.1----root----pw----22----linux----r----s----e----5----0----"
            u"0----0----0----\r\n"
            u"默认分组----b----127.0.4.2----administrator----pw2----3389----windows----备注----s----e----6----0----0----0----0----"_s));

    // Into the same database: every line exists already.
    QVERIFY(batch.importFile(file.fileName()));
    QVERIFY(finished.wait(5000));
    QCOMPARE(prompts_.last().text, u"从文件导入成功"_s);
    QCOMPARE(countServers(home_.databasePath()), 2);

    // Into an empty database: every server comes back, "0" in the panel columns.
    {
        StoreConnection db;
        QVERIFY(db.open(home_.databasePath()));
        QVERIFY(db.execute(u"DELETE FROM server_data"_s));
    }
    QVERIFY(batch.importFile(file.fileName()));
    QVERIFY(finished.wait(5000));
    QCOMPARE(countServers(home_.databasePath(), u"baota_url='0' AND baota_apikey='0'"_s), 2);
    QCOMPARE(countServers(home_.databasePath(),
                          u"server_name='b' AND remark='备注' AND server_user='administrator'"_s),
             1);
}

void TestStoreWindows::importDecodesFiles_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("stored"); // group, name, remark of the server; none if empty
    const QString line =
        u"香港----名字----127.0.5.1----root----pw----22----linux----备注----s----e----1"_s;
    const QStringList hongKong{u"香港"_s, u"名字"_s, u"备注"_s};
    QTest::newRow("GBK") << Gbk::encode(line) << hongKong;
    // Every byte pair of these GBK texts is also a valid UTF-8 sequence; they are still GBK.
    QTest::newRow("GBK that reads as UTF-8")
        << Gbk::encode(
               u"前台----图片----127.0.5.1----root----pw----22----linux----100元----s----e----1"_s)
        << QStringList{u"前台"_s, u"图片"_s, u"100元"_s};
    QTest::newRow("UTF-8 with mark") << QByteArray("\xEF\xBB\xBF") + line.toUtf8() << hongKong;
    QByteArray utf16("\xFF\xFE");
    utf16.append(reinterpret_cast<const char*>(line.utf16()), line.size() * 2);
    QTest::newRow("UTF-16") << utf16 << hongKong;
    QTest::newRow("binary") << QByteArray("\x7F"
                                          "ELF\x02\x01\x01\x00\x00----",
                                          13)
                            << QStringList();
}

void TestStoreWindows::importDecodesFiles() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, stored);
    const QString path = QDir(home_.dataFolder()).filePath(u"import.txt"_s);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();
    BatchWindow batch(list_, home_.context());
    QSignalSpy finished(&batch, &BatchWindow::addingFinished);
    QVERIFY(batch.importFile(path));
    QVERIFY(finished.wait(5000));
    QCOMPARE(countServers(home_.databasePath()), stored.isEmpty() ? 0 : 1);
    if (!stored.isEmpty())
        QCOMPARE(countServers(home_.databasePath(),
                              u"server_class=? AND server_name=? AND remark=?"_s, stored),
                 1);
}

void TestStoreWindows::buttonsOpenTheirWindows() {
    const QList<std::pair<const char16_t*, const char*>> buttons = {
        {u"按钮3", "ServerEditorWindow"},
        {u"按钮5", "BatchWindow"},
        {u"按钮14", "BatchWindow"},
        {u"按钮2", "GroupEditWindow"},
        {u"按钮4", "GroupManagerWindow"}};
    for (const auto& [button, kind] : buttons) {
        QString opened;
        onNextModal([&](QWidget* modal) {
            opened = QString::fromLatin1(modal->metaObject()->className());
        });
        child<QPushButton>(window_.get(), button)->click();
        QCOMPARE(opened, QString::fromLatin1(kind));
    }
}

void TestStoreWindows::lockHeldElsewhereEndsInAMessage_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("logged"); // a line the log pane shows, if any
    QTest::newRow("添加服务器 opens")
        << u"open add window"_s << u"读取分组失败：数据库被占用，请稍后再试"_s << QString();
    QTest::newRow("添加 in 添加服务器, window closed meanwhile")
        << u"add server"_s << u"添加失败：数据库被占用，请稍后再试"_s
        << u"-127.0.0.20 添加失败：数据库被占用，请稍后再试"_s;
    QTest::newRow("添加分组") << u"add group"_s << u"添加失败：数据库被占用，请稍后再试"_s
                              << QString();
    QTest::newRow("批量添加") << u"batch"_s << u"批量添加已停止：数据库被占用，请稍后再试"_s
                              << u"-数据库被占用，无法写入：database is locked"_s;
}

// Another connection (a second Torvane) holds the database's exclusive lock. The window starts
// its work and is usable at once: it shows that it waits, and the event loop keeps running,
// before the store's busy time-out ends the work with a message saying why.
void TestStoreWindows::lockHeldElsewhereEndsInAMessage() {
    QFETCH(QString, action);
    QFETCH(QString, message);
    QFETCH(QString, logged);
    ServerEditor* editor = window_->serverEditor();
    ServerEditorWindow add(ServerEditorWindow::Mode::Add, home_.context());
    GroupEditWindow groupEditor(GroupEditWindow::Mode::Add);
    BatchWindow batch(list_, home_.context());
    QSignalSpy batchFinished(&batch, &BatchWindow::addingFinished);
    if (action == u"add server") {
        add.show();
        editor->prepareAddWindow(add);
        QTRY_VERIFY(!add.isWaiting());
        child<QLineEdit>(&add, u"服务器IP输入框")->setText(u"127.0.0.20"_s);
    }

    StoreConnection other;
    QVERIFY(other.open(home_.databasePath()));
    QVERIFY(other.execute(u"BEGIN EXCLUSIVE"_s));
    std::function<bool()> waiting;
    if (action == u"open add window") {
        editor->prepareAddWindow(add);
        waiting = [&] { return add.isWaiting(); };
    } else if (action == u"add server") {
        editor->addServer(add);
        waiting = [&] { return add.isWaiting(); };
    } else if (action == u"add group") {
        window_->groupManager()->addGroup(u"锁住时"_s, u"1"_s, &groupEditor);
        waiting = [&] { return groupEditor.isWaiting(); };
    } else {
        batch.setText(
            u"默认分组----n----127.0.0.21----root----pw----22----linux----r----s----e----1"_s);
        batch.addLines();
        waiting = [&] { return batch.isAdding(); };
    }
    QVERIFY(waiting());
    bool ticked = false;
    QTimer::singleShot(20, this, [&] { ticked = true; });
    QTRY_VERIFY(ticked);
    QVERIFY(waiting());
    QVERIFY(prompts_.isEmpty());
    if (action == u"add server") {
        add.close();
        QVERIFY(!add.isVisible());
    }

    QTRY_VERIFY_WITH_TIMEOUT(!prompts_.isEmpty(), 20000);
    QVERIFY(!waiting());
    QCOMPARE(prompts_.size(), 1);
    QCOMPARE(prompts_[0].text, message);
    if (!logged.isEmpty())
        QTRY_VERIFY(
            child<QPlainTextEdit>(window_.get(), u"编辑框1")->toPlainText().contains(logged));
    QVERIFY(other.execute(u"ROLLBACK"_s));
    QCOMPARE(countServers(home_.databasePath()), 0);
    if (action == u"open add window")
        QVERIFY(child<QPushButton>(&add, u"按钮1")->isEnabled());
}

TORVANE_GUI_TEST_MAIN(TestStoreWindows)

#include "tst_store_windows.moc"
