#include "ui/app/edge_docking.h"

#include <QTest>

// Screen 1920 x 1080, window 1072 x 778 throughout.
class TestEdgeDocking : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void step_data();
    void step();
    void touchesEdge_data();
    void touchesEdge();
};

void TestEdgeDocking::step_data() {
    QTest::addColumn<QPoint>("window");
    QTest::addColumn<QPoint>("cursor");
    QTest::addColumn<QPoint>("expected");
    QTest::addColumn<bool>("raise");

    QTest::newRow("free window stays")
        << QPoint(100, 100) << QPoint(5, 5) << QPoint(100, 100) << false;
    // Dragged to the top: hides to a 2-pixel strip once the cursor is away.
    QTest::newRow("top, cursor away")
        << QPoint(100, 0) << QPoint(1500, 1000) << QPoint(100, -776) << true;
    QTest::newRow("top, cursor on it")
        << QPoint(100, 0) << QPoint(500, 300) << QPoint(100, 10) << true;
    // Hidden at the top: the top 12 pixel rows within 10 pixels of its sides bring it back.
    QTest::newRow("top strip, cursor row 11")
        << QPoint(100, -776) << QPoint(500, 11) << QPoint(100, 10) << true;
    QTest::newRow("top strip, cursor row 12")
        << QPoint(100, -776) << QPoint(500, 12) << QPoint(100, -776) << true;
    QTest::newRow("top strip, 9 px left of it")
        << QPoint(100, -776) << QPoint(91, 0) << QPoint(100, 10) << true;
    QTest::newRow("top strip, 10 px left of it")
        << QPoint(100, -776) << QPoint(90, 0) << QPoint(100, -776) << true;
    QTest::newRow("revealed at top stays")
        << QPoint(100, 10) << QPoint(1500, 1000) << QPoint(100, 10) << false;
    // Dragged past the right edge.
    QTest::newRow("right, cursor away")
        << QPoint(900, 100) << QPoint(100, 100) << QPoint(1918, 100) << true;
    QTest::newRow("right strip, cursor in last 11 columns")
        << QPoint(1918, 100) << QPoint(1909, 95) << QPoint(848, 100) << true;
    QTest::newRow("right strip, cursor 12 columns in")
        << QPoint(1918, 100) << QPoint(1908, 95) << QPoint(1918, 100) << true;
    QTest::newRow("right strip, cursor 10 px below")
        << QPoint(1918, 100) << QPoint(1915, 887) << QPoint(848, 100) << true;
    QTest::newRow("flush right, cursor on it")
        << QPoint(848, 100) << QPoint(1000, 500) << QPoint(848, 100) << true;
    QTest::newRow("flush right, cursor leaves")
        << QPoint(848, 100) << QPoint(100, 500) << QPoint(1918, 100) << true;
    // Left edge.
    QTest::newRow("left, cursor away")
        << QPoint(0, 100) << QPoint(1500, 1000) << QPoint(-1070, 100) << true;
    QTest::newRow("left strip, cursor at column 0")
        << QPoint(-1070, 100) << QPoint(0, 500) << QPoint(10, 100) << true;
    // Bottom: docked 30 pixels above the screen's bottom, hidden at SH - 2.
    QTest::newRow("low, cursor on it")
        << QPoint(100, 300) << QPoint(500, 500) << QPoint(100, 272) << false;
    QTest::newRow("bottom docked, cursor away")
        << QPoint(100, 272) << QPoint(1500, 100) << QPoint(100, 1078) << false;
    QTest::newRow("bottom strip, cursor near")
        << QPoint(100, 1078) << QPoint(500, 1070) << QPoint(100, 272) << true;
    QTest::newRow("bottom strip, cursor away")
        << QPoint(100, 1078) << QPoint(500, 1060) << QPoint(100, 1078) << true;
    // Corner: the top edge moves first and the left edge sees the new top.
    QTest::newRow("top-left, cursor away")
        << QPoint(0, 0) << QPoint(1500, 1000) << QPoint(-1070, -776) << true;
}

void TestEdgeDocking::step() {
    QFETCH(QPoint, window);
    QFETCH(QPoint, cursor);
    QFETCH(QPoint, expected);
    QFETCH(bool, raise);
    const auto result =
        EdgeDocking::step(QRect(window, QSize(1072, 778)), QSize(1920, 1080), cursor);
    QCOMPARE(result.topLeft, expected);
    QCOMPARE(result.raise, raise);
}

void TestEdgeDocking::touchesEdge_data() {
    QTest::addColumn<QPoint>("window");
    QTest::addColumn<bool>("touches");
    QTest::newRow("free") << QPoint(100, 100) << false;
    QTest::newRow("one pixel below the top") << QPoint(100, 1) << false;
    QTest::newRow("at the top") << QPoint(100, 0) << true;
    QTest::newRow("hidden at the top") << QPoint(100, -776) << true;
    QTest::newRow("one pixel right of the left edge") << QPoint(1, 100) << false;
    QTest::newRow("at the left") << QPoint(0, 100) << true;
    QTest::newRow("one pixel short of the right edge") << QPoint(847, 100) << false;
    QTest::newRow("flush right") << QPoint(848, 100) << true;
    QTest::newRow("hidden at the right") << QPoint(1918, 100) << true;
    QTest::newRow("31 pixels above the bottom") << QPoint(100, 271) << false;
    QTest::newRow("docked at the bottom") << QPoint(100, 272) << true;
    QTest::newRow("hidden at the bottom") << QPoint(100, 1078) << true;
}

// The docking is only checked again while the window touches an edge: a window that does not
// must stay where it is, unraised, wherever the cursor goes.
void TestEdgeDocking::touchesEdge() {
    QFETCH(QPoint, window);
    QFETCH(bool, touches);
    const QRect frame(window, QSize(1072, 778));
    const QSize screen(1920, 1080);
    QCOMPARE(EdgeDocking::touchesEdge(frame, screen), touches);
    if (touches)
        return;
    for (int x = -20; x <= 1940; x += 4) {
        for (int y = -20; y <= 1100; y += 4) {
            const auto result = EdgeDocking::step(frame, screen, QPoint(x, y));
            QCOMPARE(result.topLeft, window);
            QVERIFY(!result.raise);
        }
    }
}

QTEST_GUILESS_MAIN(TestEdgeDocking)
#include "tst_edge_docking.moc"
