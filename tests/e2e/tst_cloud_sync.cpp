// Upload, download and clearing end to end: the main window's three buttons against the real
// torvane-cloud on loopback, over plain HTTP and over HTTPS. Every test starts from a fresh data
// folder holding only the logged-in account and from an empty cloud copy. The pacing between
// uploaded rows is 0 except where a test needs an upload to last.

#include "common/cloud_service_fixture.h"
#include "common/gui_test_main.h"
#include "common/log_messages.h"
#include "common/self_signed_certificate.h"
#include "common/test_home.h"
#include "core/cloud/cloud_actions.h"
#include "core/cloud/cloud_download.h"
#include "core/cloud/cloud_upload.h"
#include "core/store/line_formats.h"
#include "core/store/local_store.h"
#include "core/store/store_connection.h"
#include "core/support/log_sink.h"
#include "ui/app/log_pane.h"
#include "ui/app/main_window.h"
#include "ui/app/prompt.h"
#include "ui/app/server_list_view.h"
#include "ui/cloud/cloud_account_actions.h"
#include "ui/cloud/cloud_sync_actions.h"
#include "ui/store/batch_window.h"

#include <QApplication>
#include <QMutex>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const CloudApi::Account kAccount{u"同步用户"_s, u"p&w=% 中"_s};

ServerRecord server(const QString& group, const QString& name, const QString& ip,
                    const QString& password) {
    ServerRecord s;
    s.group = group;
    s.name = name;
    s.ip = ip;
    s.port = u"1"_s;
    s.user = u"root"_s;
    s.password = password;
    s.system = u"linux"_s;
    s.remark = u"备注 & = % 中"_s;
    s.startTime = u"2024-6-6 9:5:7"_s;
    s.endTime = u"2025-6-6 9:5:7"_s;
    s.sort = u"50"_s;
    return s;
}

// Addresses on loopback with a closed port, so the list's reachability probe stays local.
QList<ServerRecord> sampleServers() {
    ServerRecord hk = server(u"香港"_s, u"香港一号"_s, u"127.0.0.11"_s, u"p&w=1% 中文"_s);
    hk.sort = u"10"_s;
    hk.panelUrl = u"https://127.0.0.11:8888/abc"_s;
    hk.panelUser = u"面板 admin"_s;
    hk.panelPassword = u"面板&=%"_s;
    hk.panelKey = u"KEY 123&"_s;
    ServerRecord bond = server(u"007"_s, u"零零七"_s, u"127.0.0.12"_s, u" 前后空格 "_s);
    bond.system = u"windows"_s;
    bond.user = u"administrator"_s;
    ServerRecord plain = server(u"默认分组"_s, u"默认"_s, u"127.0.0.13"_s, QString());
    plain.panelUrl = plain.panelUser = plain.panelPassword = plain.panelKey = u"0"_s;
    ServerRecord second = server(u"香港"_s, u"第二台"_s, u"127.0.0.14"_s, u"中文密码"_s);
    second.sort = u"70"_s;
    return {hk, bond, plain, second};
}

const QList<GroupRecord> kGroups{
    {{}, u"香港"_s, u"60"_s}, {{}, u"007"_s, u"70"_s}, {{}, u"测试 组"_s, u"80"_s}};

// Every column but the id, one line per server, ordered by address.
QStringList serverLines(LocalStore& store) {
    QStringList lines;
    const auto rows = store.connection().allRows(u"server_data"_s);
    for (qsizetype r = 0; rows && r < rows->rows.size(); ++r)
        lines << ServerLine::format(serverRecordFromRow(*rows, r));
    lines.sort();
    return lines;
}

QStringList groupLines(LocalStore& store) {
    QStringList lines;
    for (const GroupRecord& g : store.groups().value_or(QList<GroupRecord>()))
        lines << GroupLine::format(g);
    lines.sort();
    return lines;
}

