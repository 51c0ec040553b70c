#include "ui/app/server_list_view.h"

#include "core/app_context.h"
#include "core/store/local_store.h"
#include "core/store/rental_expiry.h"
#include "core/store/store_actions.h"
#include "core/support/list_sort.h"
#include "core/support/run_then_deliver.h"
#include "ui/app/list_header.h"
#include "ui/app/list_images.h"
#include "ui/app/prompt.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QMenu>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QThreadPool>

using namespace Qt::StringLiterals;

namespace {

constexpr std::array<int, ListColumn::Count> kColumnWidths = {50,  100, 120, 140, 135,
                                                              135, 180, 80,  55,  75};

// Centres the 状态 cell's dot the way its text is centred.
class StatusDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->decorationAlignment = Qt::AlignCenter;
        if (option->text.isEmpty())
            option->decorationSize = option->rect.size().boundedTo(QSize(36, 17));
    }
};

} // namespace

ServerListView::ServerListView(QTableView* view, const AppContext& context)
    : QObject(view), view_(view), context_(context), model_(new ServerListModel(this)) {
    model_->setStatusImages(ListImages::statusDots());
    view_->setHorizontalHeader(new ListHeader({ListColumn::StartTime, ListColumn::EndTime},
                                              ListImages::headerCaret(), view_));
    view_->setModel(model_);
    setUpColumns();
    setUpMenu();
    setUpKeys();

    connect(view_->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &ServerListView::sortByColumn);
    connect(view_, &QTableView::doubleClicked, this,
            [this](const QModelIndex&) { Q_EMIT loginRequested(selectedRow()); });
}

void ServerListView::setUpColumns() {
    view_->setShowGrid(false);
    view_->setWordWrap(false);
    view_->verticalHeader()->hide();
    view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 6);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setItemDelegateForColumn(ListColumn::Status, new StatusDelegate(view_));
    QHeaderView* header = view_->horizontalHeader();
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int c = 0; c < ListColumn::Count; ++c)
        header->resizeSection(c, kColumnWidths[c]);
}

void ServerListView::setUpMenu() {
    menu_ = new QMenu(view_);
    static const std::array<QString, int(MenuItem::Count)> kCaptions = {
        u"登录服务器"_s,   u"添加服务器"_s,       u"修改/查看服务器"_s, u"删除服务器"_s,
        u"刷新列表"_s,     u"Ping检测"_s,         u"TCPing检测"_s,      u"全球Ping"_s,
        u"全球TCPing"_s,   u"复制IP"_s,           u"复制IP+端口"_s,     u"复制IP/端口/账号/密码"_s,
        u"登录宝塔面板"_s, u"复制宝塔面板信息"_s, u"即将到期"_s};
    for (int item = 0; item < int(MenuItem::Count); ++item) {
        // The rental-expiry item stands apart from the server actions.
        if (item == int(MenuItem::Expiring))
            menu_->addSeparator();
        menuItems_[item] = menu_->addAction(kCaptions[item]);
    }
    connect(menuAction(MenuItem::Refresh), &QAction::triggered, this,
            &ServerListView::refreshRequested);
    connect(menuAction(MenuItem::Expiring), &QAction::triggered, this,
            &ServerListView::listExpiring);

    view_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view_, &QWidget::customContextMenuRequested, this,
            [this] { menu_->popup(QCursor::pos()); });
}

// Enter logs in to the selected server as a double-click does; Delete asks the window to
// delete it.
void ServerListView::setUpKeys() {
    for (const QKeySequence& key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}) {
        auto* login = new QShortcut(key, view_, nullptr, nullptr, Qt::WidgetShortcut);
        connect(login, &QShortcut::activated, this, [this] {
            if (selectedRow() >= 0)
                Q_EMIT loginRequested(selectedRow());
        });
    }
    auto* remove = new QShortcut(QKeySequence::Delete, view_, nullptr, nullptr, Qt::WidgetShortcut);
    connect(remove, &QShortcut::activated, this, [this] {
        if (selectedRow() >= 0)
            Q_EMIT deleteRequested();
    });
}

