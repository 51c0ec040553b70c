#include "common/test_home.h"
#include "core/store/local_store.h"
#include "core/store/store_connection.h"
#include "core/support/time_text.h"
#include "ui/app/application.h"
#include "ui/app/log_pane.h"
#include "ui/app/main_window.h"
#include "ui/app/prompt.h"
#include "ui/app/server_list_view.h"
#include "ui/remote/reachability_probe.h"
#include "ui/store/server_editor.h"

#include <QAbstractButton>
#include <QApplication>
#include <QColor>
#include <QComboBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

const QString kFinalCount = u"共查询到 %1 条数据"_s;

// Servers whose rentals end in 3 days, ended 2 days ago, end in 100 days, and one whose end
// is not a date; written in different forms.
struct Fixture {
    QString name;
    QString end;
};

QList<Fixture> fixtures() {
    const QDate today = QDate::currentDate();
    return {
        {u"soon"_s, today.addDays(3).toString(u"yyyy/MM/dd"_s)},
        {u"ended"_s, QDateTime(today.addDays(-2), QTime(9, 5, 7)).toString(u"yyyy-M-d h:m:s"_s)},
        {u"far"_s, today.addDays(100).toString(u"yyyy年M月d日"_s)},
        {u"yearly"_s, u"包年"_s}};
}

bool addServer(const QString& path, const QString& name, const QString& end, int n) {
    ServerRecord s;
    s.ip = u"127.0.0.%1"_s.arg(n + 1);
    s.port = u"1"_s;
    s.name = name;
    s.group = u"默认分组"_s;
    s.user = u"root"_s;
    s.password = u"pw"_s;
    s.sort = QString::number(n + 1);
    s.startTime = u"2024-6-6 9:5:7"_s;
    s.endTime = end;
    s.system = u"linux"_s;
    s.remark = u"续费请联系机房客服，工单编号 2024-%1（%2）"_s.arg(n + 1).arg(name);
    LocalStore store;
    return store.open(path) && store.insertBatchServer(s, false);
}

} // namespace

// What makes the program at home on a desktop: its icon and desktop entry name, Qt's own texts
// in Chinese, keys, the status tooltip, the count line while a list fills, and the rental
// ends at a glance.
class TestDesktop : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void windowCarriesIconAndDesktopName();
    void largeScreenKeepsTheFixedWindow();
    void qtTextsLocale_data();
    void qtTextsLocale();
    void messageBoxButtonsReadChinese_data();
    void messageBoxButtonsReadChinese();
    void rentalTintAndTooltip_data();
    void rentalTintAndTooltip();
    void reloadLogsTheRentalCounts();
    void expiringMenuListsEndingAndEndedEarliestFirst();
    void statusTooltipSaysWhenChecked();
    void countLineShowsReloadProgress();
    void enterLogsIn();
    void enterInTheSearchBoxRunsTheSearch();
    void remarkCutShortShowsInFull();
    void ctrlFGoesToTheSearchBox();
    void f5ReloadsAsGlobalRefresh();
    void ctrlAChecksAllRowsButSelectsTextInATextBox();
    void deleteKeyAsksThenDeletesTheSelectedServer_data();
    void deleteKeyAsksThenDeletesTheSelectedServer();

private:
    int rowNamed(const QString& name) const;
    QLabel* countLine() const { return window_->findChild<QLabel*>(u"透明标签2"_s); }
    QTableView* table() const { return window_->findChild<QTableView*>(u"超级列表框1"_s); }
    void selectRow(int row);

    TestHome home_;
    std::unique_ptr<MainWindow> window_;
    QList<LaunchRequest> launches_;
};

void TestDesktop::initTestCase() {
    QVERIFY(home_.isValid());
    LocalStore::ensureDatabase(home_.databasePath());
    int n = 0;
    for (const Fixture& f : fixtures())
        QVERIFY(addServer(home_.databasePath(), f.name, f.end, n++));
}

