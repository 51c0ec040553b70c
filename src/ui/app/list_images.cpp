#include "ui/app/list_images.h"

#include <QPainter>
#include <QPolygonF>

namespace {

constexpr QSize kCaretSize{16, 15};

} // namespace

namespace ListImages {

QPixmap headerCaret() {
    QPixmap image(kCaretSize);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(128, 128, 128), 1.5));
    p.drawPolyline(QPolygonF({QPointF(4, 10), QPointF(8, 5), QPointF(12, 10)}));
    return image;
}

QList<QIcon> statusDots() {
    return {QIcon(QStringLiteral(":/status/online.png")),
            QIcon(QStringLiteral(":/status/offline.png"))};
}

} // namespace ListImages
