#include "common/test_home.h"
#include "ui/app/application.h"
#include "ui/app/main_window.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QScreen>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// The main window on a screen smaller than its layout: a 1366 x 768 screen (this test starts
// its own virtual display of that size when TORVANE_TEST_SCREEN names one) or 150 % scaling on
// the usual 1920 x 1080 display. Every control must be reachable: the window lies on the
// screen, and each control, scrolled into view, lies on the screen and is what the pointer
// finds at its centre.
class TestSmallScreen : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void windowFitsTheScreen();
    void everyControlIsReachable_data();
    void everyControlIsReachable();

private:
    TestHome home_;
    std::unique_ptr<MainWindow> window_;
};

void TestSmallScreen::initTestCase() {
    QVERIFY(home_.isValid());
    const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
    QVERIFY2(screen.height() < 778, "the screen is large enough for the whole window");
    window_ = std::make_unique<MainWindow>(home_.context());
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QTRY_VERIFY(!window_->findChild<QLabel*>(u"透明标签2"_s)->text().isEmpty());
}

void TestSmallScreen::cleanupTestCase() {
    // A look at the window for whoever runs the test by hand.
    const QString shot = qEnvironmentVariable("TORVANE_TEST_SCREENSHOT");
    if (!shot.isEmpty())
        QGuiApplication::primaryScreen()->grabWindow(0).save(shot);
    window_.reset();
}

void TestSmallScreen::windowFitsTheScreen() {
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect frame = window_->frameGeometry();
    QVERIFY2(
        available.contains(frame),
        qPrintable(
            u"%1,%2 %3x%4"_s.arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height())));
    QVERIFY(window_->findChild<QScrollArea*>(u"滚动区"_s));
}

void TestSmallScreen::everyControlIsReachable_data() {
    QTest::addColumn<QString>("name");
    // Every control the window shows (按钮14 lies below the layout's visible area by design,
    // 按钮7 is hidden, 标签4 and 选择分组组合框 show only in the "分组名称" mode).
    for (const char16_t* name :
         {u"外形框1",     u"广告1",          u"广告4",     u"广告8",          u"外形框2",
          u"标签3",       u"查询方式分组框", u"标签2",     u"查询内容编辑框", u"查询按钮",
          u"查询按钮1",   u"查询按钮2",      u"查询按钮3", u"透明标签2",      u"按钮17",
          u"超级列表框1", u"按钮9",          u"按钮8",     u"按钮11",         u"按钮3",
          u"按钮5",       u"按钮6",          u"按钮10",    u"标签1",          u"编辑框1",
          u"按钮1",       u"按钮12",         u"按钮2",     u"按钮4",          u"按钮13",
          u"按钮16",      u"按钮15",         u"透明标签1"}) {
        const QString text = QString::fromUtf16(name);
        QTest::newRow(text.toUtf8().constData()) << text;
    }
}

void TestSmallScreen::everyControlIsReachable() {
    QFETCH(QString, name);
    auto* control = window_->findChild<QWidget*>(name);
    QVERIFY(control);
    QVERIFY(control->isVisible());
    auto* area = window_->findChild<QScrollArea*>(u"滚动区"_s);
    QVERIFY(area);
    // The whole control, not only a text box's cursor as ensureWidgetVisible would.
    const QRect onPage(control->mapTo(area->widget(), QPoint(0, 0)), control->size());
    area->ensureVisible(onPage.center().x(), onPage.center().y(), onPage.width() / 2 + 1,
                        onPage.height() / 2 + 1);
    QCoreApplication::processEvents();

    const QRect onScreen(control->mapToGlobal(QPoint(0, 0)), control->size());
    const QRect viewport(area->viewport()->mapToGlobal(QPoint(0, 0)), area->viewport()->size());
    const auto where = [](const QRect& r) {
        return u"%1,%2 %3x%4"_s.arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
    };
    const QString seen = u"control %1, viewport %2"_s.arg(where(onScreen), where(viewport));
    QVERIFY2(QGuiApplication::primaryScreen()->availableGeometry().contains(onScreen),
             qPrintable(seen));
    QVERIFY2(viewport.contains(onScreen), qPrintable(seen));
    QWidget* found = QApplication::widgetAt(onScreen.center());
    QVERIFY(found);
    // A frame's centre may show one of the controls it holds.
    QVERIFY2(found == control || control->isAncestorOf(found), qPrintable(found->objectName()));
}

namespace {

// A virtual display of the size TORVANE_TEST_SCREEN names (e.g. 1366x768), with a window
// manager, for this test alone; stopped when the test ends.
class OwnDisplay {
public:
    bool start(const QString& size) {
        int n = 150;
        while (QFile::exists(u"/tmp/.X11-unix/X%1"_s.arg(n)) ||
               QFile::exists(u"/tmp/.X%1-lock"_s.arg(n)))
            ++n;
        const QString display = u":%1"_s.arg(n);
        server_.start(u"Xvfb"_s,
                      {display, u"-screen"_s, u"0"_s, size + u"x24"_s, u"-nolisten"_s, u"tcp"_s});
        for (int i = 0; i < 100 && !QFile::exists(u"/tmp/.X11-unix/X%1"_s.arg(n)); ++i)
            QTest::qSleep(100);
        if (!QFile::exists(u"/tmp/.X11-unix/X%1"_s.arg(n)))
            return false;
        qputenv("DISPLAY", display.toLatin1());
        // The window is shown once openbox runs, so that it is taken over at once.
        const QString started = startedMarker_.filePath(u"started"_s);
        windowManager_.start(u"openbox"_s, {u"--startup"_s, u"touch "_s + started});
        for (int i = 0; i < 200 && !QFile::exists(started); ++i)
            QTest::qSleep(50);
        return QFile::exists(started);
    }
    ~OwnDisplay() {
        for (QProcess* p : {&windowManager_, &server_}) {
            p->terminate();
            p->waitForFinished(3000);
        }
    }

private:
    QTemporaryDir startedMarker_;
    QProcess server_;
    QProcess windowManager_;
};

} // namespace

int main(int argc, char* argv[]) {
    OwnDisplay display;
    const QString size = qEnvironmentVariable("TORVANE_TEST_SCREEN");
    if (!size.isEmpty() && !display.start(size)) {
        qWarning("could not start a virtual display of %s", qPrintable(size));
        return 1;
    }
    QApplication app(argc, argv);
    setUpApplication(app);
    TestSmallScreen test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_small_screen.moc"
