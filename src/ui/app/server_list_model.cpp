#include "ui/app/server_list_model.h"

#include "core/store/rental_expiry.h"
#include "core/support/time_text.h"
#include "ui/remote/reachability_probe.h"

#include <QColor>
#include <QThreadPool>

using namespace Qt::StringLiterals;

ServerListModel::ServerListModel(QObject* parent) : QAbstractTableModel(parent) {}

QString ServerListModel::caption(int column) {
    static const QStringList kCaptions = {
        u"ID"_s,         u"分组"_s,        u"服务器名称"_s, u"服务器IP"_s,  u"开始时间"_s,
        u"到期时间"_s,   u"备注"_s,        u"系统"_s,       u"状态"_s,      u"排序"_s,
        u"端口"_s,       u"用户名"_s,      u"密码"_s,       u"baota_url"_s, u"baota_user"_s,
        u"baota_pass"_s, u"baota_apikey"_s};
    return kCaptions.value(column);
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
    const ListRow& row = rows_[index.row()];
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return row.cells[column];
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

int ServerListModel::appendRow(const ListCells& cells) {
    const int row = int(rows_.size());
    beginInsertRows({}, row, row);
    rows_.append(ListRow{cells});
    rowById_.insert(cells[ListColumn::Id], row);
    endInsertRows();
    return row;
}

void ServerListModel::reserveRows(qsizetype count) {
    rows_.reserve(count);
    rowById_.reserve(count);
}

int ServerListModel::appendRows(const QList<ListCells>& rows) {
    const int first = int(rows_.size());
    if (rows.isEmpty())
        return first;
    beginInsertRows({}, first, first + int(rows.size()) - 1);
    rows_.reserve(rows_.size() + rows.size());
    for (const ListCells& cells : rows) {
        rowById_.insert(cells[ListColumn::Id], int(rows_.size()));
        rows_.append(ListRow{cells});
    }
    endInsertRows();
    return first;
}

void ServerListModel::deleteRow(int row) {
    if (!isValidRow(row))
        return;
    beginRemoveRows({}, row, row);
    rows_.removeAt(row);
    indexRows();
    endRemoveRows();
}

QString ServerListModel::cell(int row, int column) const {
    if (!isValidRow(row) || column < 0 || column >= ListColumn::Count)
        return {};
    return rows_[row].cells[column];
}

void ServerListModel::setCell(int row, int column, const QString& text) {
    if (!isValidRow(row) || column < 0 || column >= ListColumn::Count)
        return;
    if (column == ListColumn::Id) {
        rowById_.remove(rows_[row].cells[column]);
        rowById_.insert(text, row);
    }
    rows_[row].cells[column] = text;
    const QModelIndex changed = index(row, column);
    Q_EMIT dataChanged(changed, changed, {Qt::DisplayRole});
}

void ServerListModel::setStatusImage(int row, int image) {
    if (!isValidRow(row))
        return;
    rows_[row].statusImage = image;
    rows_[row].statusSetAt = image >= 0 ? QDateTime::currentDateTime() : QDateTime();
    const QModelIndex changed = index(row, ListColumn::Status);
    Q_EMIT dataChanged(changed, changed, {Qt::DecorationRole});
}

int ServerListModel::statusImage(int row) const {
    return isValidRow(row) ? rows_[row].statusImage : -1;
}

bool ServerListModel::isChecked(int row) const {
    return isValidRow(row) && rows_[row].checked;
}

void ServerListModel::setChecked(int row, bool checked) {
    if (!isValidRow(row) || rows_[row].checked == checked)
        return;
    rows_[row].checked = checked;
    const QModelIndex changed = index(row, ListColumn::Id);
    Q_EMIT dataChanged(changed, changed, {Qt::CheckStateRole});
}

int ServerListModel::rowOfServer(const QString& id, const QString& address,
                                 const QString& port) const {
    const int row = rowById_.value(id, -1);
    if (id.isEmpty() || row < 0 || rows_[row].cells[ListColumn::Address] != address ||
        rows_[row].cells[ListColumn::Port] != port)
        return -1;
    return row;
}

void ServerListModel::clear() {
    replaceRows({});
}

void ServerListModel::replaceRows(QList<ListRow> rows) {
    replaceIndexedRows(indexed(std::move(rows)));
}

ServerListModel::IndexedRows ServerListModel::indexed(QList<ListRow> rows) {
    IndexedRows result{std::move(rows), {}};
    indexRows(result.rows, result.rowById);
    return result;
}

void ServerListModel::replaceIndexedRows(IndexedRows rows) {
    beginResetModel();
    rows_.swap(rows.rows);
    rowById_.swap(rows.rowById);
    endResetModel();
    // The rows that went out are freed on a worker: a long list's cells are many thousand
    // strings, and freeing them held up the window for tens of milliseconds.
    if (!rows.rows.isEmpty())
        QThreadPool::globalInstance()->start([old = std::move(rows)] { static_cast<void>(old); });
}

void ServerListModel::indexRows() {
    indexRows(rows_, rowById_);
}

void ServerListModel::indexRows(const QList<ListRow>& rows, QHash<QString, int>& rowById) {
    rowById.clear();
    rowById.reserve(rows.size());
    for (int row = 0; row < rows.size(); ++row)
        rowById.insert(rows[row].cells[ListColumn::Id], row);
}

void ServerListModel::setStatusImages(QList<QIcon> images) {
    statusImages_ = std::move(images);
    if (!rows_.isEmpty())
        Q_EMIT dataChanged(index(0, ListColumn::Status),
                           index(int(rows_.size()) - 1, ListColumn::Status), {Qt::DecorationRole});
}

// The 状态 cell says what its dot means and when it was set; a row whose rental end can be
// read says how many days are left, on every cell of a tinted row and on its 到期时间 cell.
QVariant ServerListModel::toolTip(const ListRow& row, int column) {
    if (column == ListColumn::Status)
        return statusToolTip(row);
    const auto outlook =
        RentalExpiry::outlook(row.cells[ListColumn::EndTime], QDateTime::currentDateTime());
    const bool tinted = outlook.standing == RentalExpiry::Standing::EndingSoon ||
                        outlook.standing == RentalExpiry::Standing::Ended;
    if (column == ListColumn::EndTime || tinted) {
        const QString days = RentalExpiry::daysLeftText(outlook);
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
    switch (RentalExpiry::outlook(row.cells[ListColumn::EndTime], QDateTime::currentDateTime())
                .standing) {
    case RentalExpiry::Standing::EndingSoon:
        return QColor(0xff, 0xe0, 0x99);
    case RentalExpiry::Standing::Ended:
        return QColor(0xff, 0xbf, 0xbf);
    default:
        return {};
    }
}