// The server and group lines of the store.
std::pair<QStringList, QStringList> storedLines(const QString& path) {
    LocalStore store;
    if (!store.open(path))
        return {};
    return {serverLines(store), groupLines(store)};
}

// Everything in the file, ids included.
QString wholeStore(const QString& path) {
    StoreConnection db;
    if (!db.open(path))
        return {};
    QStringList dump;
    for (const QString& table : {u"server_data"_s, u"server_class"_s}) {
        const auto rows = db.allRows(table);
        for (const QStringList& row : rows ? rows->rows : QList<QStringList>())
            dump << row.join(u'|');
    }
    return dump.join(u'\n');
}

// The lines of the cloud copy as the service hands them out.
QStringList cloudLines(const CloudApi::Reply& reply) {
    return splitFields(trimLineBreaks(reply.text), u"\r\n"_s);
}

} // namespace

class TestCloudSync : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void roundTripRestoresEveryField();
    void questionMarksAndDashesComeBackAndEmojiIsRefused();
    void filteredListUploadsItsServersAndAllGroups();
    void clearingEmptiesTheCloudCopy();
    void replyIsJudgedByItsFirstLine();
    void answeringNoUploadsNothing();
    void notConnectedOpensTheAccountWindow_data();
    void notConnectedOpensTheAccountWindow();
    void runningUploadRefusesSecondUploadAndClearing();
    void closingDuringUploadEndsIt();
    void serviceDown();
    void roundTripOverHttps();

private:
    void freshDataFolder();
    // A new window on an empty data folder downloads what the cloud holds: the four sample
    // servers.
    void downloadIntoFreshDataFolder();
    void restart();
    void fillStore();
    void press(const QString& button);
    // Presses the button and waits for the action's end.
    void pressAndWait(const QString& button, void (CloudSyncActions::*finished)());
    void waitForListRows(int rows);
    QStringList takeLog();
    QStringList log() const;
    int logCount(const QString& message) const;

    TestHome home_;
    CloudServiceFixture cloud_;
    std::unique_ptr<MainWindow> main_;
    QStringList prompts_;
    QMessageBox::StandardButton answer_ = QMessageBox::Yes;
    mutable QMutex logLock_;
    QStringList log_;
};

void TestCloudSync::initTestCase() {
    QVERIFY(home_.isValid());
    QVERIFY(cloud_.start());
    home_.setCloudAddress(cloud_.url());
    const QString phone = u"13600000001"_s;
    QVERIFY(CloudApi::succeeded(CloudApi::sendSmsCode(home_.cloud(), phone)));
    const QString code = cloud_.smsCode(phone);
    QVERIFY(!code.isEmpty());
    QVERIFY(CloudApi::succeeded(
        CloudApi::registerAccount(home_.cloud(), {kAccount.username, kAccount.password, phone, code,
                                                  u"1"_s, u"m@example.com"_s})));
}

void TestCloudSync::init() {
    CloudUpload::setPacing(0ms);
    prompts_.clear();
    answer_ = QMessageBox::Yes;
    Prompt::setResponder([this](const PromptRequest& r) {
        prompts_ << r.text;
        if (r.buttons.testFlag(answer_))
            return answer_;
        return answer_ == QMessageBox::Yes ? QMessageBox::Ok : QMessageBox::Cancel;
    });
    QVERIFY(CloudApi::succeededUnlessFalse(CloudApi::clearCloudCopy(home_.cloud(), kAccount)));
    freshDataFolder();
}

// A data folder with nothing but the template and the logged-in account.
void TestCloudSync::downloadIntoFreshDataFolder() {
    main_.reset();
    freshDataFolder();
    restart();
    waitForListRows(0);
    pressAndWait(u"按钮12"_s, &CloudSyncActions::downloadFinished);
    waitForListRows(4);
}