void TestDesktop::init() {
    launches_.clear();
    // No box ever waits for a person.
    Prompt::setResponder([](const PromptRequest&) { return QMessageBox::Ok; });
    window_ = std::make_unique<MainWindow>(home_.context(), [this](const LaunchRequest& request) {
        launches_ << request;
        return LaunchOutcome{true, 0, {}};
    });
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    // The start-up reload has filled the list and its probe pass has ended.
    QTRY_VERIFY(countLine()->text().startsWith(u"共查询到"_s));
}

int TestDesktop::rowNamed(const QString& name) const {
    const ServerListModel* model = window_->serverList()->model();
    for (int row = 0; row < model->rowCount(); ++row)
        if (model->cell(row, ListColumn::Name) == name)
            return row;
    return -1;
}

void TestDesktop::selectRow(int row) {
    table()->setFocus();
    table()->setCurrentIndex(table()->model()->index(row, ListColumn::Name));
}

void TestDesktop::cleanup() {
    Prompt::setResponder({});
    window_.reset();
}

void TestDesktop::windowCarriesIconAndDesktopName() {
    QCOMPARE(QGuiApplication::desktopFileName(), u"net.torvane.Torvane"_s);
    const QIcon icon = window_->windowIcon();
    QVERIFY(!icon.isNull());
    for (int size : {16, 32, 48, 256})
        QCOMPARE(icon.pixmap(size).size(), QSize(size, size));
}

// The test display is 1920 x 1080 at 100 %: the layout needs no scrolling there.
void TestDesktop::largeScreenKeepsTheFixedWindow() {
    QVERIFY(!window_->findChild<QWidget*>(u"滚动区"_s));
    QCOMPARE(window_->minimumSize(), MainWindow::kClientSize);
    QCOMPARE(window_->maximumSize(), MainWindow::kClientSize);
    QCOMPARE(window_->pos(), MainWindow::kPosition);
    QCOMPARE(table()->parentWidget(), window_.get());
}

void TestDesktop::qtTextsLocale_data() {
    QTest::addColumn<QString>("system");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("not set") << u"C"_s << u"zh_CN"_s;
    QTest::newRow("POSIX") << u"POSIX"_s << u"zh_CN"_s;
    QTest::newRow("Chinese") << u"zh_CN"_s << u"zh_CN"_s;
    QTest::newRow("Chinese, Taiwan") << u"zh_TW"_s << u"zh_TW"_s;
    QTest::newRow("German") << u"de_DE"_s << u"de_DE"_s;
}

void TestDesktop::qtTextsLocale() {
    QFETCH(QString, system);
    QFETCH(QString, chosen);
    QCOMPARE(::qtTextsLocale(QLocale(system)).name(), chosen);
}

void TestDesktop::messageBoxButtonsReadChinese_data() {
    QTest::addColumn<QMessageBox::StandardButtons>("buttons");
    QTest::addColumn<QStringList>("captions");
    QTest::newRow("OK/Cancel") << QMessageBox::StandardButtons(QMessageBox::Ok |
                                                               QMessageBox::Cancel)
                               << QStringList{u"确定"_s, u"取消"_s};
    QTest::newRow("Yes/No") << QMessageBox::StandardButtons(QMessageBox::Yes | QMessageBox::No)
                            << QStringList{u"是(&Y)"_s, u"否(&N)"_s};
}

// The test runs with no locale set (see main), where Chinese is chosen.
void TestDesktop::messageBoxButtonsReadChinese() {
    QFETCH(QMessageBox::StandardButtons, buttons);
    QFETCH(QStringList, captions);

    Prompt::setResponder({});
    QStringList shown;
    QTimer::singleShot(0, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        for (QAbstractButton* button : box->buttons())
            shown << button->text();
        box->buttons().constFirst()->click();
    });
    Prompt::show(window_.get(),
                 {u"删除？"_s, Prompt::kDefaultCaption, QMessageBox::Question, buttons});
    shown.sort();
    captions.sort();
    QCOMPARE(shown, captions);
}

