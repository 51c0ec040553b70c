// The panel actions of the server windows and the list menu against the stand-in panel and
// our own cloud service torvane-cloud, all on loopback.

#include "common/cloud_service_fixture.h"
#include "common/gui_test_main.h"
#include "common/page_catcher.h"
#include "common/self_signed_certificate.h"
#include "common/test_home.h"
#include "common/test_panel.h"
#include "core/cloud/http_client.h"
#include "core/panel/whitelist_ip.h"
#include "core/store/local_store.h"
#include "core/support/log_sink.h"
#include "ui/app/main_window.h"
#include "ui/app/prompt.h"
#include "ui/app/server_list_view.h"
#include "ui/panel/panel_window_actions.h"
#include "ui/store/server_editor.h"
#include "ui/store/server_editor_window.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString kKey = u"aBcD1234efGH5678ijKL9012mnOP3456"_s;
// What get_ip answers a caller on loopback: the address it came from.
const QString kPublicAddress = u"127.0.0.1"_s;
const QString kDesignCaption = u"IP白名单请填写：127.0.0.1和192.168.1.1"_s;

// How the panel is reached in one case.
enum class PanelCase { RightKey, WrongKey, Stopped, NotJson, TextStatus, NoPort };

template <typename T> T* child(QWidget* parent, const QString& name) {
    return parent->findChild<T*>(name);
}

} // namespace

Q_DECLARE_METATYPE(PanelCase)

// Opened pages land here instead of in a browser.
class TestPanelActions : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void testPanelApiInBothWindows_data();
    void testPanelApiInBothWindows();
    void addWindowShowsPanelFieldsAndWhitelist();
    void modifyWindowFetchesWhitelistWhenLoaded();
    void helpButtonsOpenTheHelpPage();
    void openPanelLogsTheBrowserIn_data();
    void openPanelLogsTheBrowserIn();
    void openPanelFailureOpensNothing_data();
    void openPanelFailureOpensNothing();
    void copyPanelInfo_data();
    void copyPanelInfo();

private:
    // A server whose panel fields point at `address` with `key`, stored and listed and selected.
    void listServer(const QString& address, const QString& key, const QString& user = {},
                    const QString& password = {});
    std::unique_ptr<ServerEditorWindow> openWindow(bool modify);
    QString lastPrompt() const { return prompts_.isEmpty() ? QString() : prompts_.last().text; }

    TestHome home_;
    QString certificates_;
    CloudServiceFixture cloud_;
    PageCatcher pages_;
    std::unique_ptr<MainWindow> window_;
    QList<PromptRequest> prompts_;
    QStringList log_;
};

void TestPanelActions::initTestCase() {
    QVERIFY(home_.isValid());
    certificates_ = home_.dataFolder();
    QVERIFY(writeSelfSignedCertificate(certificates_));
    QVERIFY(cloud_.start());
    home_.setCloudAddress(cloud_.url());
}

void TestPanelActions::init() {
    QFile::remove(home_.databasePath());
    prompts_.clear();
    log_.clear();
    pages_.pages.clear();
    home_.context().setWhitelistAddress({});
    Prompt::setResponder([this](const PromptRequest& r) {
        prompts_ << r;
        return QMessageBox::Ok;
    });
    window_ = std::make_unique<MainWindow>(home_.context(), [](const LaunchRequest&) {
        return LaunchOutcome{true, 0, {}};
    });
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QTRY_VERIFY(!child<QLabel>(window_.get(), u"透明标签2"_s)->text().isEmpty());
    // After the window, which connects its log pane on creation.
    home_.context().log()->setReceiver([this](const QString& line) { log_ << line; });
}

void TestPanelActions::cleanup() {
    window_.reset();
    Prompt::setResponder({});
    home_.context().log()->setReceiver({});
}

void TestPanelActions::listServer(const QString& address, const QString& key, const QString& user,
                                  const QString& password) {
    ServerRecord server;
    server.ip = u"127.0.0.9"_s;
    server.port = u"22"_s;
    server.user = u"root"_s;
    server.sort = u"50"_s;
    server.group = u"默认分组"_s;
    server.name = u"panel host"_s;
    server.system = u"linux"_s;
    server.panelUrl = address;
    server.panelUser = user;
    server.panelPassword = password;
    server.panelKey = key;
    LocalStore store;
    QVERIFY(store.open(home_.databasePath()));
    QVERIFY(store.insertServer(server));
    store.close();
    ServerListView* list = window_->serverList();
    list->reload();
    QTest::qWait(20);
    QTRY_VERIFY_WITH_TIMEOUT(!list->isFilling() && list->model()->rowCount() == 1, 15000);
    list->view()->setCurrentIndex(list->model()->index(0, ListColumn::Name));
    QCOMPARE(list->selectedRow(), 0);
}