void TestCloudSync::freshDataFolder() {
    QFile::remove(home_.databasePath());
    LocalStore::ensureDatabase(home_.databasePath());
    LocalStore store;
    QVERIFY(store.open(home_.databasePath()));
    QVERIFY(store.writeCloudAccount({kAccount.username, kAccount.password}));
}

void TestCloudSync::cleanup() {
    main_.reset();
    home_.context().log()->setReceiver({});
    Prompt::setResponder({});
    CloudUpload::setPacing(CloudUpload::kPacing);
}

// A new main window on the data folder: it logs in with the stored account and reads the
// list. Its log lines are also kept here, because the pane empties itself at 31 lines.
void TestCloudSync::restart() {
    main_.reset();
    takeLog();
    main_ = std::make_unique<MainWindow>(home_.context());
    QSignalSpy checked(main_->cloudAccount(), &CloudAccountActions::connectionChecked);
    main_->show();
    QVERIFY(QTest::qWaitForWindowExposed(main_.get()));
    QVERIFY(checked.count() == 1 || checked.wait(20000));
    QPointer<LogPane> pane(main_->logPane());
    home_.context().log()->setReceiver([this, pane](const QString& line) {
        // Every list reload also writes its rental-expiry tally; that line is not the sync's.
        {
            QMutexLocker lock(&logLock_);
            for (const QString& message : logMessages(line))
                if (!message.startsWith(u"-租期提醒："_s))
                    log_ << message;
        }
        QMetaObject::invokeMethod(
            qApp,
            [pane, line] {
                if (pane)
                    pane->append(line);
            },
            Qt::QueuedConnection);
    });
    QTRY_VERIFY(!main_->serverList()->isFilling());
}

void TestCloudSync::fillStore() {
    LocalStore store;
    QVERIFY(store.open(home_.databasePath()));
    for (const GroupRecord& g : kGroups)
        QVERIFY(store.insertGroup(g.name, g.sort));
    for (const ServerRecord& s : sampleServers())
        QVERIFY(store.insertServer(s));
}

void TestCloudSync::press(const QString& button) {
    auto* control = main_->findChild<QPushButton*>(button);
    QVERIFY2(control && control->isEnabled(), qPrintable(button));
    control->click();
}

void TestCloudSync::pressAndWait(const QString& button, void (CloudSyncActions::*finished)()) {
    QSignalSpy done(main_->cloudSync(), finished);
    press(button);
    QVERIFY(done.count() == 1 || done.wait(30000));
    // Log lines written just before the end are still on their way to the UI thread.
    QCoreApplication::processEvents();
}

void TestCloudSync::waitForListRows(int rows) {
    QTRY_COMPARE_WITH_TIMEOUT(main_->serverList()->model()->rowCount(), rows, 10000);
    QTRY_VERIFY(!main_->serverList()->isFilling());
}

QStringList TestCloudSync::takeLog() {
    QMutexLocker lock(&logLock_);
    return std::exchange(log_, {});
}

QStringList TestCloudSync::log() const {
    QMutexLocker lock(&logLock_);
    return log_;
}

int TestCloudSync::logCount(const QString& message) const {
    return int(log().count(message));
}

