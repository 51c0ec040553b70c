#include "platform/x11/button_row.h"

#include <QPainter>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

struct Theme {
    QColor window;
    QColor text;
    QColor buttonEdge;
    QColor buttonFill;
};

const Theme kLight{QColor(0xF6, 0xF5, 0xF4), QColor(0x2E, 0x34, 0x36), QColor(0xCD, 0xC7, 0xC2),
                   QColor(0xED, 0xEB, 0xE9)};
const Theme kDark{QColor(0x35, 0x35, 0x35), QColor(0xEE, 0xEE, 0xEC), QColor(0x1B, 0x1B, 0x1B),
                  QColor(0x3A, 0x3A, 0x3A)};

// A picture like PuTTY's host-key warning: lines of text, a separator, then a bottom row of
// buttons, the rightmost `count` of them of equal width and one wider one apart on the left.
struct DialogPicture {
    QImage image;
    QList<QRect> buttons; // left to right
};

DialogPicture drawDialog(const Theme& theme, int rightButtons, bool leftButton) {
    DialogPicture picture{QImage(545, 376, QImage::Format_RGB32), {}};
    picture.image.fill(theme.window);
    QPainter painter(&picture.image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(theme.text);
    for (int line = 0; line < 9; ++line)
        painter.drawText(12, 30 + line * 30,
                         u"If you trust this host, press \"Accept\" to add the key."_s);
    painter.drawLine(0, 330, 545, 330);
    if (leftButton)
        picture.buttons << QRect(8, 338, 108, 30);
    for (int i = rightButtons; i > 0; --i)
        picture.buttons << QRect(537 - i * 128 + 4, 338, 124, 30);
    for (const QRect& button : std::as_const(picture.buttons)) {
        painter.setPen(theme.buttonEdge);
        painter.setBrush(theme.buttonFill);
        // Toolkits draw edges on whole pixels.
        painter.drawRoundedRect(QRectF(button).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
        painter.setPen(theme.text);
        painter.drawText(button, Qt::AlignCenter, u"Button"_s);
    }
    return picture;
}

} // namespace

class TestButtonRow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void findsTheButtonByPlace_data();
    void findsTheButtonByPlace();
    void noButtonRowNoButton_data();
    void noButtonRowNoButton();
};

void TestButtonRow::findsTheButtonByPlace_data() {
    QTest::addColumn<bool>("dark");
    QTest::addColumn<bool>("leftButton");
    QTest::addColumn<int>("place");
    QTest::addColumn<int>("expectedIndex");
    QTest::newRow("accept, light") << false << true << 3 << 1;
    QTest::newRow("accept, dark") << true << true << 3 << 1;
    QTest::newRow("cancel") << false << true << 1 << 3;
    QTest::newRow("accept without the left button") << false << false << 3 << 0;
    QTest::newRow("the left button") << false << true << 4 << 0;
}

void TestButtonRow::findsTheButtonByPlace() {
    QFETCH(bool, dark);
    QFETCH(bool, leftButton);
    QFETCH(int, place);
    QFETCH(int, expectedIndex);
    const DialogPicture picture = drawDialog(dark ? kDark : kLight, 3, leftButton);
    const auto centre = ButtonRow::locate(picture.image, place);
    QVERIFY(centre);
    const QRect button = picture.buttons[expectedIndex];
    // Well inside the button, away from its edges.
    QVERIFY2(button.adjusted(8, 6, -8, -6).contains(*centre),
             qPrintable(u"(%1, %2)"_s.arg(centre->x()).arg(centre->y())));
}

void TestButtonRow::noButtonRowNoButton_data() {
    QTest::addColumn<int>("rightButtons");
    QTest::addColumn<bool>("leftButton");
    QTest::addColumn<int>("place");
    QTest::newRow("text and separator only") << 0 << false << 1;
    QTest::newRow("two buttons are no button row") << 2 << false << 1;
    QTest::newRow("place beyond the row") << 3 << false << 4;
}

void TestButtonRow::noButtonRowNoButton() {
    QFETCH(int, rightButtons);
    QFETCH(bool, leftButton);
    QFETCH(int, place);
    const DialogPicture picture = drawDialog(kLight, rightButtons, leftButton);
    QVERIFY(!ButtonRow::locate(picture.image, place));
}

QTEST_MAIN(TestButtonRow)
#include "tst_button_row.moc"