std::unique_ptr<ServerEditorWindow> TestPanelActions::openWindow(bool modify) {
    auto window = std::make_unique<ServerEditorWindow>(modify ? ServerEditorWindow::Mode::Modify
                                                              : ServerEditorWindow::Mode::Add,
                                                       home_.context(), window_.get());
    if (modify)
        window_->serverEditor()->prepareModifyWindow(*window);
    else
        window_->serverEditor()->prepareAddWindow(*window);
    window->show();
    // The server and the groups are read on the store's thread.
    if (!QTest::qWaitFor([&] { return !window->isWaiting(); }, 10000))
        qWarning("the editor window still waits for the store");
    return window;
}

void TestPanelActions::testPanelApiInBothWindows_data() {
    QTest::addColumn<bool>("modify");
    QTest::addColumn<bool>("https");
    QTest::addColumn<PanelCase>("panelCase");
    QTest::addColumn<QString>("message");
    const QString failed = u"宝塔接口通信失败："_s;
    for (const bool modify : {false, true}) {
        const char* w = modify ? "修改服务器" : "添加服务器";
        QTest::addRow("%s right key", w)
            << modify << false << PanelCase::RightKey << u"宝塔接口通信成功"_s;
        QTest::addRow("%s right key over https, status as text", w)
            << modify << true << PanelCase::TextStatus << u"宝塔接口通信成功"_s;
        QTest::addRow("%s wrong key", w)
            << modify << false << PanelCase::WrongKey << failed + TestPanel::kWrongKeyMessage;
        QTest::addRow("%s stopped panel", w) << modify << false << PanelCase::Stopped << failed;
        QTest::addRow("%s reply not JSON", w) << modify << true << PanelCase::NotJson << failed;
        QTest::addRow("%s address without port", w)
            << modify << false << PanelCase::NoPort
            << u"面板地址不完整，请填写完整地址，格式如 http://IP:端口/入口"_s;
    }
}

// The window's current texts are tested, saved or not: the modify window's stored key is
// always wrong. The request runs on a worker: the click returns with the button waiting.
void TestPanelActions::testPanelApiInBothWindows() {
    QFETCH(bool, modify);
    QFETCH(bool, https);
    QFETCH(PanelCase, panelCase);
    QFETCH(QString, message);
    TestPanel panel(kKey, https ? TestPanel::Scheme::Https : TestPanel::Scheme::Http,
                    certificates_);
    QVERIFY(panel.start());
    panel.setAnswersHtml(panelCase == PanelCase::NotJson);
    if (panelCase == PanelCase::TextStatus)
        panel.setStatusForm(TestPanel::StatusForm::Text);
    if (modify)
        listServer(panel.address(), u"stored wrong key"_s);
    const auto window = openWindow(modify);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    const QString address =
        panelCase == PanelCase::NoPort ? u"http://127.0.0.1/tvpanel01"_s : panel.address();
    if (panelCase == PanelCase::Stopped)
        panel.stop();
    child<QLineEdit>(window.get(), u"面板地址编辑框"_s)->setText(address);
    child<QLineEdit>(window.get(), u"接口密钥编辑框"_s)
        ->setText(panelCase == PanelCase::WrongKey ? u"wrong"_s : kKey);
    auto* test = child<QPushButton>(window.get(), u"按钮3"_s);
    QVERIFY(test->isEnabled());
    const int before = prompts_.size();
    QTest::mouseClick(test, Qt::LeftButton);
    if (panelCase != PanelCase::NoPort) {
        QCOMPARE(prompts_.size(), before);
        QVERIFY(!test->isEnabled());
    }
    QTRY_COMPARE_WITH_TIMEOUT(prompts_.size(), before + 1, 10000);
    QCOMPARE(lastPrompt(), message);
    QCOMPARE(prompts_.last().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(test->isEnabled());
    if (panelCase == PanelCase::NoPort)
        QVERIFY(panel.requests().isEmpty());
}

void TestPanelActions::addWindowShowsPanelFieldsAndWhitelist() {
    const auto window = openWindow(false);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto* label = child<QLabel>(window.get(), u"标签16"_s);
    QCOMPARE(window->width(), 392);
    QCOMPARE(label->text(), kDesignCaption);

    // Before any fetch the copy holds the loopback address alone.
    QTest::mouseClick(label, Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), u"127.0.0.1\r\n"_s);
    QCOMPARE(lastPrompt(), u"IP已经复制，请直接暂停使用"_s);

    QTest::mouseClick(child<QPushButton>(window.get(), u"按钮2"_s), Qt::LeftButton);
    QCOMPARE(window->width(), 765);
    QVERIFY(child<QPushButton>(window.get(), u"按钮2"_s)->isHidden());
    QCOMPARE(child<QPushButton>(window.get(), u"按钮1"_s)->x(), 136);
    QTRY_COMPARE(label->text(), u"IP白名单请填写：127.0.0.1和"_s + kPublicAddress);
    QCOMPARE(home_.context().whitelistAddress(), kPublicAddress);

    prompts_.clear();
    QTest::mouseClick(label, Qt::RightButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), u"127.0.0.1\r\n"_s + kPublicAddress);
    QCOMPARE(lastPrompt(), u"IP已经复制，请直接暂停使用"_s);
}

