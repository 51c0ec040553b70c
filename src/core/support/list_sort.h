#pragma once

#include <QList>
#include <QString>

#include <vector>

// The server list's column sort (ascending only).
//
// Column 0 compares the leading number of each text (as C's atof reads it; values within
// 0.0000001 are equal), columns 1 and 2 the leading integer (as C's atoi reads it), both after
// full-width characters are folded to half-width; every other column compares the unsigned
// bytes of the text's GBK form. Rows are arranged by a quicksort that takes the first row of
// each range as its pivot; rows with equal keys end where that partitioning leaves them,
// which is part of the list's behaviour and is kept exactly.
namespace ListSort {

// Full-width ASCII forms (U+FF01..U+FF5E) and the ideographic space become half-width.
QString foldFullWidth(const QString& text);
double leadingNumber(const QString& text);
int leadingInteger(const QString& text);

// The new order of the rows: element k is the index (into `cells`) of the row that goes to
// position k. `cells` holds the clicked column's text of every row, in display order.
std::vector<qsizetype> sortOrder(const QList<QString>& cells, int column);

} // namespace ListSort
