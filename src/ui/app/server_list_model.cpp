#include "ui/app/server_list_model.h"

#include "core/store/rental_expiry.h"
#include "core/support/list_sort.h"
#include "core/support/time_text.h"
#include "ui/remote/reachability_probe.h"

#include <QColor>
#include <QThreadPool>

#include <algorithm>

using namespace Qt::StringLiterals;

ServerListModel::ServerListModel(QObject* parent) : QAbstractTableModel(parent) {}

QString ServerListModel::caption(int column) {
    static const QStringList kCaptions = {
        u"ID"_s,       u"分组"_s, u"服务器名称"_s, u"服务器IP"_s, u"开始时间"_s,
        u"到期时间"_s, u"备注"_s, u"系统"_s,       u"状态"_s,     u"排序"_s};
    return kCaptions.value(column);
}

QString ServerListModel::cellText(const ListRow& row, int column) {
    const ServerRecord& s = *row.server;
    switch (column) {
    case ListColumn::Id:
        return s.id;
    case ListColumn::Group:
        return s.group;
    case ListColumn::Name:
        return s.name;
    case ListColumn::Address:
        return s.ip;
    case ListColumn::StartTime:
        return s.startTime;
    case ListColumn::EndTime:
        return s.endTime;
    case ListColumn::Remark:
        return s.remark;
    case ListColumn::System:
        return s.system;
    case ListColumn::Status:
        return row.status;
    case ListColumn::Sort:
        return s.sort;
    default:
        return {};
    }
}

ListRowMaker::ListRowMaker(SharedRecords known, QString status, QDateTime now)
    : known_(std::move(known)), status_(std::move(status)), now_(std::move(now)) {
    knownById_.reserve(qsizetype(known_.size()));
    for (size_t k = 0; k < known_.size(); ++k)
        knownById_.insert(known_[k]->id, qsizetype(k));
}

std::shared_ptr<const ServerRecord> ListRowMaker::shared(ServerRecord&& server) const {
    const qsizetype k = knownById_.value(server.id, -1);
    if (k >= 0 && *known_[size_t(k)] == server)
        return known_[size_t(k)];
    return std::make_shared<const ServerRecord>(std::move(server));
}

void ListRowMaker::add(ServerRecord&& server) {
    auto row = std::make_unique<ListRow>();
    row->rental = RentalExpiry::outlook(server.endTime, now_);
    row->server = shared(std::move(server));
    row->status = status_;
    rows_.push_back(std::move(row));
}

ListRows ServerListModel::rowsOf(QList<ServerRecord> servers, const QString& status,
                                 const QDateTime& now) {
    ListRowMaker maker({}, status, now);
    for (ServerRecord& server : servers)
        maker.add(std::move(server));
    return maker.take();
}

int ServerListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int ServerListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ListColumn::Count;
}

QVariant ServerListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !isValidRow(index.row()))
        return {};
    const ListRow& row = at(index.row());
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return cellText(row, column);
    case Qt::CheckStateRole:
        if (column == ListColumn::Id)
            return row.checked ? Qt::Checked : Qt::Unchecked;
        return {};
    case Qt::DecorationRole:
        if (column == ListColumn::Status && row.statusImage >= 0 &&
            row.statusImage < statusImages_.size())
            return statusImages_[row.statusImage];
        return {};
    case Qt::TextAlignmentRole:
        return column == ListColumn::Status ? int(Qt::AlignCenter)
                                            : int(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::ToolTipRole:
        return toolTip(row, column);
    case Qt::BackgroundRole:
        return rentalTint(row);
    default:
        return {};
    }
}

bool ServerListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || index.column() != ListColumn::Id)
        return false;
    setChecked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags ServerListModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.column() == ListColumn::Id)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant ServerListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole)
        return caption(section);
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

int ServerListModel::appendRow(std::unique_ptr<ListRow> row) {
    ListRows rows;
    rows.push_back(std::move(row));
    return appendRows(std::move(rows));
}

