#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>

class QTimer;
class QWidget;

// Edge docking of the main window. A window pushed against the top, left or right screen edge,
// or down to 30 pixels above the bottom, hides to a 2-pixel strip while the cursor is away and
// comes back when the cursor touches it. A docked window is also raised above other windows
// whenever the steps run.
namespace EdgeDocking {

struct Step {
    QPoint topLeft; // where the window's outer frame goes
    bool raise = false;
};

// One tick, from the window's outer frame, the primary screen's size and the cursor
// position, all in screen pixels.
Step step(const QRect& window, const QSize& screen, const QPoint& cursor);

// True when the window's outer frame touches an edge the steps act on. A window that does not
// is left where it is wherever the cursor goes, and is not raised.
bool touchesEdge(const QRect& window, const QSize& screen);

// Where a window's outer frame can lie without counting as docked at any edge: 10 pixels in
// from the top and left (where a revealed window returns to), short of the right edge, and
// more than 30 pixels above the bottom.
QRect restingArea(const QSize& screen);

} // namespace EdgeDocking

// Runs the docking steps on a window whenever their outcome can change, instead of on a fast
// timer: when the window moves or changes size, when the pointer enters or leaves it, when the
// screen changes, and on a slow timer while the window touches an edge with the pointer outside
// it, because the pointer's moves over other windows and over the window's frame tell the
// window nothing. A window resting away from the edges wakes nobody.
class DockingWatch : public QObject {
public:
    static constexpr int kCheckIntervalMs = 250;

    // `timer` is the slow timer; the watch sets its interval and starts and stops it.
    DockingWatch(QWidget* window, QTimer* timer);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void scheduleCheck();
    void check();

    QWidget* window_;
    QTimer* timer_;
    bool checkPending_ = false;
    QPoint lastCursor_{-1, -1};
};