void TestPanelActions::modifyWindowFetchesWhitelistWhenLoaded() {
    listServer(u"http://127.0.0.1:8888/x"_s, kKey);
    const auto window = openWindow(true);
    auto* label = child<QLabel>(window.get(), u"标签16"_s);
    QTRY_COMPARE(label->text(), u"IP白名单请填写：127.0.0.1和"_s + kPublicAddress);
    // Only the add window's label copies.
    QGuiApplication::clipboard()->setText(u"untouched"_s);
    QTest::mouseClick(label, Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), u"untouched"_s);
    QVERIFY(prompts_.isEmpty());
}

void TestPanelActions::helpButtonsOpenTheHelpPage() {
    listServer(u"http://127.0.0.1:8888/x"_s, kKey);
    for (const bool modify : {false, true}) {
        const auto window = openWindow(modify);
        QTest::mouseClick(child<QPushButton>(window.get(), u"按钮4"_s), Qt::LeftButton);
    }
    QCOMPARE(pages_.pages, QList<QUrl>({QUrl(PanelWindowActions::kHelpPage),
                                        QUrl(PanelWindowActions::kHelpPage)}));
}

void TestPanelActions::openPanelLogsTheBrowserIn_data() {
    QTest::addColumn<bool>("https");
    QTest::newRow("http") << false;
    QTest::newRow("https") << true;
}

// The browser gets the base address (no entrance path) with the token, and that address
// logs in at the panel.
void TestPanelActions::openPanelLogsTheBrowserIn() {
    QFETCH(bool, https);
    TestPanel panel(kKey, https ? TestPanel::Scheme::Https : TestPanel::Scheme::Http,
                    certificates_);
    QVERIFY(panel.start());
    listServer(panel.address(), kKey);
    QAction* item = window_->serverList()->menuAction(ServerListView::MenuItem::PanelLogin);
    QVERIFY(item->isEnabled());
    item->trigger();
    QVERIFY(pages_.pages.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(pages_.pages.size(), 1, 10000);
    QVERIFY(prompts_.isEmpty());
    const QString page = pages_.pages[0].toString();
    QVERIFY2(page.startsWith(panel.baseUrl() + u"/login?tmp_token="_s), qPrintable(page));
    QVERIFY(item->isEnabled());

    HttpRequest browser;
    // The user's browser, told to go on past the panel's self-signed certificate.
    browser.acceptAnyCertificate = true;
    browser.url = page;
    const HttpResponse response = HttpClient::request(browser);
    QCOMPARE(response.statusCode, 200);
    QVERIFY(response.text.contains(TestPanel::kLoggedInPage));
    QVERIFY(response.cookiesOut.contains(TestPanel::kSessionCookie));
}

void TestPanelActions::openPanelFailureOpensNothing_data() {
    QTest::addColumn<PanelCase>("panelCase");
    QTest::addColumn<QString>("message");
    QTest::newRow("wrong key") << PanelCase::WrongKey
                               << u"宝塔接口通信失败："_s + TestPanel::kWrongKeyMessage;
    QTest::newRow("stopped panel") << PanelCase::Stopped << u"宝塔接口通信失败："_s;
    QTest::newRow("no panel data")
        << PanelCase::NoPort << u"面板地址不完整，请填写完整地址，格式如 http://IP:端口/入口"_s;
}

void TestPanelActions::openPanelFailureOpensNothing() {
    QFETCH(PanelCase, panelCase);
    QFETCH(QString, message);
    TestPanel panel(kKey);
    QVERIFY(panel.start());
    if (panelCase == PanelCase::NoPort)
        listServer(QString(), QString());
    else
        listServer(panel.address(), panelCase == PanelCase::WrongKey ? u"wrong"_s : kKey);
    if (panelCase == PanelCase::Stopped)
        panel.stop();
    window_->serverList()->menuAction(ServerListView::MenuItem::PanelLogin)->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(prompts_.size(), 1, 10000);
    QCOMPARE(lastPrompt(), message);
    QVERIFY(pages_.pages.isEmpty());
}

void TestPanelActions::copyPanelInfo_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("text");
    QTest::newRow("all fields") << u"http://10.0.0.5:8888/abc"_s << u"admin"_s << u"p w&x"_s
                                << u"面板地址 http://10.0.0.5:8888/abc\r\n账号:admin密码:p w&x"_s;
    QTest::newRow("empty fields") << QString() << QString() << QString()
                                  << u"面板地址 \r\n账号:密码:"_s;
}

void TestPanelActions::copyPanelInfo() {
    QFETCH(QString, url);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, text);
    listServer(url, kKey, user, password);
    log_.clear();
    QAction* item = window_->serverList()->menuAction(ServerListView::MenuItem::PanelCopy);
    QVERIFY(item->isEnabled());
    item->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), text);
    QCOMPARE(log_, QStringList{text + u" 复制成功\r\n"_s});
}

TORVANE_GUI_TEST_MAIN(TestPanelActions)
#include "tst_panel_actions.moc"
