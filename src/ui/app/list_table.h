#pragma once

#include <QTableView>
#include <QTimer>

// The table behind the server list, made cheap to grow one row at a time. On each new row
// the plain table repaints every visible cell and its scroll bar; during a paced fill of a
// long list that was a full repaint every 10 ms. Here a row appended below the visible rows
// repaints nothing, and the scroll bar catches up with the row count at most every 100 ms.
class ListTable : public QTableView {
    Q_OBJECT
public:
    static constexpr int kScrollBarCatchUpMs = 100;

    explicit ListTable(QWidget* parent = nullptr);

protected:
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    // A cell whose text its column cuts short shows that text in full as its tooltip, above
    // the model's own tooltip for the cell.
    bool viewportEvent(QEvent* event) override;

private:
    void onRowCountChanged(int oldCount, int newCount);
    bool isCutShort(const QModelIndex& index) const;

    QTimer geometryTimer_{this};
};
