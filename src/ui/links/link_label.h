#pragma once

#include <QColor>
#include <QLabel>

#include <memory>

class LogSink;

// A one-line hyperlink label: it shows its caption in one of three colours, the normal one,
// the one after its address has been opened by a click, and the mouse-over one, which wins
// over the other two while the pointer is over the label. A left click opens the address in
// the browser.
class LinkLabel : public QLabel {
    Q_OBJECT
public:
    // The design-time colours of the main window's link labels (Windows 0x00BBGGRR values
    // 0xFF0000, 0x000080 and 0xD77800).
    static const QColor kNormalColour;
    static const QColor kVisitedColour;
    static const QColor kHoverColour;

    explicit LinkLabel(QWidget* parent = nullptr);

    // Where a page that cannot be opened is logged.
    void setLog(std::shared_ptr<const LogSink> log) { log_ = std::move(log); }

    void setLink(const QString& caption, const QString& address);
    QString address() const { return address_; }

    // The normal and the after-click colour together; the mouse-over colour stays.
    void setTextColour(const QColor& colour);
    QColor normalColour() const { return normalColour_; }
    QColor visitedColour() const { return visitedColour_; }
    QColor hoverColour() const { return hoverColour_; }
    bool isVisited() const { return visited_; }
    // The colour the caption is drawn in now.
    QColor shownColour() const;

    // Opens the address in the browser; once that worked the label takes its after-click
    // colour.
    void openAddress();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void showColour();

    std::shared_ptr<const LogSink> log_;
    QString address_;
    QColor normalColour_ = kNormalColour;
    QColor visitedColour_ = kVisitedColour;
    QColor hoverColour_ = kHoverColour;
    bool visited_ = false;
    bool hovered_ = false;
};
