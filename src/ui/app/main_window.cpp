#include "ui/app/main_window.h"

#include "core/app_context.h"
#include "core/cloud/cloud_actions.h"
#include "core/remote/embedded_tools.h"
#include "core/store/local_store.h"
#include "core/store/rental_expiry.h"
#include "core/store/store_queue.h"
#include "core/support/log_sink.h"
#include "platform/platform.h"
#include "ui/app/edge_docking.h"
#include "ui/app/log_pane.h"
#include "ui/app/prompt.h"
#include "ui/app/server_list_view.h"
#include "ui/cloud/cloud_account_actions.h"
#include "ui/cloud/cloud_sync_actions.h"
#include "ui/links/announcement_links.h"
#include "ui/panel/panel_menu_actions.h"
#include "ui/remote/reachability_probe.h"
#include "ui/remote/session_actions.h"
#include "ui/store/batch_window.h"
#include "ui/store/export_action.h"
#include "ui/store/group_manager.h"
#include "ui/store/server_editor.h"

#include "ui_main_window.h"

#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::StringLiterals;

struct MainWindow::Controls {
    explicit Controls(const Ui::MainWindowForm& f)
        : searchMode(f.查询方式分组框), searchText(f.查询内容编辑框), searchTextCaption(f.标签2),
          groupFilter(f.选择分组组合框), groupFilterCaption(f.标签4), search(f.查询按钮),
          ping(f.查询按钮1), portPing(f.查询按钮2), globalPing(f.查询按钮3), countLine(f.透明标签2),
          cloudStatus(f.透明标签1), logText(f.编辑框1), serverTable(f.超级列表框1),
          checkAll(f.按钮9), invertChecks(f.按钮8), uncheckAll(f.按钮11), addServer(f.按钮3),
          deleteChecked(f.按钮6), refreshAll(f.按钮10), addGroup(f.按钮2), manageGroups(f.按钮4),
          batchAdd(f.按钮5), batchAddBelow(f.按钮14), exportList(f.按钮13), upload(f.按钮1),
          download(f.按钮12), clearCloud(f.按钮16), cloudSettings(f.按钮15), notOpenYet(f.按钮7),
          downloadLatest(f.按钮17), links{f.广告1, f.广告2, f.广告3, f.广告4,
                                          f.广告5, f.广告6, f.广告7, f.广告8} {}

    QComboBox* searchMode;
    QLineEdit* searchText;
    QLabel* searchTextCaption;
    QComboBox* groupFilter;
    QLabel* groupFilterCaption;
    QPushButton* search;
    QPushButton* ping;
    QPushButton* portPing;
    QPushButton* globalPing;
    QLabel* countLine;
    QLabel* cloudStatus;
    QPlainTextEdit* logText;
    QTableView* serverTable;
    QPushButton* checkAll;
    QPushButton* invertChecks;
    QPushButton* uncheckAll;
    QPushButton* addServer;
    QPushButton* deleteChecked;
    QPushButton* refreshAll;
    QPushButton* addGroup;
    QPushButton* manageGroups;
    QPushButton* batchAdd;
    QPushButton* batchAddBelow;
    QPushButton* exportList;
    QPushButton* upload;
    QPushButton* download;
    QPushButton* clearCloud;
    QPushButton* cloudSettings;
    QPushButton* notOpenYet;
    QPushButton* downloadLatest;
    QList<LinkLabel*> links;
};

MainWindow::MainWindow(AppContext& context, ProcessLauncher launcher, QWidget* parent)
    : QWidget(parent), context_(context), ui_(std::make_unique<Ui::MainWindowForm>()) {
    ui_->setupUi(this);
    c_ = std::make_unique<Controls>(*ui_);
    setUpControls();
    setUpTimers();
    connectActions();
    connectListNotices();
    setUpKeys();
    const SearchBar searchBar{c_->searchText, c_->ping, c_->portPing, c_->globalPing};
    installSessionActions(this, serverList_, searchBar,
                          launcher ? std::move(launcher)
                                   : ProcessLauncher(&Platform::startDetached),
                          *context_.log());
    installPanelMenuActions(this, serverList_, *context_.log());
    QMetaObject::invokeMethod(this, &MainWindow::onCreated, Qt::QueuedConnection);
}

