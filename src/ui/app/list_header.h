#pragma once

#include <QHeaderView>
#include <QPixmap>
#include <QSet>

// The server list's header: a small picture drawn at the right of the caption of the marked
// columns.
class ListHeader : public QHeaderView {
    Q_OBJECT
public:
    ListHeader(const QSet<int>& markedColumns, const QPixmap& mark, QWidget* parent = nullptr);

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    QSet<int> markedColumns_;
    QPixmap mark_;
};