void TestDesktop::rentalTintAndTooltip_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QColor>("tint"); // invalid: none
    QTest::addColumn<QString>("endTip");
    QTest::addColumn<QString>("otherTip");
    QTest::newRow("ends in 3 days") << u"soon"_s << QColor(0xff, 0xe0, 0x99)
                                    << u"到期时间：剩余 3 天"_s << u"到期时间：剩余 3 天"_s;
    QTest::newRow("ended") << u"ended"_s << QColor(0xff, 0xbf, 0xbf) << u"到期时间：已到期 2 天"_s
                           << u"到期时间：已到期 2 天"_s;
    QTest::newRow("far") << u"far"_s << QColor() << u"到期时间：剩余 100 天"_s << QString();
    QTest::newRow("not a date") << u"yearly"_s << QColor() << QString() << QString();
}

void TestDesktop::rentalTintAndTooltip() {
    QFETCH(QString, name);
    QFETCH(QColor, tint);
    QFETCH(QString, endTip);
    QFETCH(QString, otherTip);
    const int row = rowNamed(name);
    QVERIFY(row >= 0);
    const ServerListModel* model = window_->serverList()->model();
    for (int column : {int(ListColumn::Id), int(ListColumn::Name), int(ListColumn::EndTime)}) {
        const QVariant background = model->index(row, column).data(Qt::BackgroundRole);
        QCOMPARE(background.isValid(), tint.isValid());
        if (tint.isValid())
            QCOMPARE(background.value<QColor>(), tint);
    }
    QCOMPARE(model->index(row, ListColumn::EndTime).data(Qt::ToolTipRole).toString(), endTip);
    QCOMPARE(model->index(row, ListColumn::Address).data(Qt::ToolTipRole).toString(), otherTip);
    // The text itself stays as stored.
    const QList<Fixture> all = fixtures();
    const auto stored =
        std::find_if(all.begin(), all.end(), [&](const Fixture& f) { return f.name == name; });
    QCOMPARE(model->cell(row, ListColumn::EndTime), stored->end);
}

void TestDesktop::reloadLogsTheRentalCounts() {
    const QString line = u"-租期提醒：7 天内到期 1 台，已到期 1 台\n"_s;
    auto* pane = window_->findChild<QPlainTextEdit*>(u"编辑框1"_s);
    QTRY_VERIFY(pane->toPlainText().contains(line));
    pane->clear();
    window_->findChild<QAbstractButton*>(u"按钮10"_s)->click();
    QTRY_VERIFY(pane->toPlainText().endsWith(line));
    QCOMPARE(pane->toPlainText().count(u"租期提醒"_s), 1);
}

void TestDesktop::expiringMenuListsEndingAndEndedEarliestFirst() {
    ServerListView* list = window_->serverList();
    QSignalSpy filled(list, &ServerListView::fillFinished);
    list->menuAction(ServerListView::MenuItem::Expiring)->trigger();
    QVERIFY(filled.wait(10000));
    const ServerListModel* model = list->model();
    QCOMPARE(model->rowCount(), 2);
    QCOMPARE(model->cell(0, ListColumn::Name), u"ended"_s);
    QCOMPARE(model->cell(1, ListColumn::Name), u"soon"_s);
    // Probed as a search's rows are.
    QTRY_COMPARE(countLine()->text(), kFinalCount.arg(2));
}