// The cloud workers read the account and must end before it goes.
MainWindow::~MainWindow() {
    cloudSync_->shutDown();
}

void MainWindow::setUpControls() {
    setWindowTitle(u"Torvane-服务器管理工具"_s);
    fitToScreen();

    c_->groupFilterCaption->hide();
    c_->groupFilter->hide();
    c_->notOpenYet->hide();
    // "综合查询" with no text lists every server, which is what a first 查询 should do.
    c_->searchMode->setCurrentText(u"综合查询"_s);
    c_->logText->setReadOnly(true);

    logPane_ = new LogPane(c_->logText);
    logPane_->connectLogSink(*context_.log());
    serverList_ = new ServerListView(c_->serverTable, context_);
    probe_ = new ReachabilityProbe(serverList_->model(), this);
    serverEditor_ = new ServerEditor(serverList_, probe_, context_, this);
    groupManager_ = new GroupManager(c_->groupFilter, context_, this);
    cloudAccount_ = new CloudAccountActions(this, logPane_, c_->cloudStatus, context_);
    cloudSync_ = new CloudSyncActions(this, cloudAccount_, serverList_);
    for (LinkLabel* link : c_->links)
        link->setLog(context_.log());
    announcementLinks_ = new AnnouncementLinks(
        c_->links,
        [&context = context_](const JobStop* stop) {
            return CloudApi::announcements({context.cloudAddress()}, stop);
        },
        this);
}

// The window rests where edge docking leaves it alone. When the screen is too small for the
// whole layout, the window takes the room there is and scrolls.
void MainWindow::fitToScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        setFixedSize(kClientSize);
        move(kPosition);
        return;
    }
    const QRect rest = EdgeDocking::restingArea(screen->geometry().size())
                           .intersected(screen->availableGeometry());
    const QSize outer = kClientSize + kFrameAllowance;
    if (rest.width() >= outer.width() && rest.height() >= outer.height()) {
        setFixedSize(kClientSize);
        // At the usual place, or as near to it as keeps the window whole on the screen.
        move(std::clamp(kPosition.x(), rest.left(), rest.right() + 1 - outer.width()),
             std::clamp(kPosition.y(), rest.top(), rest.bottom() + 1 - outer.height()));
        return;
    }
    showInScrollArea(rest.size() - kFrameAllowance);
    move(rest.topLeft());
}

// The controls keep their rectangles on a page of the full size; the window shows as much of
// it as the screen has room for, can be resized up to the full size, and scrolls the rest into
// view.
void MainWindow::showInScrollArea(QSize room) {
    auto* page = new QWidget;
    page->setObjectName(u"布局页"_s);
    page->setFixedSize(kClientSize);
    for (QWidget* control : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (control->isWindow())
            continue;
        const bool hidden = control->isHidden();
        control->setParent(page);
        control->setVisible(!hidden);
    }
    auto* area = new QScrollArea(this);
    area->setObjectName(u"滚动区"_s);
    area->setFrameShape(QFrame::NoFrame);
    area->setWidget(page);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(area);
    // Room for a scroll bar beside the full page keeps the other one away; a spare pixel
    // absorbs the rounding of scaled screens.
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 1;
    setMaximumSize(kClientSize + QSize(bar, bar));
    resize(room.boundedTo(maximumSize()));
}

void MainWindow::setUpTimers() {
    refreshTimer_.setObjectName(u"时钟1"_s);
    announcementTimer_.setObjectName(u"时钟2"_s);
    dockingTimer_.setObjectName(u"时钟4"_s);

    // 时钟1 starts stopped; the end of each probe pass arms it.
    refreshTimer_.setInterval(0);
    connect(&refreshTimer_, &QTimer::timeout, this, &MainWindow::stopTimerAndRefresh);
    announcementTimer_.setInterval(kAnnouncementIntervalMs);
    connect(&announcementTimer_, &QTimer::timeout, announcementLinks_, &AnnouncementLinks::start);
    announcementTimer_.start();
    new DockingWatch(this, &dockingTimer_);
}