// Up with Chinese names, passwords full of form characters, panel fields and a group whose
// name is all digits; down into a fresh data folder with every field equal; down once more
// with every group reported as existing and every server overwritten once, changing nothing.
void TestCloudSync::roundTripRestoresEveryField() {
    fillStore();
    restart();
    waitForListRows(4);
    const auto stored = storedLines(home_.databasePath());

    pressAndWait(u"按钮1"_s, &CloudSyncActions::uploadFinished);
    QCOMPARE(prompts_, QStringList{CloudUpload::kConfirmText});
    QCOMPARE(log().value(0), u"-准备开始上传数据到云端"_s);
    for (const ServerRecord& s : sampleServers())
        QCOMPARE(logCount(u"-上传成功："_s + s.name), 1);
    for (const QString& group : {u"默认分组"_s, u"香港"_s, u"007"_s, u"测试 组"_s})
        QCOMPARE(logCount(u"-上传分组成功："_s + group), 1);
    QCOMPARE(log().last(), u"-上传完成：服务器 4 个，分组 4 个"_s);
    QCOMPARE(log().size(), 10);

    downloadIntoFreshDataFolder();
    QCOMPARE(logCount(u"-默认分组 下载分组失败 指定分组已经存在"_s), 1);
    for (const GroupRecord& g : kGroups)
        QCOMPARE(logCount(u"-%1 下载分组成功"_s.arg(g.name)), 1);
    for (const ServerRecord& s : sampleServers())
        QCOMPARE(logCount(u"-%1 下载成功"_s.arg(s.ip)), 1);
    QCOMPARE(storedLines(home_.databasePath()).first, stored.first);
    QCOMPARE(storedLines(home_.databasePath()).second, stored.second);

    const QString before = wholeStore(home_.databasePath());
    takeLog();
    pressAndWait(u"按钮12"_s, &CloudSyncActions::downloadFinished);
    for (const QString& group : {u"默认分组"_s, u"香港"_s, u"007"_s, u"测试 组"_s})
        QCOMPARE(logCount(u"-%1 下载分组失败 指定分组已经存在"_s.arg(group)), 1);
    for (const ServerRecord& s : sampleServers())
        QCOMPARE(logCount(u"-%1 本地已存在该IP，本次执行覆盖操作"_s.arg(s.ip)), 1);
    QCOMPARE(log().size(), 2 * 4 + 2 * 4);
    QCOMPARE(wholeStore(home_.databasePath()), before);
}

// Values with "?" and "-" where the old reply decoding cut them, typed into the batch window
// with one line holding an emoji: that line is refused with a log line and never stored. The
// rest go up, with a progress line and the closing count, and come down into a fresh data
// folder field-equal.
void TestCloudSync::questionMarksAndDashesComeBackAndEmojiIsRefused() {
    {
        LocalStore store;
        QVERIFY(store.open(home_.databasePath()));
        QVERIFY(store.insertGroup(u"组-?"_s, u"5-"_s));
    }
    restart();
    QStringList lines;
    for (int i = 1; i <= 11; ++i)
        lines << u"HK-?----web--?--%1----127.0.0.%2----root-?----?p-?ss----22----linux----"
                 u"含问号?的备注 'a' \"b\"----2024-6-6 9:5:7----2025-6-6 9:5:7----%1----"
                 u"https://127.0.0.1:8888/abc?x=1----bt-?----?----K-?"_s.arg(i)
                     .arg(20 + i);
    lines.insert(5,
                 u"组----表情----127.0.0.99----root----pw----22----linux----好😀----s----e----1"_s);
    {
        BatchWindow batch(main_->serverList(), home_.context(), main_.get());
        QSignalSpy added(&batch, &BatchWindow::addingFinished);
        batch.setText(lines.join(u"\r\n"_s));
        batch.addLines();
        QVERIFY(added.count() == 1 || added.wait(20000));
    }
    QCOMPARE(logCount(u"-127.0.0.99 添加失败 备注信息含有无法保存的字符：😀"_s), 1);
    waitForListRows(11);
    const auto [servers, groups] = storedLines(home_.databasePath());
    QCOMPARE(servers.size(), 11);
    QVERIFY(servers.filter(u"?"_s).size() == 11);

    takeLog();
    pressAndWait(u"按钮1"_s, &CloudSyncActions::uploadFinished);
    QCOMPARE(logCount(u"-正在上传 10/11"_s), 1);
    QCOMPARE(log().last(), u"-上传完成：服务器 11 个，分组 2 个"_s);

    main_.reset();
    freshDataFolder();
    restart();
    pressAndWait(u"按钮12"_s, &CloudSyncActions::downloadFinished);
    waitForListRows(11);
    QCOMPARE(logCount(u"-组-? 下载分组成功"_s), 1);
    LocalStore store;
    QVERIFY(store.open(home_.databasePath()));
    QCOMPARE(serverLines(store), servers);
    QCOMPARE(groupLines(store), groups);
}

