#include "platform/x11/button_row.h"

#include <QList>

#include <cstdlib>

namespace {

struct Run {
    int first;
    int last;
};

int brightness(QRgb pixel) {
    return (qRed(pixel) * 299 + qGreen(pixel) * 587 + qBlue(pixel) * 114) / 1000;
}

bool isEdge(const QImage& image, int x, int y) {
    const int here = brightness(image.pixel(x, y));
    const auto differs = [&](int otherY) {
        return otherY >= 0 && otherY < image.height() &&
               std::abs(here - brightness(image.pixel(x, otherY))) > ButtonRow::kEdgeContrast;
    };
    return differs(y - 1) || differs(y + 1);
}

// The horizontal stretches of edge pixels on line `y` at least a button wide.
QList<Run> edgeRuns(const QImage& image, int y) {
    QList<Run> runs;
    int start = -1;
    for (int x = 0; x <= image.width(); ++x) {
        const bool edge = x < image.width() && isEdge(image, x, y);
        if (edge && start < 0)
            start = x;
        if (!edge && start >= 0) {
            if (x - start >= ButtonRow::kMinButtonWidth)
                runs.append({start, x - 1});
            start = -1;
        }
    }
    return runs;
}

// Rounded corners shorten a button's top and bottom edge runs a little.
bool sameSpan(const Run& a, const Run& b) {
    constexpr int kCornerSlack = 6;
    return std::abs(a.first - b.first) <= kCornerSlack && std::abs(a.last - b.last) <= kCornerSlack;
}

// The line of the button's top edge above its bottom edge at `bottom`.
std::optional<int> topEdge(const QImage& image, const Run& button, int bottom) {
    for (int y = bottom - ButtonRow::kMinButtonHeight;
         y >= 0 && y >= bottom - ButtonRow::kMaxButtonHeight; --y) {
        for (const Run& run : edgeRuns(image, y))
            if (sameSpan(run, button))
                return y;
    }
    return std::nullopt;
}

} // namespace

namespace ButtonRow {

std::optional<QPoint> locate(const QImage& dialog, int placeFromRight) {
    if (dialog.isNull() || placeFromRight < 1)
        return std::nullopt;
    for (int y = dialog.height() - 1; y >= dialog.height() / 2; --y) {
        const QList<Run> runs = edgeRuns(dialog, y);
        if (runs.size() < 3)
            continue;
        if (placeFromRight > runs.size())
            return std::nullopt;
        const Run button = runs[runs.size() - placeFromRight];
        const auto top = topEdge(dialog, button, y);
        if (!top)
            return std::nullopt;
        return QPoint((button.first + button.last) / 2, (*top + y) / 2);
    }
    return std::nullopt;
}

} // namespace ButtonRow
