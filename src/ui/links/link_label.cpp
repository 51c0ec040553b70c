#include "ui/links/link_label.h"

#include "ui/app/web_page.h"

#include <QMouseEvent>

const QColor LinkLabel::kNormalColour(0x00, 0x00, 0xFF);
const QColor LinkLabel::kVisitedColour(0x80, 0x00, 0x00);
const QColor LinkLabel::kHoverColour(0x00, 0x78, 0xD7);

LinkLabel::LinkLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setCursor(Qt::PointingHandCursor);
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    showColour();
}

void LinkLabel::setLink(const QString& caption, const QString& address) {
    setText(caption);
    setToolTip(address);
    address_ = address;
}

void LinkLabel::setTextColour(const QColor& colour) {
    normalColour_ = colour;
    visitedColour_ = colour;
    showColour();
}

QColor LinkLabel::shownColour() const {
    if (hovered_)
        return hoverColour_;
    return visited_ ? visitedColour_ : normalColour_;
}

void LinkLabel::openAddress() {
    if (!openWebPage(address_, log_.get()))
        return;
    visited_ = true;
    showColour();
}

void LinkLabel::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    showColour();
    QLabel::enterEvent(event);
}

void LinkLabel::leaveEvent(QEvent* event) {
    hovered_ = false;
    showColour();
    QLabel::leaveEvent(event);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        openAddress();
    QLabel::mouseReleaseEvent(event);
}

void LinkLabel::showColour() {
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, shownColour());
    setPalette(colours);
}
