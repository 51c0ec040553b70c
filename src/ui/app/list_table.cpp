#include "ui/app/list_table.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QToolTip>

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

bool ListTable::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip)
        return QTableView::viewportEvent(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = indexAt(help->pos());
    if (!index.isValid() || !isCutShort(index))
        return QTableView::viewportEvent(event);
    QString tip = index.data(Qt::DisplayRole).toString();
    const QString modelTip = index.data(Qt::ToolTipRole).toString();
    if (!modelTip.isEmpty())
        tip += u'\n' + modelTip;
    QToolTip::showText(help->globalPos(), tip, viewport(), visualRect(index));
    return true;
}

bool ListTable::isCutShort(const QModelIndex& index) const {
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty())
        return false;
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    option.text = text;
    option.features |= QStyleOptionViewItem::HasDisplay;
    if (index.flags().testFlag(Qt::ItemIsUserCheckable))
        option.features |= QStyleOptionViewItem::HasCheckIndicator;
    if (index.data(Qt::DecorationRole).isValid())
        option.features |= QStyleOptionViewItem::HasDecoration;
    const QRect textArea = style()->subElementRect(QStyle::SE_ItemViewItemText, &option, this);
    return option.fontMetrics.horizontalAdvance(text) > textArea.width();
}