// The question says how many rows go up; only they do, with every group.
void TestCloudSync::filteredListUploadsItsServersAndAllGroups() {
    fillStore();
    restart();
    waitForListRows(4);
    main_->serverList()->search(u"分组名称"_s, QString(), u"香港"_s);
    waitForListRows(2);

    pressAndWait(u"按钮1"_s, &CloudSyncActions::uploadFinished);
    QCOMPARE(prompts_, QStringList{CloudUpload::confirmText(true, 2)});
    QVERIFY(prompts_[0].contains(u"列表中显示的 2 台服务器"_s));
    QCOMPARE(log().last(), u"-上传完成：服务器 2 个，分组 4 个"_s);
    const QStringList servers = cloudLines(CloudApi::downloadServers(home_.cloud(), kAccount));
    QCOMPARE(servers.size(), 2);
    for (const QString& line : servers)
        QCOMPARE(ServerLine::fields(line).value(ServerLine::Group), u"香港"_s);
    QCOMPARE(cloudLines(CloudApi::downloadGroups(home_.cloud(), kAccount)).size(), 4);
}

// Cancel leaves the cloud copy alone; OK clears it, and a download afterwards adds nothing.
void TestCloudSync::clearingEmptiesTheCloudCopy() {
    fillStore();
    restart();
    waitForListRows(4);
    pressAndWait(u"按钮1"_s, &CloudSyncActions::uploadFinished);
    takeLog();

    answer_ = QMessageBox::Cancel;
    QSignalSpy cleared(main_->cloudSync(), &CloudSyncActions::clearFinished);
    press(u"按钮16"_s);
    QCOMPARE(prompts_.last(), CloudClear::kConfirmText);
    QTest::qWait(200);
    QCOMPARE(cleared.count(), 0);
    QCOMPARE(cloudLines(CloudApi::downloadServers(home_.cloud(), kAccount)).size(), 4);

    answer_ = QMessageBox::Yes;
    pressAndWait(u"按钮16"_s, &CloudSyncActions::clearFinished);
    QCOMPARE(log(), QStringList{u"-清空成功,云端返回：True"_s});
    QCOMPARE(CloudApi::downloadServers(home_.cloud(), kAccount).text, QString());

    const QString before = wholeStore(home_.databasePath());
    takeLog();
    pressAndWait(u"按钮12"_s, &CloudSyncActions::downloadFinished);
    QCOMPARE(log(), QStringList());
    QCOMPARE(wholeStore(home_.databasePath()), before);
}

// A group named with the word the service refuses by is data like any other: it comes down
// with the rest. A refusal of the service (a password changed elsewhere) fails both requests
// and changes nothing.
void TestCloudSync::replyIsJudgedByItsFirstLine() {
    fillStore();
    {
        LocalStore store;
        QVERIFY(store.open(home_.databasePath()));
        QVERIFY(store.insertGroup(u"Falsehood"_s, u"1"_s));
    }
    restart();
    waitForListRows(4);
    pressAndWait(u"按钮1"_s, &CloudSyncActions::uploadFinished);
    QCOMPARE(logCount(u"-上传分组成功：Falsehood"_s), 1);

    freshDataFolder();
    restart();
    const QString fresh = wholeStore(home_.databasePath());
    main_->cloudAccount()->account().setAccount({kAccount.username, u"changed elsewhere"_s});
    pressAndWait(u"按钮12"_s, &CloudSyncActions::downloadFinished);
    QCOMPARE(log(), QStringList(2, u"-下载失败,云端返回：False:账号或密码错误"_s));
    QCOMPARE(wholeStore(home_.databasePath()), fresh);

    main_->cloudAccount()->account().setAccount(kAccount);
    pressAndWait(u"按钮12"_s, &CloudSyncActions::downloadFinished);
    waitForListRows(4);
    QCOMPARE(logCount(u"-Falsehood 下载分组成功"_s), 1);
    QCOMPARE(log().filter(u"下载成功"_s).size(), 4);
    LocalStore store;
    QVERIFY(store.open(home_.databasePath()));
    QVERIFY(groupLines(store).contains(u"Falsehood----1"_s));
}