void MainWindow::connectActions() {
    connect(c_->refreshAll, &QPushButton::clicked, this, &MainWindow::stopTimerAndRefresh);
    connect(serverList_, &ServerListView::refreshRequested, this, &MainWindow::refreshList);
    connect(serverList_, &ServerListView::probeAllRequested, probe_, &ReachabilityProbe::probeAll);
    connect(serverList_, &ServerListView::probeRowRequested, probe_, &ReachabilityProbe::start);
    connect(probe_, &ReachabilityProbe::passEnded, this, &MainWindow::onProbePassEnded);
    connect(c_->search, &QPushButton::clicked, this, [this] {
        serverList_->search(c_->searchMode->currentText(), c_->searchText->text(),
                            c_->groupFilter->currentText());
    });
    // Enter in the search box runs 查询, as a search box is expected to.
    connect(c_->searchText, &QLineEdit::returnPressed, c_->search, &QPushButton::click);
    connect(c_->searchMode, &QComboBox::currentTextChanged, this, &MainWindow::onSearchModeChanged);
    connect(c_->checkAll, &QPushButton::clicked, serverList_, &ServerListView::checkAll);
    connect(c_->uncheckAll, &QPushButton::clicked, serverList_, &ServerListView::uncheckAll);
    connect(c_->invertChecks, &QPushButton::clicked, serverList_, &ServerListView::invertChecks);

    connect(c_->addServer, &QPushButton::clicked, serverEditor_, &ServerEditor::openAddWindow);
    connect(c_->deleteChecked, &QPushButton::clicked, serverEditor_,
            &ServerEditor::deleteCheckedServers);
    using Item = ServerListView::MenuItem;
    auto onMenuItem = [this](Item item, auto receiver, auto slot) {
        connect(serverList_->menuAction(item), &QAction::triggered, receiver, slot);
    };
    onMenuItem(Item::Add, serverEditor_, &ServerEditor::openAddWindow);
    onMenuItem(Item::Modify, serverEditor_, &ServerEditor::openModifyWindow);
    onMenuItem(Item::Delete, serverEditor_, &ServerEditor::deleteServer);

    connect(c_->addGroup, &QPushButton::clicked, this,
            [this] { groupManager_->openAddGroup(false); });
    connect(c_->manageGroups, &QPushButton::clicked, groupManager_, &GroupManager::openManager);
    connect(c_->batchAdd, &QPushButton::clicked, this, &MainWindow::openBatchWindow);
    connect(c_->batchAddBelow, &QPushButton::clicked, this, &MainWindow::openBatchWindow);
    connect(c_->exportList, &QPushButton::clicked, this,
            [this] { exportServerList(serverList_, context_.dataFolder(), this); });
    connect(c_->cloudSettings, &QPushButton::clicked, cloudAccount_,
            [this] { cloudAccount_->openWindow(); });
    connect(c_->upload, &QPushButton::clicked, cloudSync_, &CloudSyncActions::upload);
    connect(c_->download, &QPushButton::clicked, cloudSync_, &CloudSyncActions::download);
    connect(c_->clearCloud, &QPushButton::clicked, cloudSync_, &CloudSyncActions::clear);
    connect(c_->notOpenYet, &QPushButton::clicked, this,
            [this] { Prompt::inform(this, u"该功能暂未开放"_s); });
    connect(c_->downloadLatest, &QPushButton::clicked, this,
            [this] { openDownloadPage(*context_.log()); });
}

void MainWindow::onCreated() {
    EmbeddedTools::extract();
    // The database is made ready on the store's thread: another Torvane may hold its lock.
    StoreQueue::run(
        this, [path = context_.databasePath()] { return LocalStore::ensureDatabase(path); },
        [](MainWindow* self, const StoredAccount& account) { self->onDatabaseReady(account); });
}

// The rest of the start-up needs the database, or the account stored in it.
void MainWindow::onDatabaseReady(const StoredAccount& account) {
    startup_.account = account;
    cloudAccount_->account().setAccount({startup_.account.username, startup_.account.password});
    cloudAccount_->checkConnection();
    refreshList();
    groupManager_->refillGroupFilter();
    announcementLinks_->start();
}

