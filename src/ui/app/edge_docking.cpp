#include "ui/app/edge_docking.h"

#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>

namespace EdgeDocking {

Step step(const QRect& window, const QSize& screen, const QPoint& cursor) {
    int l = window.left();
    int t = window.top();
    const int w = window.width();
    const int h = window.height();
    const int sw = screen.width();
    const int sh = screen.height();
    const int mx = cursor.x();
    const int my = cursor.y();

    Step result;
    // Making the window topmost and releasing it again leaves it in front of other normal
    // windows: that is a raise.
    result.raise = t <= 0 || l <= 0 || l + w >= sw || t >= sh - 30;

    // Each edge sees the moves of the edges before it.
    const bool overTop = l - 10 < mx && mx < l + w + 10 && t - 2 < my && my < t + h + 10;
    if (t <= 0)
        t = overTop ? 10 : 2 - h;

    const bool overLeft = l - 2 < mx && mx < l + w + 10 && t - 10 < my && my < t + h + 10;
    if (l <= 0)
        l = overLeft ? 10 : 2 - w;

    const bool overRight = l - 10 < mx && mx < l + w + 2 && t - 10 < my && my < t + h + 10;
    if (l + w >= sw)
        l = overRight ? sw - w : sw - 2;

    const bool overBottom = l - 10 < mx && mx < l + w + 10 && t - 10 < my && my < t + h + 32;
    if (overBottom && t + h + 30 >= sh)
        t = sh - h - 30;
    else if (!overBottom && t == sh - h - 30)
        t = sh - 2;

    result.topLeft = QPoint(l, t);
    return result;
}

bool touchesEdge(const QRect& window, const QSize& screen) {
    return window.top() <= 0 || window.left() <= 0 ||
           window.left() + window.width() >= screen.width() ||
           window.top() + window.height() + 30 >= screen.height();
}

QRect restingArea(const QSize& screen) {
    return QRect(QPoint(10, 10), QPoint(screen.width() - 2, screen.height() - 32));
}

} // namespace EdgeDocking

DockingWatch::DockingWatch(QWidget* window, QTimer* timer)
    : QObject(window), window_(window), timer_(timer) {
    timer_->setInterval(kCheckIntervalMs);
    connect(timer_, &QTimer::timeout, this, &DockingWatch::check);
    window_->installEventFilter(this);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        connect(screen, &QScreen::geometryChanged, this, &DockingWatch::scheduleCheck);
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, [this](QScreen* screen) {
        connect(screen, &QScreen::geometryChanged, this, &DockingWatch::scheduleCheck);
        scheduleCheck();
    });
}

bool DockingWatch::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::Enter:
    case QEvent::Leave:
    case QEvent::WindowStateChange:
        scheduleCheck();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

// After the event that asked for it: a move of the steps' own then comes back as one more
// event, whose check finds nothing left to do, instead of running a step inside another.
void DockingWatch::scheduleCheck() {
    if (checkPending_)
        return;
    checkPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            checkPending_ = false;
            check();
        },
        Qt::QueuedConnection);
}

void DockingWatch::check() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen || !window_->isVisible()) {
        timer_->stop();
        return;
    }
    const QSize screenSize = screen->geometry().size();
    const QRect frame = window_->frameGeometry();
    const QRect client = window_->geometry();
    const QPoint cursor = QCursor::pos();
    const EdgeDocking::Step next = EdgeDocking::step(frame, screenSize, cursor);
    // Raising asks the window manager to restack and answers with events of its own; once per
    // change of place or pointer keeps a docked window in front when someone may reach for it,
    // without waking the program on every check while the pointer rests elsewhere.
    const bool moves = next.topLeft != frame.topLeft();
    if (next.raise && (moves || cursor != lastCursor_))
        window_->raise();
    lastCursor_ = cursor;
    if (moves)
        window_->move(next.topLeft);
    // With the pointer inside, a docked window stays as it is until the pointer leaves, which
    // the window is told; a hidden window with the pointer inside it has just come back.
    const QPoint moved = next.topLeft - frame.topLeft();
    const bool touches = EdgeDocking::touchesEdge(frame.translated(moved), screenSize);
    if (touches && !client.translated(moved).contains(cursor))
        timer_->start();
    else
        timer_->stop();
}
