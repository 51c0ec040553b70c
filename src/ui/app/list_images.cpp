#include "ui/app/list_images.h"

#include <QPainter>
#include <QPolygonF>

namespace {

constexpr QSize kImageSize{16, 15};

QPixmap dot(const QColor& fill, const QColor& rim) {
    QPixmap image(kImageSize);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(rim);
    p.setBrush(fill);
    p.drawEllipse(QRectF(2.5, 2, 11, 11));
    return image;
}

} // namespace

namespace ListImages {

QPixmap headerCaret() {
    QPixmap image(kImageSize);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(128, 128, 128), 1.5));
    p.drawPolyline(QPolygonF({QPointF(4, 10), QPointF(8, 5), QPointF(12, 10)}));
    return image;
}

QList<QIcon> statusDots() {
    return {QIcon(dot(QColor(40, 180, 60), QColor(20, 120, 40))),
            QIcon(dot(QColor(170, 170, 170), QColor(120, 120, 120)))};
}

} // namespace ListImages