// A batch stopped while a slice was under way ends when that slice is back, after the window
// has closed; the window goes then.
void MainWindow::openBatchWindow() {
    auto* window = new BatchWindow(serverList_, context_, this);
    window->exec();
    if (window->isAdding())
        connect(window, &BatchWindow::addingFinished, window, &QObject::deleteLater);
    else
        window->deleteLater();
}

void MainWindow::refreshList() {
    serverList_->reload();
}

// 时钟1's tick and "全局刷新": the periodic cycle restarts from this reload's probe pass.
void MainWindow::stopTimerAndRefresh() {
    refreshTimer_.stop();
    refreshList();
}

// The group filter replaces the search text in the "分组名称" mode only.
void MainWindow::onSearchModeChanged(const QString& mode) {
    const bool byGroup = mode == u"分组名称";
    c_->groupFilterCaption->setVisible(byGroup);
    c_->groupFilter->setVisible(byGroup);
    c_->searchTextCaption->setVisible(!byGroup);
    c_->searchText->setVisible(!byGroup);
}

void MainWindow::armRefreshTimer() {
    refreshTimer_.start(kRefreshIntervalMs);
}

// Every probe pass ends with the count line and the next refresh in 6 minutes.
void MainWindow::onProbePassEnded(int rowCount) {
    c_->countLine->setText(u"共查询到 %1 条数据"_s.arg(rowCount));
    armRefreshTimer();
}

// Keys of the whole window: Ctrl+F the search box, F5 "全局刷新", Ctrl+A "全选". Ctrl+A keeps
// selecting text in a text box that has the focus.
void MainWindow::setUpKeys() {
    connect(new QShortcut(QKeySequence::Find, this), &QShortcut::activated, this,
            &MainWindow::focusSearchBox);
    connect(new QShortcut(QKeySequence(Qt::Key_F5), this), &QShortcut::activated, this,
            &MainWindow::stopTimerAndRefresh);
    connect(new QShortcut(QKeySequence::SelectAll, this), &QShortcut::activated, serverList_,
            &ServerListView::checkAll);
    connect(serverList_, &ServerListView::deleteRequested, serverEditor_,
            &ServerEditor::confirmAndDeleteServer);
}

// In the "分组名称" mode the group filter stands where the search text is.
void MainWindow::focusSearchBox() {
    if (c_->searchText->isVisible()) {
        c_->searchText->setFocus(Qt::ShortcutFocusReason);
        c_->searchText->selectAll();
    } else {
        c_->groupFilter->setFocus(Qt::ShortcutFocusReason);
    }
}

void MainWindow::connectListNotices() {
    connect(serverList_, &ServerListView::reloadProgress, this, &MainWindow::showReloadProgress);
    connect(serverList_, &ServerListView::reloaded, this, &MainWindow::logRentalExpiry);
    connect(&context_.storeChanges(), &StoreChanges::changed, this, &MainWindow::onStoreChanged);
}

// The one place where stored changes reach the list and the group filter, whoever wrote them.
void MainWindow::onStoreChanged(StoreChanges::Changes changes) {
    if (changes.testFlag(StoreChanges::Groups))
        groupManager_->refillGroupFilter();
    if (changes.testFlag(StoreChanges::Servers))
        serverList_->reload();
}

// A long list takes seconds to fill and its probe pass longer; the count line says how far it
// is until the pass writes the count. Between the first row and the last it changes at most
// every 100 ms: a new text lays the window out again, and at a row every 10 ms that was more
// than half of the UI thread's work in a long fill.
void MainWindow::showReloadProgress(int shown, int total) {
    constexpr qint64 kProgressEveryMs = 100;
    if (shown > 1 && shown < total && progressShown_.isValid() &&
        progressShown_.elapsed() < kProgressEveryMs)
        return;
    progressShown_.start();
    c_->countLine->setText(shown < total ? u"正在加载 %1 / %2"_s.arg(shown).arg(total)
                                         : u"已加载 %1 条，检测中…"_s.arg(total));
}

void MainWindow::logRentalExpiry() {
    context_.log()->logLine(RentalExpiry::tallyMessage(serverList_->reloadTally()));
}
