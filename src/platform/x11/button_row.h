#pragma once

#include <QImage>
#include <QPoint>

#include <optional>

// Finds push buttons in the picture of a dialog whose toolkit draws them without windows of
// their own. Buttons are boxes with an edge that stands out from what lies above and below
// it; the dialog's button row is the lowest row holding at least three such boxes side by
// side. Text, separators and the window's own edges never form three long edge runs on one
// line, so they are not taken for it.
namespace ButtonRow {

// Shortest button width and the range of button heights that count, in pixels.
constexpr int kMinButtonWidth = 24;
constexpr int kMinButtonHeight = 12;
constexpr int kMaxButtonHeight = 80;
// How much a pixel's brightness (0-255) must differ from its upper or lower neighbour to
// be part of an edge.
constexpr int kEdgeContrast = 24;

// The centre of the button at `placeFromRight` (1 = the rightmost) in the bottom button row
// of `dialog`; nothing when there is no such row or button.
std::optional<QPoint> locate(const QImage& dialog, int placeFromRight);

} // namespace ButtonRow
