#pragma once

#include "core/store/server_queries.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QHash>
#include <QIcon>
#include <QList>

// One row of the server list: its seventeen cells, its check mark, the image index of its
// 状态 cell (-1: none) and when that image was set.
struct ListRow {
    ListCells cells;
    bool checked = false;
    int statusImage = -1;
    QDateTime statusSetAt = {};
};
// Strings move in memory as they are, so a growing list of rows moves its block instead of
// copying every cell.
Q_DECLARE_TYPEINFO(ListRow, Q_RELOCATABLE_TYPE);

// The rows behind 超级列表框1. Cells hold text exactly as read from the database.
class ServerListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ServerListModel(QObject* parent = nullptr);

    static QString caption(int column);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The row operations the rest of the program uses. Out-of-range rows read as empty and
    // ignore writes.
    int appendRow(const ListCells& cells);
    // Room for `count` rows in all, so a fill that appends them one by one never regrows.
    void reserveRows(qsizetype count);
    // Appends the rows at the end in one insertion; returns the index of the first.
    int appendRows(const QList<ListCells>& rows);
    void deleteRow(int row);
    QString cell(int row, int column) const;
    void setCell(int row, int column, const QString& text);
    void setStatusImage(int row, int image);
    int statusImage(int row) const;
    bool isChecked(int row) const;
    void setChecked(int row, bool checked);
    // The row that shows the server with this id; -1 when none does.
    int rowOfId(const QString& id) const { return id.isEmpty() ? -1 : rowById_.value(id, -1); }
    // The row that shows the server with this id, address and port; -1 when none does.
    int rowOfServer(const QString& id, const QString& address, const QString& port) const;
    void clear();
    void replaceRows(QList<ListRow> rows);

    // Rows together with the index of their ids. Building it costs a hash insert per row, so a
    // long list is indexed on a worker and then put in at once.
    struct IndexedRows {
        QList<ListRow> rows;
        QHash<QString, int> rowById;
    };
    static IndexedRows indexed(QList<ListRow> rows);
    void replaceIndexedRows(IndexedRows rows);
    const QList<ListRow>& rows() const { return rows_; }

    // The pictures the 状态 cell's image index refers to.
    void setStatusImages(QList<QIcon> images);

private:
    bool isValidRow(int row) const { return row >= 0 && row < rows_.size(); }

    void indexRows();
    static QVariant toolTip(const ListRow& row, int column);
    static QString statusToolTip(const ListRow& row);
    static QVariant rentalTint(const ListRow& row);
    static void indexRows(const QList<ListRow>& rows, QHash<QString, int>& rowById);

    QList<ListRow> rows_;
    QHash<QString, int> rowById_;
    QList<QIcon> statusImages_;
};