void TestDesktop::statusTooltipSaysWhenChecked() {
    ServerListModel* model = window_->serverList()->model();
    const QModelIndex status = model->index(rowNamed(u"far"_s), ListColumn::Status);
    // The probes of the start-up pass have all answered by now: no port 1 listens.
    QTRY_COMPARE(model->statusImage(status.row()), ReachabilityProbe::kOfflineImage);
    QVERIFY(status.data(Qt::ToolTipRole).toString().startsWith(u"端口无响应\n检测时间："_s));

    const QDateTime before = QDateTime::currentDateTime();
    model->setStatusImage(status.row(), ReachabilityProbe::kOnlineImage);
    const QString tip = status.data(Qt::ToolTipRole).toString();
    QVERIFY2(tip == u"端口有响应\n检测时间："_s + timeText(before) ||
                 tip == u"端口有响应\n检测时间："_s + timeText(QDateTime::currentDateTime()),
             qPrintable(tip));

    // A sort clears the dots; the last row's probe starts last, 300 ms into the new pass.
    QSignalSpy sorted(window_->serverList(), &ServerListView::fillFinished);
    window_->serverList()->sortByColumn(ListColumn::Name);
    QVERIFY(sorted.wait(10000));
    const int last = model->rowCount() - 1;
    QCOMPARE(model->index(last, ListColumn::Status).data(Qt::ToolTipRole).toString(),
             u"尚未检测"_s);
}

void TestDesktop::countLineShowsReloadProgress() {
    QStringList seen;
    connect(window_->serverList(), &ServerListView::reloadProgress, this,
            [&] { seen << countLine()->text(); });
    window_->refreshList();
    QTRY_COMPARE(seen.size(), 4);
    // The rows between the first and the last may come faster than the line changes.
    QCOMPARE(seen.first(), u"正在加载 1 / 4"_s);
    QCOMPARE(seen.last(), u"已加载 4 条，检测中…"_s);
    for (qsizetype k = 1; k < 3; ++k)
        QVERIFY(seen[k] == seen[k - 1] || seen[k] == u"正在加载 %1 / 4"_s.arg(k + 1));
    QTRY_COMPARE(countLine()->text(), kFinalCount.arg(4));
}

void TestDesktop::enterLogsIn() {
    selectRow(rowNamed(u"far"_s));
    QSignalSpy login(window_->serverList(), &ServerListView::loginRequested);
    QTest::keyClick(table(), Qt::Key_Return);
    QTest::keyClick(table(), Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(login.count(), 2);
    QCOMPARE(login[0][0].toInt(), rowNamed(u"far"_s));
    QTRY_COMPARE(launches_.size(), 2);
}

void TestDesktop::enterInTheSearchBoxRunsTheSearch() {
    auto* mode = window_->findChild<QComboBox*>(u"查询方式分组框"_s);
    auto* search = window_->findChild<QLineEdit*>(u"查询内容编辑框"_s);
    QSignalSpy filled(window_->serverList(), &ServerListView::reloaded);
    mode->setCurrentText(u"服务器名称"_s);
    search->setText(u"far"_s);
    QTest::keyClick(search, Qt::Key_Return);
    QTRY_COMPARE(table()->model()->rowCount(), 1);
    QCOMPARE(table()->model()->index(0, ListColumn::Name).data().toString(), u"far"_s);

    mode->setCurrentText(u"综合查询"_s);
    search->clear();
    QTest::keyClick(search, Qt::Key_Enter, Qt::KeypadModifier);
    QTRY_COMPARE(table()->model()->rowCount(), int(fixtures().size()));
}

// A remark its column cuts short shows in full as the cell's tooltip; one that fits shows
// none (this row has no tooltip of its own).
void TestDesktop::remarkCutShortShowsInFull() {
    const QModelIndex cell = table()->model()->index(rowNamed(u"far"_s), ListColumn::Remark);
    const QString remark = cell.data().toString();
    QVERIFY(remark.contains(u"far"_s));
    const int width = table()->columnWidth(ListColumn::Remark);
    const auto restore = qScopeGuard([&] {
        table()->setColumnWidth(ListColumn::Remark, width);
        QToolTip::hideText();
    });
    const auto askForTip = [&] {
        table()->scrollTo(cell);
        const QPoint at = table()->visualRect(cell).center();
        QHelpEvent help(QEvent::ToolTip, at, table()->viewport()->mapToGlobal(at));
        QApplication::sendEvent(table()->viewport(), &help);
    };

    table()->setColumnWidth(ListColumn::Remark, 800);
    askForTip();
    QTest::qWait(50);
    QVERIFY(!QToolTip::isVisible());

    table()->setColumnWidth(ListColumn::Remark, 40);
    askForTip();
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), remark);
}

