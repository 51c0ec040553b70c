#include "common/gui_test_main.h"
#include "common/test_home.h"
#include "core/store/local_store.h"
#include "core/store/store_connection.h"
#include "ui/app/application.h"
#include "ui/app/list_table.h"
#include "ui/app/prompt.h"
#include "ui/app/server_list_view.h"

#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QSet>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

ServerRecord fixtureServer(int n, const QString& ip, const QString& sort) {
    ServerRecord s;
    s.ip = ip;
    s.name = u"服务器%1"_s.arg(n);
    s.group = n % 2 ? u"香港"_s : u"美国"_s;
    s.user = u"root"_s;
    s.password = u"pw%1"_s.arg(n);
    s.port = u"22"_s;
    s.sort = sort;
    s.remark = u"备注"_s;
    s.system = n % 2 ? u"linux"_s : u"windows"_s;
    return s;
}

} // namespace

class TestServerList : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void reloadFillsEveryCellThenAsksForAProbePass();
    void searchAsksForAProbePerRow();
    void queryFailureKeepsTheRows_data();
    void queryFailureKeepsTheRows();
    void tooLongSearchTextSaysSo();
    void emptyTableGivesEmptyListWithoutMessage();
    void headerClickSortsAndClearsMarksAndImages();
    void longListSortsWholeAlsoWhenRowsGoMidSort();
    void invertChecks();
    void newerFillWins();
    void manyReloadsEndAsTheLastOne();
    void reloadKeepsUnchangedRecordsAndTakesChangedOnes();
    void menuAndDoubleClick();

private:
    QStringList column(int c) const;
    void fillAndWait(const std::function<void()>& start);

    TestHome home_;
    QTableView* view_ = nullptr;
    ServerListView* list_ = nullptr;
    QList<PromptRequest> prompts_;
};

void TestServerList::initTestCase() {
    QVERIFY(home_.isValid());
    LocalStore::ensureDatabase(home_.databasePath());
    LocalStore store;
    QVERIFY(store.open(home_.databasePath()));
    const QStringList ips = {u"127.9.9.9"_s, u"127.10.0.2"_s, u"127.192.0.1"_s, u"127.10.0.10"_s};
    const QStringList sorts = {u"40"_s, u"10"_s, u"30"_s, u"20"_s};
    for (int n = 0; n < ips.size(); ++n)
        QVERIFY(store.insertBatchServer(fixtureServer(n, ips[n], sorts[n]), false));
}

void TestServerList::init() {
    prompts_.clear();
    Prompt::setResponder([this](const PromptRequest& r) {
        prompts_ << r;
        return QMessageBox::Ok;
    });
    view_ = new ListTable;
    view_->resize(1000, 400);
    list_ = new ServerListView(view_, home_.context());
    view_->show();
    QVERIFY(QTest::qWaitForWindowExposed(view_));
}

void TestServerList::cleanup() {
    delete view_;
    Prompt::setResponder({});
}

QStringList TestServerList::column(int c) const {
    QStringList texts;
    for (int row = 0; row < list_->model()->rowCount(); ++row)
        texts << list_->cell(row, c);
    return texts;
}

void TestServerList::fillAndWait(const std::function<void()>& start) {
    QSignalSpy finished(list_, &ServerListView::fillFinished);
    start();
    QVERIFY(finished.count() > 0 || finished.wait(10000));
}

