#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// Edge docking of the main window, run every 10 ms. A window pushed against the top, left or
// right screen edge, or down to 30 pixels above the bottom, hides to a 2-pixel strip while
// the cursor is away and comes back when the cursor touches it. A docked window is also
// raised above other windows on every tick.
namespace EdgeDocking {

struct Step {
    QPoint topLeft; // where the window's outer frame goes
    bool raise = false;
};

// One tick, from the window's outer frame, the primary screen's size and the cursor
// position, all in screen pixels.
Step step(const QRect& window, const QSize& screen, const QPoint& cursor);

// Where a window's outer frame can lie without counting as docked at any edge: 10 pixels in
// from the top and left (where a revealed window returns to), short of the right edge, and
// more than 30 pixels above the bottom.
QRect restingArea(const QSize& screen);

} // namespace EdgeDocking