int ServerListModel::appendRows(ListRows rows) {
    const int first = rowCount();
    if (rows.empty())
        return first;
    beginInsertRows({}, first, first + int(rows.size()) - 1);
    ++layout_;
    for (auto& row : rows) {
        rowById_.insert(row->server->id, rowCount());
        rows_.push_back(std::move(row));
    }
    endInsertRows();
    return first;
}

void ServerListModel::deleteRow(int row) {
    if (!isValidRow(row))
        return;
    beginRemoveRows({}, row, row);
    ++layout_;
    rows_.erase(rows_.begin() + row);
    indexRows();
    endRemoveRows();
}

QString ServerListModel::cell(int row, int column) const {
    return isValidRow(row) ? cellText(at(row), column) : QString();
}

ServerRecord ServerListModel::server(int row) const {
    return isValidRow(row) ? *at(row).server : ServerRecord();
}

QList<ServerRecord> ServerListModel::servers() const {
    QList<ServerRecord> result;
    result.reserve(rowCount());
    for (const auto& row : rows_)
        result << *row->server;
    return result;
}

SharedRecords ServerListModel::records() const {
    SharedRecords result;
    result.reserve(rows_.size());
    for (const auto& row : rows_)
        result.push_back(row->server);
    return result;
}

void ServerListModel::updateServer(int row, const ServerRecord& server, const QDateTime& now) {
    if (!isValidRow(row))
        return;
    ListRow& shown = at(row);
    if (shown.server->id != server.id) {
        rowById_.remove(shown.server->id);
        rowById_.insert(server.id, row);
    }
    shown.server = std::make_shared<const ServerRecord>(server);
    shown.rental = RentalExpiry::outlook(server.endTime, now);
    Q_EMIT dataChanged(index(row, 0), index(row, ListColumn::Count - 1),
                       {Qt::DisplayRole, Qt::ToolTipRole, Qt::BackgroundRole});
}

void ServerListModel::setStatus(int row, const QString& status) {
    if (!isValidRow(row))
        return;
    at(row).status = status;
    const QModelIndex changed = index(row, ListColumn::Status);
    Q_EMIT dataChanged(changed, changed, {Qt::DisplayRole});
}

void ServerListModel::setStatusImage(int row, int image) {
    if (!isValidRow(row))
        return;
    at(row).statusImage = image;
    at(row).statusSetAt = image >= 0 ? QDateTime::currentDateTime() : QDateTime();
    const QModelIndex changed = index(row, ListColumn::Status);
    Q_EMIT dataChanged(changed, changed, {Qt::DecorationRole});
}

int ServerListModel::statusImage(int row) const {
    return isValidRow(row) ? at(row).statusImage : -1;
}

bool ServerListModel::isChecked(int row) const {
    return isValidRow(row) && at(row).checked;
}

void ServerListModel::setChecked(int row, bool checked) {
    if (!isValidRow(row) || at(row).checked == checked)
        return;
    at(row).checked = checked;
    const QModelIndex changed = index(row, ListColumn::Id);
    Q_EMIT dataChanged(changed, changed, {Qt::CheckStateRole});
}

int ServerListModel::rowOfServer(const QString& id, const QString& address,
                                 const QString& port) const {
    const int row = rowById_.value(id, -1);
    if (id.isEmpty() || row < 0 || at(row).server->ip != address || at(row).server->port != port)
        return -1;
    return row;
}

void ServerListModel::clear() {
    replaceRows({});
}

void ServerListModel::replaceRows(ListRows rows) {
    beginResetModel();
    ++layout_;
    rows_.swap(rows);
    QHash<QString, int> oldIndex;
    rowById_.swap(oldIndex);
    indexRows();
    endResetModel();
    discard(std::move(rows), std::move(oldIndex));
}

ServerListModel::SortInput ServerListModel::startSortInput(int column) const {
    SortInput input;
    input.column = column;
    input.keys.reserve(rowCount());
    input.ids.reserve(rowCount());
    input.layout = layout_;
    return input;
}