void TestCloudSync::answeringNoUploadsNothing() {
    fillStore();
    restart();
    waitForListRows(4);
    answer_ = QMessageBox::No;
    press(u"按钮1"_s);
    QCOMPARE(prompts_, QStringList{CloudUpload::kConfirmText});
    QVERIFY(!main_->cloudSync()->isUploading());
    QTest::qWait(200);
    QCOMPARE(log(), QStringList());
    QCOMPARE(cloudLines(CloudApi::downloadGroups(home_.cloud(), kAccount)), QStringList());
}

void TestCloudSync::notConnectedOpensTheAccountWindow_data() {
    QTest::addColumn<QString>("button");
    QTest::newRow("upload") << u"按钮1"_s;
    QTest::newRow("download") << u"按钮12"_s;
}

void TestCloudSync::notConnectedOpensTheAccountWindow() {
    QFETCH(QString, button);
    fillStore();
    restart();
    main_->cloudAccount()->account().setState(CloudAccount::State::NotConnected);
    // The window is modal: whoever opens, it is closed as soon as it shows.
    QString opened;
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&opened] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            opened = dialog->windowTitle();
            dialog->close();
        }
    });
    closer.start(50);
    press(button);
    QCOMPARE(opened, u"云端账号配置"_s);
    QVERIFY(!main_->cloudSync()->isUploading());
    QVERIFY(!main_->cloudSync()->isDownloading());
    QTest::qWait(200);
    QCOMPARE(log(), QStringList());
    QCOMPARE(cloudLines(CloudApi::downloadGroups(home_.cloud(), kAccount)), QStringList());
}

// While an upload runs, neither a second upload nor a clearing starts: the clearing would
// report success and the running upload would then fill the cloud copy again.
void TestCloudSync::runningUploadRefusesSecondUploadAndClearing() {
    CloudUpload::setPacing(300ms);
    fillStore();
    restart();
    waitForListRows(4);
    QSignalSpy done(main_->cloudSync(), &CloudSyncActions::uploadFinished);
    QSignalSpy cleared(main_->cloudSync(), &CloudSyncActions::clearFinished);
    press(u"按钮1"_s);
    QTRY_COMPARE(logCount(u"-准备开始上传数据到云端"_s), 1);
    press(u"按钮1"_s);
    QCOMPARE(prompts_.last(), CloudUpload::kAlreadyRunning);
    press(u"按钮16"_s);
    QCOMPARE(prompts_.last(), CloudUpload::kClearWhileUploading);
    QVERIFY(done.wait(30000));
    QCoreApplication::processEvents();
    QCOMPARE(cleared.count(), 0);
    QCOMPARE(logCount(u"-准备开始上传数据到云端"_s), 1);
    QCOMPARE(log().size(), 10);
    QCOMPARE(cloudLines(CloudApi::downloadServers(home_.cloud(), kAccount)).size(), 4);
}

// The window closes while the upload pauses between rows: the workers end at once and
// nothing more is sent.
void TestCloudSync::closingDuringUploadEndsIt() {
    CloudUpload::setPacing(CloudUpload::kPacing);
    fillStore();
    restart();
    waitForListRows(4);
    press(u"按钮1"_s);
    QTRY_VERIFY_WITH_TIMEOUT(log().filter(u"-上传成功："_s).size() == 1, 10000);
    main_.reset();
    QTest::qWait(1500);
    QVERIFY(cloudLines(CloudApi::downloadServers(home_.cloud(), kAccount)).size() < 4);
}