void TestServerList::reloadFillsEveryCellThenAsksForAProbePass() {
    QSignalSpy probeAll(list_, &ServerListView::probeAllRequested);
    fillAndWait([this] { list_->reload(); });
    QCOMPARE(probeAll.count(), 1);
    QCOMPARE(column(ListColumn::Address),
             (QStringList{u"127.10.0.2"_s, u"127.10.0.10"_s, u"127.192.0.1"_s, u"127.9.9.9"_s}));
    QCOMPARE(list_->cell(0, ListColumn::Id), u"7"_s);
    QCOMPARE(list_->cell(0, ListColumn::Name), u"服务器1"_s);
    QCOMPARE(list_->cell(0, ListColumn::Group), u"香港"_s);
    QCOMPARE(list_->cell(0, ListColumn::Status), QString());
    QCOMPARE(list_->cell(-1, ListColumn::Address), QString());
    // The row holds the whole stored record; actions take it from there.
    QCOMPARE(list_->server(0).password, u"pw1"_s);
    QCOMPARE(list_->server(0).port, u"22"_s);
    QCOMPARE(list_->server(0).panelUrl, u"0"_s);
    QCOMPARE(list_->server(-1).ip, QString());

    QCOMPARE(view_->horizontalHeader()->count(), 10);
    QCOMPARE(list_->model()->headerData(8, Qt::Horizontal, Qt::DisplayRole).toString(), u"状态"_s);
    QCOMPARE(view_->horizontalHeader()->sectionSize(ListColumn::Remark), 180);
    QVERIFY(!view_->isColumnHidden(ListColumn::Sort));
    // No cell, shown or not, holds a password.
    const QAbstractItemModel* model = list_->model();
    for (int row = 0; row < model->rowCount(); ++row)
        for (int c = 0; c < model->columnCount(); ++c)
            for (int role : {int(Qt::DisplayRole), int(Qt::ToolTipRole), int(Qt::EditRole)})
                QVERIFY(!model->index(row, c).data(role).toString().contains(u"pw"_s));
    QCOMPARE(list_->model()->index(0, ListColumn::Status).data(Qt::TextAlignmentRole).toInt(),
             int(Qt::AlignCenter));
    QVERIFY(prompts_.isEmpty());
}

void TestServerList::searchAsksForAProbePerRow() {
    QSignalSpy probeRow(list_, &ServerListView::probeRowRequested);
    QSignalSpy probeAll(list_, &ServerListView::probeAllRequested);
    fillAndWait([this] { list_->search(u"分组名称"_s, QString(), u"香港"_s); });
    QCOMPARE(column(ListColumn::Name), (QStringList{u"服务器1"_s, u"服务器3"_s}));
    QCOMPARE(column(ListColumn::Status), (QStringList{u"等待检测"_s, u"等待检测"_s}));
    QCOMPARE(probeRow.count(), 2);
    QCOMPARE(probeRow[0][0].toInt(), 0);
    QCOMPARE(probeRow[1][0].toInt(), 1);
    QCOMPARE(probeAll.count(), 0);
}

void TestServerList::queryFailureKeepsTheRows_data() {
    QTest::addColumn<bool>("reload");
    QTest::newRow("reload") << true;
    QTest::newRow("search") << false;
}

void TestServerList::queryFailureKeepsTheRows() {
    QFETCH(bool, reload);
    fillAndWait([this] { list_->reload(); });
    {
        StoreConnection db;
        QVERIFY(db.open(home_.databasePath()));
        QVERIFY(db.execute(u"ALTER TABLE server_data RENAME TO server_data_away"_s));
    }
    if (reload)
        list_->reload();
    else
        list_->search(u"备注"_s, u"x"_s, QString());
    QTRY_COMPARE(prompts_.size(), 1);
    QVERIFY(!list_->isFilling());
    {
        StoreConnection db;
        QVERIFY(db.open(home_.databasePath()));
        QVERIFY(db.execute(u"ALTER TABLE server_data_away RENAME TO server_data"_s));
    }
    QCOMPARE(prompts_[0].text, u"查询失败，指定的数据未能打开！"_s);
    QCOMPARE(prompts_[0].caption, u"提示"_s);
    QCOMPARE(prompts_[0].icon, QMessageBox::Critical);
    QCOMPARE(list_->model()->rowCount(), 4);
}

// A search text the database cannot take says so and leaves the list as it was.
void TestServerList::tooLongSearchTextSaysSo() {
    fillAndWait([this] { list_->reload(); });
    list_->search(u"服务器名称"_s, QString(30000, u'港'), QString());
    QCOMPARE(prompts_.size(), 1);
    QCOMPARE(prompts_[0].text, ServerListView::kSearchTextTooLong);
    QVERIFY(!list_->isFilling());
    QCOMPARE(list_->model()->rowCount(), 4);
}

