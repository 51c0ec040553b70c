#include "ui/app/edge_docking.h"

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

QRect restingArea(const QSize& screen) {
    return QRect(QPoint(10, 10), QPoint(screen.width() - 2, screen.height() - 32));
}

} // namespace EdgeDocking
