#include "common/gui_test_main.h"
#include "common/test_home.h"
#include "core/cloud/cloud_account.h"
#include "core/links/announcement_loader.h"
#include "core/store/local_store.h"
#include "core/store/store_connection.h"
#include "core/support/log_sink.h"
#include "ui/app/application.h"
#include "ui/app/edge_docking.h"
#include "ui/app/log_pane.h"
#include "ui/app/main_window.h"
#include "ui/app/prompt.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

class TestMainWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void controls_data();
    void controls();
    void searchModes();
    void timersAtStart();
    void startupCreatesDatabaseThenReadsAccount();
    void logPaneClearsOnThe31stLine();
    void logPaneTakesLinesTogetherAsOneByOne_data();
    void logPaneTakesLinesTogetherAsOneByOne();
    void logLinesFromWorkersReachThePane();
    void hiddenBatchLoginIsNotOpen();
    void docksAtTheTopEdge();
    void groupModeSwapsTextForGroupFilter();
    void globalRefreshStopsTheRefreshTimer();

private:
    TestHome home_;
    std::unique_ptr<MainWindow> window_;
};

void TestMainWindow::initTestCase() {
    QVERIFY(home_.isValid());
}

void TestMainWindow::init() {
    window_ = std::make_unique<MainWindow>(home_.context());
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    // Start-up ends with the first (empty) probe pass, which writes the count line.
    QTRY_VERIFY(!window_->findChild<QLabel*>(u"透明标签2"_s)->text().isEmpty());
    // and with the cloud check, which finds no service on the test's loopback address (the
    // status line says it is connecting until then).
    auto* cloudStatus = window_->findChild<QLabel*>(u"透明标签1"_s);
    QTRY_VERIFY(!cloudStatus->text().isEmpty() &&
                cloudStatus->text() != CloudAccount::kConnectingText);
}

void TestMainWindow::cleanup() {
    Prompt::setResponder({});
    window_.reset();
}

void TestMainWindow::controls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("visible");

    auto row = [](const QString& name, const char* kind, QRect rect, const QString& caption,
                  bool visible = true) {
        QTest::newRow(name.toUtf8().constData())
            << name << QString::fromLatin1(kind) << rect << caption << visible;
    };
    // The two frames, the log pane and the list are fitted to the 1056-pixel-wide client
    // area so that their right edges and the list's scroll bar stay on screen.
    row(u"外形框1"_s, "QFrame", {3, 5, 1050, 69}, {});
    // The link labels show their built-in rows: the test's cloud address answers nothing.
    const AnnouncementLoader::LinkRows links = AnnouncementLoader::builtInRows();
    row(u"广告1"_s, "LinkLabel", {9, 10, 237, 24}, links[0].caption);
    row(u"广告4"_s, "LinkLabel", {803, 7, 237, 24}, links[3].caption);
    row(u"广告5"_s, "LinkLabel", {9, 38, 237, 24}, links[4].caption);
    row(u"广告8"_s, "LinkLabel", {803, 35, 237, 24}, links[7].caption);
    row(u"外形框2"_s, "QFrame", {4, 80, 1048, 48}, {});
    row(u"标签3"_s, "QLabel", {43, 16, 54, 16}, u"查询方式"_s);
    row(u"查询方式分组框"_s, "QComboBox", {99, 15, 104, 20}, {});
    row(u"标签2"_s, "QLabel", {232, 15, 54, 16}, u"查询内容"_s);
    row(u"查询内容编辑框"_s, "QLineEdit", {289, 11, 138, 24}, {});
    row(u"标签4"_s, "QLabel", {227, 15, 54, 16}, u"选择分组"_s, false);
    row(u"选择分组组合框"_s, "QComboBox", {288, 13, 140, 20}, {}, false);
    row(u"查询按钮"_s, "QPushButton", {434, 10, 72, 24}, u"查询"_s);
    row(u"查询按钮1"_s, "QPushButton", {516, 10, 73, 24}, u"Ping检测"_s);
    row(u"查询按钮2"_s, "QPushButton", {597, 10, 73, 24}, u"端口Ping"_s);
    row(u"查询按钮3"_s, "QPushButton", {680, 9, 73, 24}, u"全球Ping"_s);
    row(u"透明标签2"_s, "QLabel", {769, 11, 164, 22}, u"共查询到 0 条数据"_s);
    row(u"按钮17"_s, "QPushButton", {948, 8, 96, 32}, u"下载最新版"_s);
    row(u"超级列表框1"_s, "ListTable", {0, 136, 1056, 469}, {});
    row(u"按钮9"_s, "QPushButton", {8, 620, 64, 32}, u"全选"_s);
    row(u"按钮8"_s, "QPushButton", {80, 620, 64, 32}, u"反选"_s);
    row(u"按钮11"_s, "QPushButton", {152, 620, 72, 32}, u"全不选"_s);
    row(u"按钮3"_s, "QPushButton", {234, 620, 86, 32}, u"添加服务器"_s);
    row(u"按钮5"_s, "QPushButton", {335, 620, 86, 32}, u"批量添加"_s);
    row(u"按钮6"_s, "QPushButton", {438, 620, 86, 32}, u"批量删除"_s);
    row(u"按钮10"_s, "QPushButton", {536, 620, 86, 32}, u"全局刷新"_s);
    row(u"标签1"_s, "QLabel", {628, 614, 51, 16}, u"日志跟踪"_s);
    row(u"编辑框1"_s, "QPlainTextEdit", {680, 609, 372, 130}, {});
    row(u"按钮1"_s, "QPushButton", {10, 665, 94, 32}, u"上传到云端"_s);
    row(u"按钮12"_s, "QPushButton", {128, 665, 96, 32}, u"从云端下载"_s);
    row(u"按钮2"_s, "QPushButton", {234, 665, 86, 32}, u"添加分组"_s);
    row(u"按钮4"_s, "QPushButton", {336, 665, 86, 32}, u"管理分组"_s);
    row(u"按钮13"_s, "QPushButton", {440, 665, 86, 32}, u"批量导出"_s);
    row(u"按钮16"_s, "QPushButton", {536, 665, 86, 32}, u"清空云端"_s);
    row(u"按钮15"_s, "QPushButton", {10, 704, 94, 32}, u"云端配置"_s);
    row(u"透明标签1"_s, "QLabel", {112, 706, 472, 22}, CloudAccount::kNotConnectedText);
    row(u"按钮14"_s, "QPushButton", {576, 753, 86, 32}, u"批量导入"_s);
    row(u"按钮7"_s, "QPushButton", {628, 760, 86, 32}, u"批量登录"_s, false);
}