// The service goes away in the middle of an upload: the rows after it are logged as failed,
// naming the missing answer. Download and clearing then log their failures and the local
// data stays as it was; a new upload stops at the connection check.
void TestCloudSync::serviceDown() {
    CloudUpload::setPacing(500ms);
    fillStore();
    restart();
    waitForListRows(4);
    QSignalSpy uploaded(main_->cloudSync(), &CloudSyncActions::uploadFinished);
    press(u"按钮1"_s);
    QTRY_VERIFY_WITH_TIMEOUT(log().filter(u"-上传成功："_s).size() == 1, 10000);
    cloud_.stop();
    QVERIFY(uploaded.wait(30000));
    QCoreApplication::processEvents();
    const QStringList failed = log().filter(u"-上传失败："_s);
    QVERIFY(!failed.isEmpty());
    QVERIFY(failed.first().contains(u"云端返回：（云端未应答："_s));

    const QString before = wholeStore(home_.databasePath());
    takeLog();
    pressAndWait(u"按钮12"_s, &CloudSyncActions::downloadFinished);
    QCOMPARE(log().size(), 2);
    QCOMPARE(log().filter(u"-下载失败,云端返回：（云端未应答："_s).size(), 2);
    pressAndWait(u"按钮16"_s, &CloudSyncActions::clearFinished);
    QCOMPARE(log().size(), 3);
    QVERIFY(log().last().startsWith(u"-清空失败,云端返回：（云端未应答："_s));
    QCOMPARE(wholeStore(home_.databasePath()), before);

    prompts_.clear();
    pressAndWait(u"按钮1"_s, &CloudSyncActions::uploadFinished);
    QCOMPARE(prompts_, (QStringList{CloudUpload::kConfirmText, CloudUpload::kConnectionFailed}));

    QVERIFY(cloud_.start());
    home_.setCloudAddress(cloud_.url());
}

// The whole client against torvane-cloud serving HTTPS with a certificate of a private
// authority, which the client trusts through SSL_CERT_FILE: register, upload, and download into
// a fresh data folder with every field equal.
void TestCloudSync::roundTripOverHttps() {
    QTemporaryDir certificates;
    QVERIFY(writeTestCertificateAuthority(certificates.path()));
    const QDir files(certificates.path());
    CloudServiceFixture tls({u"--tls-cert"_s, files.filePath(u"chain.pem"_s), u"--tls-key"_s,
                             files.filePath(u"server-key.pem"_s)});
    QVERIFY(tls.start());
    const auto backToPlainHttp = qScopeGuard([this] {
        main_.reset();
        qunsetenv("SSL_CERT_FILE");
        home_.setCloudAddress(cloud_.url());
    });
    qputenv("SSL_CERT_FILE", files.filePath(u"ca.pem"_s).toLocal8Bit());
    home_.setCloudAddress(tls.url());
    const QString phone = u"13600000002"_s;
    QVERIFY(CloudApi::succeeded(CloudApi::sendSmsCode(home_.cloud(), phone)));
    QVERIFY(CloudApi::succeeded(
        CloudApi::registerAccount(home_.cloud(), {kAccount.username, kAccount.password, phone,
                                                  tls.smsCode(phone), u"1"_s, u"m@b.cn"_s})));

    fillStore();
    restart();
    waitForListRows(4);
    const auto stored = storedLines(home_.databasePath());
    pressAndWait(u"按钮1"_s, &CloudSyncActions::uploadFinished);
    for (const ServerRecord& s : sampleServers())
        QCOMPARE(logCount(u"-上传成功："_s + s.name), 1);

    downloadIntoFreshDataFolder();
    QCOMPARE(storedLines(home_.databasePath()).first, stored.first);
    QCOMPARE(storedLines(home_.databasePath()).second, stored.second);
}

TORVANE_GUI_TEST_MAIN(TestCloudSync)
#include "tst_cloud_sync.moc"