bool ServerListModel::addSortKeys(SortInput& input, qsizetype count) const {
    const qsizetype end = std::min(qsizetype(rows_.size()), input.keys.size() + count);
    for (qsizetype r = input.keys.size(); r < end; ++r) {
        const ListRow& row = *rows_[size_t(r)];
        input.keys << cellText(row, input.column);
        input.ids << row.server->id;
    }
    return end == qsizetype(rows_.size());
}

ServerListModel::Reorder ServerListModel::sorted(const SortInput& input) {
    Reorder result{ListSort::sortOrder(input.keys, input.column), {}, input.layout};
    result.rowById.reserve(input.ids.size());
    for (size_t k = 0; k < result.order.size(); ++k)
        result.rowById.insert(input.ids[result.order[k]], int(k));
    return result;
}

bool ServerListModel::reorder(Reorder reorder) {
    if (reorder.layout != layout_ || reorder.order.size() != rows_.size())
        return false;
    beginResetModel();
    ++layout_;
    ListRows ordered;
    ordered.reserve(rows_.size());
    for (qsizetype from : reorder.order) {
        ListRow& row = *rows_[size_t(from)];
        row.checked = false;
        row.statusImage = -1;
        row.statusSetAt = {};
        ordered.push_back(std::move(rows_[size_t(from)]));
    }
    rows_.swap(ordered);
    rowById_.swap(reorder.rowById);
    endResetModel();
    discard({}, std::move(reorder.rowById));
    return true;
}

void ServerListModel::discard(ListRows rows, QHash<QString, int> index) {
    if (rows.empty() && index.isEmpty())
        return;
    // Moved into a shared holder: the pool takes copyable work only.
    auto old = std::make_shared<std::pair<ListRows, QHash<QString, int>>>(std::move(rows),
                                                                          std::move(index));
    QThreadPool::globalInstance()->start([old]() mutable { old.reset(); });
}

void ServerListModel::indexRows() {
    rowById_.clear();
    rowById_.reserve(qsizetype(rows_.size()));
    for (int row = 0; row < rowCount(); ++row)
        rowById_.insert(at(row).server->id, row);
}

void ServerListModel::setStatusImages(QList<QIcon> images) {
    statusImages_ = std::move(images);
    if (!rows_.empty())
        Q_EMIT dataChanged(index(0, ListColumn::Status), index(rowCount() - 1, ListColumn::Status),
                           {Qt::DecorationRole});
}

// The 状态 cell says what its dot means and when it was set; a row whose rental end can be
// read says how many days are left, on every cell of a tinted row and on its 到期时间 cell.
QVariant ServerListModel::toolTip(const ListRow& row, int column) {
    if (column == ListColumn::Status)
        return statusToolTip(row);
    const bool tinted = row.rental.standing == RentalExpiry::Standing::EndingSoon ||
                        row.rental.standing == RentalExpiry::Standing::Ended;
    if (column == ListColumn::EndTime || tinted) {
        const QString days = RentalExpiry::daysLeftText(row.rental);
        if (!days.isEmpty())
            return u"到期时间：%1"_s.arg(days);
    }
    return {};
}

QString ServerListModel::statusToolTip(const ListRow& row) {
    if (row.statusImage < 0 || !row.statusSetAt.isValid())
        return u"尚未检测"_s;
    const QString answer =
        row.statusImage == ReachabilityProbe::kOnlineImage ? u"端口有响应"_s : u"端口无响应"_s;
    return u"%1\n检测时间：%2"_s.arg(answer, timeText(row.statusSetAt));
}

// Amber: the rental ends within a week; red: it has ended.
QVariant ServerListModel::rentalTint(const ListRow& row) {
    switch (row.rental.standing) {
    case RentalExpiry::Standing::EndingSoon:
        return QColor(0xff, 0xe0, 0x99);
    case RentalExpiry::Standing::Ended:
        return QColor(0xff, 0xbf, 0xbf);
    default:
        return {};
    }
}