void TestDesktop::ctrlFGoesToTheSearchBox() {
    auto* search = window_->findChild<QLineEdit*>(u"查询内容编辑框"_s);
    search->setText(u"web"_s);
    table()->setFocus();
    QTest::keyClick(table(), Qt::Key_F, Qt::ControlModifier);
    QTRY_COMPARE(QApplication::focusWidget(), search);
    QCOMPARE(search->selectedText(), u"web"_s);
}

void TestDesktop::f5ReloadsAsGlobalRefresh() {
    auto* refresh = window_->findChild<QTimer*>(u"时钟1"_s);
    QVERIFY(refresh->isActive());
    QSignalSpy reloaded(window_->serverList(), &ServerListView::reloaded);
    QTest::keyClick(table(), Qt::Key_F5);
    QVERIFY(!refresh->isActive());
    QVERIFY(reloaded.wait(10000));
    QTRY_VERIFY(refresh->isActive());
}

void TestDesktop::ctrlAChecksAllRowsButSelectsTextInATextBox() {
    const ServerListModel* model = window_->serverList()->model();
    auto* search = window_->findChild<QLineEdit*>(u"查询内容编辑框"_s);
    search->setText(u"abc"_s);
    search->setFocus();
    QTest::keyClick(search, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(search->selectedText(), u"abc"_s);
    QVERIFY(!model->isChecked(0));

    table()->setFocus();
    QTest::keyClick(table(), Qt::Key_A, Qt::ControlModifier);
    for (int row = 0; row < model->rowCount(); ++row)
        QVERIFY(model->isChecked(row));
}

void TestDesktop::deleteKeyAsksThenDeletesTheSelectedServer_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("deleted");
    QTest::newRow("cancelled") << int(QMessageBox::Cancel) << false;
    QTest::newRow("confirmed") << int(QMessageBox::Ok) << true;
}

void TestDesktop::deleteKeyAsksThenDeletesTheSelectedServer() {
    QFETCH(int, answer);
    QFETCH(bool, deleted);
    QVERIFY(addServer(home_.databasePath(), u"删除我"_s, QString(), 9));
    window_->refreshList();
    QTRY_VERIFY(rowNamed(u"删除我"_s) >= 0);
    QTRY_VERIFY(!window_->serverList()->isFilling());

    QList<PromptRequest> asked;
    Prompt::setResponder([&](const PromptRequest& r) {
        asked << r;
        return QMessageBox::StandardButton(answer);
    });
    QTest::keyClick(table(), Qt::Key_Delete); // nothing selected: nothing asked
    QVERIFY(asked.isEmpty());
    selectRow(rowNamed(u"删除我"_s));
    QTest::keyClick(table(), Qt::Key_Delete);
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked[0].text, ServerEditor::kDeleteConfirmation);
    QCOMPARE(asked[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(rowNamed(u"删除我"_s) < 0, deleted);
    QCOMPARE(window_->serverList()->model()->rowCount(), deleted ? 4 : 5);

    // The store follows on its own thread.
    StoreConnection db;
    QVERIFY(db.open(home_.databasePath()));
    auto stored = [&] {
        const auto rows =
            db.query(u"SELECT id FROM server_data WHERE server_name=?"_s, {u"删除我"_s});
        return rows && !rows->rows.isEmpty();
    };
    QTRY_COMPARE(stored(), !deleted);
    if (!deleted)
        QVERIFY(db.execute(u"DELETE FROM server_data WHERE server_ip='127.0.0.10'"_s));
}

int main(int argc, char* argv[]) {
    // As on a machine where no locale is set.
    qputenv("LC_ALL", "C");
    qunsetenv("LANG");
    qunsetenv("LANGUAGE");
    QApplication app(argc, argv);
    setUpApplication(app);
    TestDesktop test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktop.moc"