void TestMainWindow::controls() {
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QRect, rect);
    QFETCH(QString, caption);
    QFETCH(bool, visible);

    auto* control = window_->findChild<QWidget*>(name);
    QVERIFY2(control, qPrintable(name));
    QCOMPARE(QString::fromLatin1(control->metaObject()->className()), kind);
    QCOMPARE(control->geometry(), rect);
    QCOMPARE(control->isVisible(), visible);
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        QCOMPARE(button->text(), caption);
    if (auto* label = qobject_cast<QLabel*>(control))
        QCOMPARE(label->text(), caption);
}

void TestMainWindow::searchModes() {
    auto* modes = window_->findChild<QComboBox*>(u"查询方式分组框"_s);
    QVERIFY(modes);
    QStringList items;
    for (int i = 0; i < modes->count(); ++i)
        items << modes->itemText(i);
    QCOMPARE(items, (QStringList{u"分组名称"_s, u"综合查询"_s, u"服务器名称"_s, u"服务器IP"_s,
                                 u"备注"_s, u"系统"_s}));
}

void TestMainWindow::timersAtStart() {
    QCOMPARE(window_->windowTitle(), u"Torvane-服务器管理工具"_s);
    auto* refresh = window_->findChild<QTimer*>(u"时钟1"_s);
    auto* announcements = window_->findChild<QTimer*>(u"时钟2"_s);
    auto* docking = window_->findChild<QTimer*>(u"时钟4"_s);
    QVERIFY(refresh && announcements && docking);
    // The start-up reload's probe pass has armed the refresh.
    QVERIFY(refresh->isActive());
    QCOMPARE(refresh->interval(), 360000);
    QCOMPARE(announcements->interval(), 60000);
    QVERIFY(announcements->isActive());
    // The docking check runs on a slow timer only while the window touches an edge.
    QCOMPARE(docking->interval(), DockingWatch::kCheckIntervalMs);
    QVERIFY(!docking->isActive());
}

void TestMainWindow::startupCreatesDatabaseThenReadsAccount() {
    const QString db = home_.databasePath();
    QTRY_VERIFY(QFile::exists(db));
    QVERIFY(window_->startupState().account.username.isEmpty());

    {
        StoreConnection connection;
        QVERIFY(connection.open(db));
        QVERIFY(connection.updateColumns(
            u"server_user"_s, 1, {{u"username"_s, u"13800000000"_s}, {u"password"_s, u"0123"_s}}));
    }
    window_.reset();
    window_ = std::make_unique<MainWindow>(home_.context());
    QTRY_COMPARE(window_->startupState().account.username, u"13800000000"_s);
    // The password column is declared INTEGER: a password of digits loses its leading zero.
    QCOMPARE(window_->startupState().account.password, u"123"_s);
}

void TestMainWindow::logPaneClearsOnThe31stLine() {
    auto* edit = window_->findChild<QPlainTextEdit*>(u"编辑框1"_s);
    QVERIFY(edit);
    // Start-up may have logged the cloud check already.
    edit->clear();
    for (int i = 1; i <= 30; ++i)
        window_->logPane()->append(u"2024年6月6日-line %1\r\n"_s.arg(i));
    QCOMPARE(LogPane::lineCount(edit->toPlainText()), 30);
    QVERIFY(edit->toPlainText().endsWith(u"-line 30\n"_s));

    window_->logPane()->append(u"2024年6月6日-line 31\r\n"_s);
    QCOMPARE(edit->toPlainText(), QString());
}

