#include "ui/app/list_header.h"

#include <QPainter>

ListHeader::ListHeader(const QSet<int>& markedColumns, const QPixmap& mark, QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent), markedColumns_(markedColumns), mark_(mark) {}

void ListHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    painter->save();
    QHeaderView::paintSection(painter, rect, logicalIndex);
    painter->restore();
    if (!markedColumns_.contains(logicalIndex) || rect.width() <= 0)
        return;
    const QString caption =
        model() ? model()->headerData(logicalIndex, Qt::Horizontal).toString() : QString();
    const int textRight = rect.left() + 6 + fontMetrics().horizontalAdvance(caption);
    const QPoint at(qMin(textRight + 4, rect.right() - mark_.width()),
                    rect.top() + (rect.height() - mark_.height()) / 2);
    painter->drawPixmap(at, mark_);
}