void TestServerList::emptyTableGivesEmptyListWithoutMessage() {
    QTemporaryDir empty;
    const AppContext emptyHome({empty.path(), TestHome::kNoService});
    LocalStore::ensureDatabase(emptyHome.databasePath());
    delete list_;
    list_ = new ServerListView(view_, emptyHome);
    fillAndWait([this] { list_->reload(); });
    QCOMPARE(list_->model()->rowCount(), 0);
    fillAndWait([this] { list_->search(u"综合查询"_s, u"x"_s, QString()); });
    QCOMPARE(list_->model()->rowCount(), 0);
    QVERIFY(prompts_.isEmpty());
    delete list_;
    list_ = nullptr;
}

void TestServerList::headerClickSortsAndClearsMarksAndImages() {
    fillAndWait([this] { list_->reload(); });
    list_->model()->setChecked(1, true);
    list_->model()->setStatusImage(2, 0);
    QSignalSpy probeAll(list_, &ServerListView::probeAllRequested);

    QHeaderView* header = view_->horizontalHeader();
    const QPoint onAddress(header->sectionViewportPosition(ListColumn::Address) + 20,
                           header->height() / 2);
    fillAndWait([&] { QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, onAddress); });
    // Text order of the GBK bytes: "127.10.0.10" < "127.10.0.2" < "127.192..." < "127.9.9.9".
    QCOMPARE(column(ListColumn::Address),
             (QStringList{u"127.10.0.10"_s, u"127.10.0.2"_s, u"127.192.0.1"_s, u"127.9.9.9"_s}));
    for (int row = 0; row < 4; ++row) {
        QVERIFY(!list_->model()->isChecked(row));
        QCOMPARE(list_->model()->statusImage(row), -1);
        // Probe results find their server's new row.
        QCOMPARE(list_->model()->rowOfId(list_->cell(row, ListColumn::Id)), row);
    }
    QCOMPARE(probeAll.count(), 1);

    fillAndWait([this] { list_->sortByColumn(ListColumn::Id); });
    QCOMPARE(column(ListColumn::Id), (QStringList{u"6"_s, u"7"_s, u"8"_s, u"9"_s}));
    QCOMPARE(list_->model()->rowOfId(u"9"_s), 3);
}

// More rows than one step copies keys for; a row deleted while the sort runs leaves the rows
// there are then sorted, none lost or doubled.
void TestServerList::longListSortsWholeAlsoWhenRowsGoMidSort() {
    constexpr int kRows = 2500;
    QList<ServerRecord> servers;
    for (int n = kRows; n >= 1; --n) {
        ServerRecord s = fixtureServer(n, u"127.0.%1.%2"_s.arg(n / 256).arg(n % 256), u"1"_s);
        s.id = QString::number(n);
        servers << s;
    }
    list_->model()->replaceRows(
        ServerListModel::rowsOf(servers, QString(), QDateTime::currentDateTime()));
    fillAndWait([this] {
        list_->sortByColumn(ListColumn::Id);
        list_->model()->deleteRow(0); // id 2500
    });
    QCOMPARE(list_->model()->rowCount(), kRows - 1);
    for (int row = 0; row < kRows - 1; ++row) {
        QCOMPARE(list_->cell(row, ListColumn::Id), QString::number(row + 1));
        QCOMPARE(list_->model()->rowOfId(QString::number(row + 1)), row);
    }
}

void TestServerList::invertChecks() {
    fillAndWait([this] { list_->reload(); });
    list_->model()->setChecked(0, true);
    list_->model()->setChecked(2, true);
    list_->invertChecks();
    QList<bool> marks;
    for (int row = 0; row < 4; ++row)
        marks << list_->model()->isChecked(row);
    QCOMPARE(marks, (QList<bool>{false, true, false, true}));
    list_->checkAll();
    QVERIFY(list_->model()->isChecked(0) && list_->model()->isChecked(3));
    list_->uncheckAll();
    QVERIFY(!list_->model()->isChecked(0) && !list_->model()->isChecked(3));
}