void TestMainWindow::logPaneTakesLinesTogetherAsOneByOne_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("lines");

    QTest::newRow("a few into an empty pane") << QString() << 5;
    QTest::newRow("up to the limit") << QString() << 30;
    QTest::newRow("one past the limit") << QString() << 31;
    QTest::newRow("past it twice") << QString() << 75;
    QTest::newRow("into a pane of 25") << u"2024年6月6日-old\r\n"_s.repeated(25) << 10;
    QTest::newRow("after a line without its break") << u"2024年6月6日-open"_s << 30;
}

// Lines delivered together leave the pane as if each had been appended on its own.
void TestMainWindow::logPaneTakesLinesTogetherAsOneByOne() {
    QFETCH(QString, before);
    QFETCH(int, lines);

    QPlainTextEdit oneByOneEdit;
    LogPane oneByOne(&oneByOneEdit);
    QPlainTextEdit togetherEdit;
    LogPane together(&togetherEdit);
    oneByOne.append(before);
    together.append(before);
    QString block;
    for (int i = 1; i <= lines; ++i) {
        const QString line = u"2024年6月6日-line %1\r\n"_s.arg(i);
        oneByOne.append(line);
        block += line;
    }
    together.append(block);
    QCOMPARE(togetherEdit.toPlainText(), oneByOneEdit.toPlainText());
    QVERIFY(LogPane::lineCount(togetherEdit.toPlainText()) <= LogPane::kMaxLines);
}

void TestMainWindow::logLinesFromWorkersReachThePane() {
    auto* edit = window_->findChild<QPlainTextEdit*>(u"编辑框1"_s);
    QThread* worker =
        QThread::create([log = home_.context().log()] { log->logLine(u"-S_ID 6"_s); });
    worker->start();
    QVERIFY(worker->wait(5000));
    delete worker;
    QTRY_VERIFY(edit->toPlainText().endsWith(u"-S_ID 6\n"_s));
    QVERIFY(edit->toPlainText().contains(u"年"_s));
}

void TestMainWindow::hiddenBatchLoginIsNotOpen() {
    QList<PromptRequest> asked;
    Prompt::setResponder([&](const PromptRequest& r) {
        asked << r;
        return QMessageBox::Ok;
    });
    auto* button = window_->findChild<QAbstractButton*>(u"按钮7"_s);
    QVERIFY(button);
    button->click();
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked[0].text, u"该功能暂未开放"_s);
    QCOMPARE(asked[0].caption, u"信息："_s);
}

// Driven by the window's own moves and a slow check while it is docked: the pointer's moves
// over the screen's edge tell the hidden window nothing.
void TestMainWindow::docksAtTheTopEdge() {
    auto* docking = window_->findChild<QTimer*>(u"时钟4"_s);
    QCursor::setPos(1500, 1000);
    window_->move(100, 0);
    const int height = window_->frameGeometry().height();
    QTRY_COMPARE(window_->frameGeometry().top(), 2 - height);
    QVERIFY(docking->isActive());

    QCursor::setPos(window_->frameGeometry().left() + 50, 5);
    QTRY_COMPARE(window_->frameGeometry().top(), 10);
    QTRY_VERIFY(!docking->isActive());
    QCursor::setPos(1500, 1000);
    QTest::qWait(100);
    QCOMPARE(window_->frameGeometry().top(), 10);
}

void TestMainWindow::groupModeSwapsTextForGroupFilter() {
    auto* modes = window_->findChild<QComboBox*>(u"查询方式分组框"_s);
    auto visible = [this](const char16_t* name) {
        return window_->findChild<QWidget*>(QString::fromUtf16(name))->isVisible();
    };
    modes->setCurrentText(u"分组名称"_s);
    QVERIFY(visible(u"标签4") && visible(u"选择分组组合框"));
    QVERIFY(!visible(u"标签2") && !visible(u"查询内容编辑框"));
    modes->setCurrentText(u"备注"_s);
    QVERIFY(!visible(u"标签4") && !visible(u"选择分组组合框"));
    QVERIFY(visible(u"标签2") && visible(u"查询内容编辑框"));
}

void TestMainWindow::globalRefreshStopsTheRefreshTimer() {
    auto* refresh = window_->findChild<QTimer*>(u"时钟1"_s);
    QVERIFY(refresh->isActive());
    window_->findChild<QAbstractButton*>(u"按钮10"_s)->click();
    QVERIFY(!refresh->isActive());
    // The reload's own probe pass arms it again.
    QTRY_VERIFY(refresh->isActive());
}

TORVANE_GUI_TEST_MAIN(TestMainWindow)

#include "tst_main_window.moc"