void ServerListView::reload() {
    if (reloadReading_) {
        reloadAgain_ = true;
        return;
    }
    startReloadRead();
}

quint64 ServerListView::supersede() {
    stopFill();
    busy_ = true;
    reloadAgain_ = false;
    return ++generation_;
}

void ServerListView::startReloadRead() {
    // Taken before the fill under way lets go of the rows it had still to show.
    SharedRecords known = knownRecords();
    const quint64 generation = supersede();
    reloadReading_ = true;
    runThenDeliver(
        *QThreadPool::globalInstance(), this,
        [path = context_.databasePath(), known = std::move(known)]() mutable {
            return readRows(path, reloadQuery(), {}, std::move(known));
        },
        [generation](ServerListView* self, std::optional<ReadRows> read) {
            self->reloadReading_ = false;
            if (self->reloadAgain_)
                self->startReloadRead();
            else
                self->onRowsRead(generation, std::move(read), FillKind::Reload);
        });
}

SharedRecords ServerListView::knownRecords() const {
    SharedRecords known = model_->records();
    for (size_t k = size_t(nextPending_); k < pending_.size(); ++k)
        known.push_back(pending_[k]->server);
    return known;
}

ServerListView::ReadRows ServerListView::tallied(ListRows rows) {
    ReadRows read{std::move(rows), {}};
    for (const auto& row : read.rows)
        read.tally.add(row->rental);
    return read;
}

// The rows of the servers `query` finds with `status`, their rentals read at one moment and
// tallied; each row made as its server is read, sharing the record of `known` it equals.
std::optional<ServerListView::ReadRows> ServerListView::readRows(const QString& path,
                                                                 const ServerQuery& query,
                                                                 const QString& status,
                                                                 SharedRecords known) {
    ListRowMaker maker(std::move(known), status, QDateTime::currentDateTime());
    if (!StoreActions::forEachServer(path, query,
                                     [&](ServerRecord&& server) { maker.add(std::move(server)); }))
        return std::nullopt;
    return tallied(maker.take());
}

void ServerListView::onRowsRead(quint64 generation, std::optional<ReadRows> read, FillKind kind) {
    if (generation != generation_)
        return;
    if (!read) {
        busy_ = false;
        reportQueryFailure();
        return;
    }
    readTally_ = read->tally;
    startFill(std::move(read->rows), kind);
}

void ServerListView::search(const QString& mode, const QString& text, const QString& group) {
    if (isSearchTextTooLong(mode, text)) {
        Prompt::inform(view_->window(), kSearchTextTooLong, u"提示"_s);
        return;
    }
    SharedRecords known = knownRecords();
    const quint64 generation = supersede();
    runThenDeliver(
        *QThreadPool::globalInstance(), this,
        [path = context_.databasePath(), query = searchQuery(mode, text, group),
         known = std::move(known)]() mutable {
            return readRows(path, query, kWaitingForProbe, std::move(known));
        },
        [generation](ServerListView* self, std::optional<ReadRows> read) {
            self->onRowsRead(generation, std::move(read), FillKind::Search);
        });
}

void ServerListView::listExpiring() {
    const quint64 generation = supersede();
    runThenDeliver(
        *QThreadPool::globalInstance(), this,
        [path = context_.databasePath()]() -> std::optional<ReadRows> {
            const QDateTime now = QDateTime::currentDateTime();
            const std::optional<QList<ServerRecord>> servers =
                StoreActions::readServers(path, reloadQuery());
            if (!servers)
                return std::nullopt;
            return tallied(ServerListModel::rowsOf(RentalExpiry::expiringServers(*servers, now),
                                                   kWaitingForProbe, now));
        },
        [generation](ServerListView* self, std::optional<ReadRows> read) {
            self->onRowsRead(generation, std::move(read), FillKind::Search);
        });
}