void TestServerList::newerFillWins() {
    QSignalSpy finished(list_, &ServerListView::fillFinished);
    list_->search(u"综合查询"_s, QString(), QString()); // 100 ms per row
    QTest::qWait(150);
    list_->reload();
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(list_->model()->rowCount(), 4);
    QVERIFY(!column(ListColumn::Status).contains(u"等待检测"_s));
}

void TestServerList::manyReloadsEndAsTheLastOne() {
    for (int k = 0; k < 20; ++k)
        list_->reload();
    {
        LocalStore store;
        QVERIFY(store.open(home_.databasePath()));
        QVERIFY(store.insertBatchServer(fixtureServer(9, u"127.10.9.9"_s, u"5"_s), false));
    }
    list_->reload();
    QTRY_VERIFY_WITH_TIMEOUT(!list_->isFilling(), 10000);
    const QStringList ids = column(ListColumn::Id);
    QCOMPARE(ids.size(), 5);
    QCOMPARE(QSet<QString>(ids.begin(), ids.end()).size(), 5);
    QCOMPARE(list_->cell(0, ListColumn::Address), u"127.10.9.9"_s);
    {
        LocalStore store;
        QVERIFY(store.open(home_.databasePath()));
        QVERIFY(store.deleteServer(ids[0]));
    }
}

// A reload shares the records of rows whose stored server did not change, and takes the file's
// record for one that did, also where the change is in no cell (a password).
void TestServerList::reloadKeepsUnchangedRecordsAndTakesChangedOnes() {
    fillAndWait([this] { list_->reload(); });
    const SharedRecords before = list_->model()->records();
    ServerRecord changed = *before[1];
    const QString oldPassword = changed.password;
    changed.password = u"新密码"_s;
    LocalStore store;
    QVERIFY(store.open(home_.databasePath()));
    QVERIFY(store.updateServer(changed));
    fillAndWait([this] { list_->reload(); });
    const SharedRecords after = list_->model()->records();
    QCOMPARE(after.size(), before.size());
    for (size_t row = 0; row < after.size(); ++row)
        QCOMPARE(after[row] == before[row], row != 1);
    QCOMPARE(list_->server(1).password, u"新密码"_s);
    changed.password = oldPassword;
    QVERIFY(store.updateServer(changed));
}

void TestServerList::menuAndDoubleClick() {
    QStringList items;
    QStringList enabled;
    for (QAction* action : list_->menu()->actions()) {
        if (action->isSeparator())
            continue;
        items << action->text();
        if (action->isEnabled())
            enabled << action->text();
    }
    QCOMPARE(items, (QStringList{u"登录服务器"_s, u"添加服务器"_s, u"修改/查看服务器"_s,
                                 u"删除服务器"_s, u"刷新列表"_s, u"Ping检测"_s, u"TCPing检测"_s,
                                 u"全球Ping"_s, u"全球TCPing"_s, u"复制IP"_s, u"复制IP+端口"_s,
                                 u"复制IP/端口/账号/密码"_s, u"登录宝塔面板"_s,
                                 u"复制宝塔面板信息"_s, u"即将到期"_s}));
    // Every item's feature is built: none waits disabled.
    QCOMPARE(enabled, items);
    QSignalSpy refresh(list_, &ServerListView::refreshRequested);
    list_->menuAction(ServerListView::MenuItem::Refresh)->trigger();
    QCOMPARE(refresh.count(), 1);

    fillAndWait([this] { list_->reload(); });
    QSignalSpy login(list_, &ServerListView::loginRequested);
    const QRect second = view_->visualRect(list_->model()->index(1, ListColumn::Name));
    QTest::mouseClick(view_->viewport(), Qt::LeftButton, {}, second.center());
    QTest::mouseDClick(view_->viewport(), Qt::LeftButton, {}, second.center());
    QCOMPARE(login.count(), 1);
    QCOMPARE(login[0][0].toInt(), 1);
    QCOMPARE(list_->selectedRow(), 1);
}

TORVANE_GUI_TEST_MAIN(TestServerList)

#include "tst_server_list.moc"
