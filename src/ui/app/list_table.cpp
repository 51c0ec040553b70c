#include "ui/app/list_table.h"

#include <QHeaderView>

ListTable::ListTable(QWidget* parent) : QTableView(parent) {
    // The table connects this by name; onRowCountChanged takes its place.
    disconnect(verticalHeader(), SIGNAL(sectionCountChanged(int, int)), this,
               SLOT(rowCountChanged(int, int)));
    connect(verticalHeader(), &QHeaderView::sectionCountChanged, this,
            &ListTable::onRowCountChanged);
    geometryTimer_.setSingleShot(true);
    geometryTimer_.setInterval(kScrollBarCatchUpMs);
    connect(&geometryTimer_, &QTimer::timeout, this, &ListTable::updateGeometries);
}

void ListTable::onRowCountChanged(int oldCount, int newCount) {
    if (newCount < oldCount) {
        // Rows went away: lay out and repaint everything, as the table always does.
        verticalHeader()->setUpdatesEnabled(false);
        scheduleDelayedItemsLayout();
        return;
    }
    if (!geometryTimer_.isActive())
        geometryTimer_.start();
}

// The header has counted the new rows by now: repaint from the first new row down, and only
// when it can be seen.
void ListTable::rowsInserted(const QModelIndex& parent, int start, int end) {
    QTableView::rowsInserted(parent, start, end);
    const int top = rowViewportPosition(start);
    if (top < viewport()->height())
        viewport()->update(0, std::max(top, 0), viewport()->width(), viewport()->height());
}
