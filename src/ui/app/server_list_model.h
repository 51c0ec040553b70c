#pragma once

#include "core/store/records.h"
#include "core/store/rental_expiry.h"
#include "ui/app/list_columns.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QHash>
#include <QIcon>
#include <QList>

#include <memory>
#include <vector>

// One row of the server list: the server's record as stored, the text of its 状态 cell, its
// rental outlook (read once, when the row is made), its check mark, and the image index of its
// 状态 cell (-1: none) with the moment that image was set. The record is never changed in
// place, so a read on a worker may share it (see ListRowMaker).
struct ListRow {
    std::shared_ptr<const ServerRecord> server;
    QString status;
    RentalExpiry::Outlook rental;
    bool checked = false;
    int statusImage = -1;
    QDateTime statusSetAt = {};
};

// Rows by pointer: a reorder or a growing list moves pointers, never the rows' texts.
using ListRows = std::vector<std::unique_ptr<ListRow>>;
using SharedRecords = std::vector<std::shared_ptr<const ServerRecord>>;

// Makes the rows of a fill from records as they are read, their rentals read at one moment.
// A record equal to one the list already shows is not kept: the row shares the list's, so a
// reload of a long list holds its texts once rather than twice while it reads.
class ListRowMaker {
public:
    ListRowMaker(SharedRecords known, QString status, QDateTime now);
    void add(ServerRecord&& server);
    ListRows take() { return std::move(rows_); }

private:
    std::shared_ptr<const ServerRecord> shared(ServerRecord&& server) const;

    SharedRecords known_;
    QHash<QString, qsizetype> knownById_;
    QString status_;
    QDateTime now_;
    ListRows rows_;
};

// The rows behind 超级列表框1, keyed by the servers' ids. The view shows ten cells of each
// row (ID to 排序); actions take the row's record, which no cell shows whole (its password
// and panel fields are in no cell at all).
class ServerListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ServerListModel(QObject* parent = nullptr);

    static QString caption(int column);
    // The text a row shows in `column`, exactly as stored.
    static QString cellText(const ListRow& row, int column);
    // Rows for `servers` with `status` in their 状态 cells, their rental read at `now` (one
    // moment for all rows of a fill).
    static ListRows rowsOf(QList<ServerRecord> servers, const QString& status,
                           const QDateTime& now);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The row operations the rest of the program uses. Out-of-range rows read as empty and
    // ignore writes.
    int appendRow(std::unique_ptr<ListRow> row);
    // Appends the rows at the end in one insertion; returns the index of the first. The list
    // grows by doubling, so appending slice after slice copies nothing already there.
    int appendRows(ListRows rows);
    void deleteRow(int row);
    QString cell(int row, int column) const;
    // The server a row shows; an empty record for a row that does not exist.
    ServerRecord server(int row) const;
    // Every listed server, in display order.
    QList<ServerRecord> servers() const;
    // Puts a saved server in its row: its record and rental change, its 状态, check mark and
    // dot stay.
    void updateServer(int row, const ServerRecord& server, const QDateTime& now);
    void setStatus(int row, const QString& status);
    void setStatusImage(int row, int image);
    int statusImage(int row) const;
    bool isChecked(int row) const;
    void setChecked(int row, bool checked);
    // The row that shows the server with this id; -1 when none does.
    int rowOfId(const QString& id) const { return id.isEmpty() ? -1 : rowById_.value(id, -1); }
    // The row that shows the server with this id, address and port; -1 when none does.
    int rowOfServer(const QString& id, const QString& address, const QString& port) const;
    void clear();
    void replaceRows(ListRows rows);
    // The records of every row, for a read to share (see ListRowMaker).
    SharedRecords records() const;

    // A sort of the whole list runs on a worker from one column's texts and the rows' ids (in
    // display order), never from the rows themselves, so the rows stay the UI thread's alone.
    struct SortInput {
        int column = 0;
        QList<QString> keys;
        QList<QString> ids;
        // Which rows these are: it changes whenever rows come or go.
        quint64 layout = 0;
    };
    // An input for a sort by `column`, with no row's key in it yet.
    SortInput startSortInput(int column) const;
    // Adds the keys and ids of up to `count` further rows to `input`; true once every row's
    // are in. A long list's are copied a part at a time, so the window never waits for all.
    bool addSortKeys(SortInput& input, qsizetype count) const;
    // The worker's part: the new order (element k is the row that goes to position k) and the
    // index of ids in that order.
    struct Reorder {
        std::vector<qsizetype> order;
        QHash<QString, int> rowById;
        quint64 layout = 0;
    };
    static Reorder sorted(const SortInput& input);
    // Puts the rows in the new order, every check mark and dot cleared. False, with nothing
    // changed, when rows came or went since the input was taken.
    bool reorder(Reorder reorder);

    // The pictures the 状态 cell's image index refers to.
    void setStatusImages(QList<QIcon> images);

    // Frees rows (and an index of them) on a worker: a long list's texts are many thousand
    // strings, and freeing them held up the window for tens of milliseconds.
    static void discard(ListRows rows, QHash<QString, int> index = {});

private:
    bool isValidRow(int row) const { return row >= 0 && row < rowCount(); }
    const ListRow& at(int row) const { return *rows_[size_t(row)]; }
    ListRow& at(int row) { return *rows_[size_t(row)]; }

    void indexRows();
    static QVariant toolTip(const ListRow& row, int column);
    static QString statusToolTip(const ListRow& row);
    static QVariant rentalTint(const ListRow& row);

    ListRows rows_;
    QHash<QString, int> rowById_;
    quint64 layout_ = 0;
    QList<QIcon> statusImages_;
};