void ServerListView::reportQueryFailure() {
    Prompt::inform(view_->window(), kQueryFailed, u"提示"_s, QMessageBox::Critical);
}

void ServerListView::startFill(ListRows rows, FillKind kind) {
    model_->clear();
    pending_ = std::move(rows);
    nextPending_ = 0;
    fillKind_ = kind;
    // The first row appears at once, each further one after the pause.
    fill_.setPause(
        std::chrono::milliseconds(kind == FillKind::Reload ? kReloadPaceMs : kSearchPaceMs));
    fill_.start([this] { return appendNextRow(); });
}

bool ServerListView::appendNextRow() {
    const qsizetype total = qsizetype(pending_.size());
    if (nextPending_ < total) {
        const int row = model_->appendRow(std::move(pending_[size_t(nextPending_++)]));
        if (fillKind_ == FillKind::Search)
            Q_EMIT probeRowRequested(row);
        else
            Q_EMIT reloadProgress(int(nextPending_), int(total));
        if (nextPending_ < total)
            return true;
    }
    stopFill();
    busy_ = false;
    if (fillKind_ == FillKind::Reload) {
        reloadTally_ = readTally_;
        Q_EMIT probeAllRequested();
        Q_EMIT reloaded();
    }
    Q_EMIT fillFinished();
    return false;
}

void ServerListView::stopFill() {
    fill_.stop();
    ServerListModel::discard(std::move(pending_));
    pending_.clear();
    nextPending_ = 0;
}

bool ServerListView::isFilling() const {
    return busy_;
}

// The keys are sorted and the new index of ids is made on a worker, from one column's texts and
// the ids, copied here a few milliseconds at a time; the UI thread only puts the rows in their
// new order. When rows came or went in the meantime (a batch add, a deletion), the rows there
// are now are sorted instead.
void ServerListView::sortByColumn(int column) {
    const quint64 generation = supersede();
    auto input = std::make_shared<ServerListModel::SortInput>(model_->startSortInput(column));
    fill_.setPause(std::chrono::milliseconds(0));
    fill_.start([this, generation, input] { return copySortKeys(generation, input); });
}

bool ServerListView::copySortKeys(quint64 generation,
                                  const std::shared_ptr<ServerListModel::SortInput>& input) {
    QElapsedTimer spent;
    spent.start();
    while (!model_->addSortKeys(*input, kSortKeysPerCopy))
        if (spent.elapsed() >= kSortCopyStepMs)
            return true;
    runThenDeliver(
        *QThreadPool::globalInstance(), this, [input] { return ServerListModel::sorted(*input); },
        [generation, column = input->column](ServerListView* self,
                                             ServerListModel::Reorder reorder) {
            self->onSorted(generation, column, std::move(reorder));
        });
    return false;
}

void ServerListView::onSorted(quint64 generation, int column, ServerListModel::Reorder reorder) {
    if (generation != generation_)
        return;
    if (!model_->reorder(std::move(reorder))) {
        sortByColumn(column);
        return;
    }
    busy_ = false;
    Q_EMIT probeAllRequested();
    Q_EMIT fillFinished();
}

void ServerListView::checkAll() {
    view_->setFocus();
    for (int row = 0; row < model_->rowCount(); ++row)
        model_->setChecked(row, true);
}

void ServerListView::uncheckAll() {
    view_->setFocus();
    for (int row = 0; row < model_->rowCount(); ++row)
        model_->setChecked(row, false);
}

void ServerListView::invertChecks() {
    view_->setFocus();
    for (int row = 0; row < model_->rowCount(); ++row)
        model_->setChecked(row, !model_->isChecked(row));
}

int ServerListView::selectedRow() const {
    const QModelIndex current = view_->currentIndex();
    return current.isValid() ? current.row() : -1;
}
