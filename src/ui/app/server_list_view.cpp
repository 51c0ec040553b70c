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
#include <QMenu>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QThreadPool>

using namespace Qt::StringLiterals;

namespace {

constexpr std::array<int, ListColumn::Count> kColumnWidths = {
    50, 100, 120, 140, 135, 135, 180, 80, 55, 75, 0, 0, 0, 0, 0, 0, 0};

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
    for (int c = 0; c < ListColumn::Count; ++c) {
        // Hidden columns still hold their text; every action reads them from the row.
        if (kColumnWidths[c] == 0)
            view_->setColumnHidden(c, true);
        else
            header->resizeSection(c, kColumnWidths[c]);
    }
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
    const quint64 generation = supersede();
    reloadReading_ = true;
    runThenDeliver(
        *QThreadPool::globalInstance(), this,
        [path = context_.databasePath()] {
            return StoreActions::readListRows(path, reloadQuery(), {});
        },
        [generation](ServerListView* self, std::optional<QList<ListCells>> rows) {
            self->reloadReading_ = false;
            if (self->reloadAgain_)
                self->startReloadRead();
            else
                self->onRowsRead(generation, std::move(rows), FillKind::Reload);
        });
}

void ServerListView::onRowsRead(quint64 generation, std::optional<QList<ListCells>> rows,
                                FillKind kind) {
    if (generation != generation_)
        return;
    if (!rows) {
        busy_ = false;
        reportQueryFailure();
        return;
    }
    startFill(std::move(*rows), kind);
}

void ServerListView::search(const QString& mode, const QString& text, const QString& group) {
    if (isSearchTextTooLong(mode, text)) {
        Prompt::inform(view_->window(), kSearchTextTooLong, u"提示"_s);
        return;
    }
    const quint64 generation = supersede();
    runThenDeliver(
        *QThreadPool::globalInstance(), this,
        [path = context_.databasePath(), query = searchQuery(mode, text, group)] {
            return StoreActions::readListRows(path, query, kWaitingForProbe);
        },
        [generation](ServerListView* self, std::optional<QList<ListCells>> rows) {
            self->onRowsRead(generation, std::move(rows), FillKind::Search);
        });
}

void ServerListView::listExpiring() {
    const quint64 generation = supersede();
    runThenDeliver(
        *QThreadPool::globalInstance(), this,
        [path = context_.databasePath()]() -> std::optional<QList<ListCells>> {
            std::optional<QList<ListCells>> rows =
                StoreActions::readListRows(path, reloadQuery(), kWaitingForProbe);
            if (!rows)
                return rows;
            return RentalExpiry::expiringRows(*rows, QDateTime::currentDateTime());
        },
        [generation](ServerListView* self, std::optional<QList<ListCells>> rows) {
            self->onRowsRead(generation, std::move(rows), FillKind::Search);
        });
}

void ServerListView::reportQueryFailure() {
    Prompt::inform(view_->window(), kQueryFailed, u"提示"_s, QMessageBox::Critical);
}

void ServerListView::startFill(QList<ListCells> rows, FillKind kind) {
    model_->clear();
    model_->reserveRows(rows.size());
    pending_ = std::move(rows);
    nextPending_ = 0;
    fillKind_ = kind;
    // The first row appears at once, each further one after the pause.
    fill_.setPause(
        std::chrono::milliseconds(kind == FillKind::Reload ? kReloadPaceMs : kSearchPaceMs));
    fill_.start([this] { return appendNextRow(); });
}

bool ServerListView::appendNextRow() {
    if (nextPending_ < pending_.size()) {
        const int row = model_->appendRow(pending_[nextPending_++]);
        if (fillKind_ == FillKind::Search)
            Q_EMIT probeRowRequested(row);
        else
            Q_EMIT reloadProgress(int(nextPending_), int(pending_.size()));
        if (nextPending_ < pending_.size())
            return true;
    }
    stopFill();
    busy_ = false;
    if (fillKind_ == FillKind::Reload) {
        Q_EMIT probeAllRequested();
        Q_EMIT reloaded();
    }
    Q_EMIT fillFinished();
    return false;
}

void ServerListView::stopFill() {
    fill_.stop();
    pending_.clear();
    nextPending_ = 0;
}

bool ServerListView::isFilling() const {
    return busy_;
}

// The keys, the sort, the rows in their new order and their index are all made on a worker
// from a snapshot of the rows; the UI thread only puts the result in.
void ServerListView::sortByColumn(int column) {
    const quint64 generation = supersede();
    runThenDeliver(
        *QThreadPool::globalInstance(), this,
        [rows = model_->rows(), column] {
            QList<QString> keys;
            keys.reserve(rows.size());
            for (const ListRow& row : rows)
                keys << row.cells[column];
            QList<ListRow> sorted;
            sorted.reserve(rows.size());
            for (qsizetype from : ListSort::sortOrder(keys, column))
                sorted << ListRow{rows[from].cells};
            return ServerListModel::indexed(std::move(sorted));
        },
        [generation](ServerListView* self, ServerListModel::IndexedRows sorted) {
            self->onSorted(generation, std::move(sorted));
        });
}

void ServerListView::onSorted(quint64 generation, ServerListModel::IndexedRows sorted) {
    if (generation != generation_)
        return;
    model_->replaceIndexedRows(std::move(sorted));
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
