// torvane-cloud as its operator runs it: HTTPS with a certificate from a private authority,
// TLS files it cannot serve with, the health answer, closed registration, the operator's
// commands beside the running service, and command-line mistakes.

#include "common/cloud_service_fixture.h"
#include "common/cloud_test_forms.h"
#include "common/loopback_connection.h"
#include "common/self_signed_certificate.h"
#include "core/cloud/cloud_api.h"

#include <QFileInfo>
#include <QTest>

#include <httplib.h>

#include <atomic>
#include <thread>

using namespace Qt::StringLiterals;
using Fields = CloudApi::FormFields;

namespace {

struct Answer {
    int status = 0;
    QString text;
    httplib::Error error = httplib::Error::Success;
};

struct CommandResult {
    int exitCode = -1;
    QString out;
    QString err;
};

const CloudApi::Account kAlice{u"alice"_s, u"alice-pw"_s};

// A client of `url` (http:// or https://); over HTTPS it trusts `caFile` alone, or the
// system's authorities when that is empty.
std::unique_ptr<httplib::Client> clientOf(const QString& url, const QString& caFile) {
    auto client = std::make_unique<httplib::Client>(url.toStdString());
    client->set_read_timeout(30, 0);
    client->enable_server_certificate_verification(true);
    if (!caFile.isEmpty())
        client->set_ca_cert_path(caFile.toStdString().c_str());
    return client;
}

Answer answerOf(const httplib::Result& result) {
    if (!result)
        return {0, QString(), result.error()};
    return {result->status, QString::fromStdString(result->body)};
}

Answer post(httplib::Client& client, const QString& act, const Fields& fields) {
    return answerOf(client.Post(("/admin/user_reg.php?act=" + act.toStdString()).c_str(),
                                CloudApi::formBody(fields).toStdString(),
                                "application/x-www-form-urlencoded"));
}

// sendsms, the code from the service's log, then reg: the reply to reg.
QString registerAccount(CloudServiceFixture& cloud, httplib::Client& client,
                        const CloudApi::Account& account, const QString& phone) {
    const Answer sent = post(client, u"sendsms"_s, {{u"phone"_s, phone}});
    if (sent.text != u"True"_s)
        return sent.text;
    return post(client, u"reg"_s,
                {{u"username"_s, account.username},
                 {u"password"_s, account.password},
                 {u"phone"_s, phone},
                 {u"vcode"_s, cloud.smsCode(phone)},
                 {u"qq"_s, u"1"_s},
                 {u"mail"_s, u"m@example.com"_s}})
        .text;
}

CommandResult runCommand(const QStringList& arguments, const QByteArray& input = {}) {
    QProcess process;
    process.start(QStringLiteral(TORVANE_CLOUD_SERVICE_PATH), arguments);
    if (!process.waitForStarted(10000))
        return {};
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

class TestCloudOperations : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void httpsRoundTrip();
    void clientsThatCannotTalkTls();
    void tlsKeepsTheConnectionLimits();
    void tlsFilesThatCannotServe_data();
    void tlsFilesThatCannotServe();
    void closedRegistration();
    void listUsers();
    void resetPassword_data();
    void resetPassword();
    void deleteUser();
    void backupWhileServing();
    void healthFollowsTheDatabase();
    void databasePasswordNeverShown();
    void commandsNeedAnExistingStore();
    void commandLineMistakes_data();
    void commandLineMistakes();

private:
    QString file(const char* name) const {
        return QDir(certificates_.path()).filePath(QString::fromLatin1(name));
    }
    std::unique_ptr<httplib::Client> trustingClient() {
        return clientOf(cloud_.url(), file("ca.pem"));
    }
    CommandResult command(const QStringList& arguments, const QByteArray& input = {}) {
        return runCommand(arguments + cloud_.storeArguments(), input);
    }
    QString info(const CloudApi::Account& account) {
        return post(*trustingClient(), u"info"_s, CloudApi::accountBody(account)).text;
    }

    QTemporaryDir certificates_;
    CloudServiceFixture cloud_;
    int nextPhone_ = 100;
    QString freshPhone() { return u"137000%1"_s.arg(nextPhone_++, 5, 10, QChar(u'0')); }
};

void TestCloudOperations::initTestCase() {
    QVERIFY(certificates_.isValid());
    QVERIFY(writeTestCertificateAuthority(certificates_.path()));
    cloud_.setExtraArguments(
        {u"--tls-cert"_s, file("chain.pem"), u"--tls-key"_s, file("server-key.pem")});
    QVERIFY(cloud_.start());
    QVERIFY(cloud_.url().startsWith(u"https://"_s));
    QVERIFY(cloud_.log().contains(u"(HTTPS)"_s));
    QCOMPARE(registerAccount(cloud_, *trustingClient(), kAlice, freshPhone()), u"True"_s);
}

// A client that trusts only the private authority gets the server's certificate and the
// intermediate with it, checks both and the address 127.0.0.1, and every action works.
void TestCloudOperations::httpsRoundTrip() {
    const auto client = trustingClient();
    QCOMPARE(post(*client, u"del_data"_s, CloudApi::accountBody(kAlice)).text, u"True"_s);
    QCOMPARE(post(*client, u"update"_s, serverFields(kAlice, u"192.0.2.1"_s, u"22"_s)).text,
             u"True"_s);
    QCOMPARE(post(*client, u"down"_s, CloudApi::accountBody(kAlice)).text,
             u"g----n----192.0.2.1----root----5F50137C3----22----linux----r----s----e----50"_s);
    const Answer health = answerOf(client->Get("/health"));
    QCOMPARE(health.status, 200);
    QCOMPARE(health.text, u"ok"_s);
}

void TestCloudOperations::clientsThatCannotTalkTls() {
    const Answer stranger = answerOf(clientOf(cloud_.url(), QString())->Get("/health"));
    QCOMPARE(stranger.error, httplib::Error::SSLServerVerification);

    QString plainUrl = cloud_.url();
    plainUrl.replace(u"https://"_s, u"http://"_s);
    const Answer plain = answerOf(clientOf(plainUrl, QString())->Get("/health"));
    QVERIFY2(plain.status != 200, qPrintable(plain.text));

    QVERIFY(cloud_.isRunning());
    QCOMPARE(info(kAlice), u"True"_s);
}

// Connections that never start their handshake hold no worker: over HTTPS too, one address
// gets no more than its share, an HTTPS request from elsewhere is answered meanwhile, and the
// silent ones are closed when their time is up.
void TestCloudOperations::tlsKeepsTheConnectionLimits() {
    CloudServiceFixture limited({u"--tls-cert"_s, file("chain.pem"), u"--tls-key"_s,
                                 file("server-key.pem"), u"--connections-per-address"_s, u"2"_s,
                                 u"--request-time"_s, u"2"_s});
    QVERIFY(limited.start());
    int silent[2];
    for (int& socket : silent) {
        socket = connectFromLoopback("127.0.0.7", limited.port());
        QVERIFY(socket >= 0);
    }
    const int third = connectFromLoopback("127.0.0.7", limited.port());
    QVERIFY(third >= 0);
    // Closed without the plain-text refusal a TLS client could not read.
    const ReceivedUntilClosed refused = receiveUntilClosed(third, 5000);
    QVERIFY(refused.closed);
    QVERIFY(refused.bytes.empty());
    ::close(third);

    const Answer health = answerOf(clientOf(limited.url(), file("ca.pem"))->Get("/health"));
    QCOMPARE(health.status, 200);
    for (const int socket : silent) {
        const ReceivedUntilClosed ended = receiveUntilClosed(socket, 10000);
        QVERIFY(ended.closed);
        QVERIFY(ended.bytes.empty());
        ::close(socket);
    }
    QVERIFY(limited.log().contains(u"connections from 127.0.0.7 refused"_s));
}

void TestCloudOperations::tlsFilesThatCannotServe_data() {
    QTest::addColumn<QString>("certificate");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("logged");

    QTest::newRow("no certificate file")
        << u"missing.pem"_s << u"server-key.pem"_s << u"cannot use the TLS certificate"_s;
    QTest::newRow("a key where the certificate belongs")
        << u"server-key.pem"_s << u"server-key.pem"_s << u"cannot use the TLS certificate"_s;
    QTest::newRow("no key file") << u"chain.pem"_s << u"missing.pem"_s
                                 << u"cannot use the TLS key"_s;
    QTest::newRow("another certificate's key")
        << u"chain.pem"_s << u"ca-key.pem"_s << u"key values mismatch"_s;
    // Refused at once; a prompt for the passphrase would wait for ever without a terminal.
    QTest::newRow("key behind a passphrase")
        << u"chain.pem"_s << u"encrypted-key.pem"_s << u"cannot use the TLS key"_s;
}

void TestCloudOperations::tlsFilesThatCannotServe() {
    QFETCH(QString, certificate);
    QFETCH(QString, key);
    QFETCH(QString, logged);

    if (!QFile::exists(file("encrypted-key.pem"))) {
        QProcess openssl;
        openssl.start(u"openssl"_s,
                      {u"pkey"_s, u"-in"_s, file("server-key.pem"), u"-aes256"_s, u"-passout"_s,
                       u"pass:secret"_s, u"-out"_s, file("encrypted-key.pem")});
        QVERIFY(openssl.waitForFinished(30000) && openssl.exitCode() == 0);
    }
    const QDir dir(certificates_.path());
    CloudServiceFixture refused(
        {u"--tls-cert"_s, dir.filePath(certificate), u"--tls-key"_s, dir.filePath(key)});
    QVERIFY(!refused.start());
    QCOMPARE(refused.exitCode(), 1);
    const QString log = refused.log();
    QVERIFY2(log.contains(u"cannot start: "_s) && log.contains(logged), qPrintable(log));
}

// Closed registration refuses codes and registrations, logs each refusal with the peer's
// address, and leaves existing accounts working.
void TestCloudOperations::closedRegistration() {
    CloudServiceFixture cloud;
    QVERIFY(cloud.start());
    const CloudApi::Account erin{u"erin"_s, u"erin-pw"_s};
    QCOMPARE(registerAccount(cloud, *clientOf(cloud.url(), QString()), erin, freshPhone()),
             u"True"_s);
    cloud.stop();
    cloud.setExtraArguments({u"--registration"_s, u"closed"_s});
    QVERIFY(cloud.start());
    QVERIFY(cloud.log().contains(u"registration closed"_s));

    const auto client = clientOf(cloud.url(), QString());
    const QString refusal = u"False:本服务已关闭注册，请联系服务管理员"_s;
    QCOMPARE(post(*client, u"sendsms"_s, {{u"phone"_s, freshPhone()}}).text, refusal);
    QCOMPARE(post(*client, u"reg"_s,
                  {{u"username"_s, u"frank"_s},
                   {u"password"_s, u"pw"_s},
                   {u"phone"_s, freshPhone()},
                   {u"vcode"_s, u"123456"_s},
                   {u"qq"_s, u"1"_s},
                   {u"mail"_s, u"m"_s}})
                 .text,
             refusal);
    QVERIFY(cloud.log().contains(u"refused sendsms from 127.0.0.1: registration is closed"_s));
    QVERIFY(cloud.log().contains(u"refused reg from 127.0.0.1: registration is closed"_s));
    QVERIFY(!cloud.log().contains(u"sms code for"_s));
    QCOMPARE(post(*client, u"info"_s, CloudApi::accountBody(erin)).text, u"True"_s);
    QCOMPARE(post(*client, u"info"_s, CloudApi::accountBody({u"frank"_s, u"pw"_s})).text,
             u"False:账号或密码错误"_s);
}

void TestCloudOperations::listUsers() {
    const CloudApi::Account grace{u"grace 李"_s, u"pw"_s};
    const QString phone = freshPhone();
    const auto client = trustingClient();
    QCOMPARE(registerAccount(cloud_, *client, grace, phone), u"True"_s);
    for (const QString& ip : {u"192.0.2.7"_s, u"192.0.2.8"_s})
        QCOMPARE(post(*client, u"update"_s, serverFields(grace, ip, u"22"_s)).text, u"True"_s);
    QCOMPARE(post(*client, u"update_class"_s,
                  CloudApi::accountBody(grace, {{u"server_class"_s, u"g"_s}, {u"sort"_s, u"1"_s}}))
                 .text,
             u"True"_s);

    const CommandResult listed = command({u"users"_s});
    QCOMPARE(listed.exitCode, 0);
    const QStringList lines = listed.out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.value(0), u"name\tphone\tservers\tgroups\tregistered"_s);
    const QStringList row = lines.filter(grace.username).value(0).split(u'\t');
    QCOMPARE(row.mid(0, 4), (QStringList{grace.username, phone, u"2"_s, u"1"_s}));
    QVERIFY(QRegularExpression(u"^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"_s)
                .match(row.value(4))
                .hasMatch());
    QCOMPARE(lines.filter(u"alice\t"_s).size(), 1);
}

void TestCloudOperations::resetPassword_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("fromStdin");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    QTest::newRow("a new random password")
        << u"alice"_s << false << QByteArray() << 0 << u"new password set for \"alice\""_s;
    QTest::newRow("one from standard input")
        << u"alice"_s << true << QByteArray("n€w & = pw\r\nsecond line\n") << 0
        << u"new password set for \"alice\""_s;
    QTest::newRow("empty standard input")
        << u"alice"_s << true << QByteArray("\n") << 1 << u"standard input held no password"_s;
    QTest::newRow("no such account")
        << u"nobody"_s << false << QByteArray() << 1 << u"there is no account \"nobody\""_s;
}

// The running service takes the new password at once, though it remembered the old one.
void TestCloudOperations::resetPassword() {
    QFETCH(QString, name);
    QFETCH(bool, fromStdin);
    QFETCH(QByteArray, input);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    QCOMPARE(info(kAlice), u"True"_s);
    QStringList arguments{u"reset-password"_s, name};
    if (fromStdin)
        arguments << u"--password-stdin"_s;
    const CommandResult reset = command(arguments, input);
    QCOMPARE(reset.exitCode, exitCode);
    QVERIFY2(reset.err.contains(message), qPrintable(reset.err));
    if (exitCode != 0) {
        QCOMPARE(reset.out, QString());
        QCOMPARE(info(kAlice), u"True"_s);
        return;
    }
    const QString password =
        fromStdin ? QString::fromUtf8(input.left(input.indexOf('\r'))) : reset.out.trimmed();
    QCOMPARE(reset.out, fromStdin ? QString() : password + u'\n');
    if (!fromStdin)
        QVERIFY(QRegularExpression(u"^[a-zA-Z0-9]{16}$"_s).match(password).hasMatch());
    QCOMPARE(info(kAlice), u"False:账号或密码错误"_s);
    QCOMPARE(info({kAlice.username, password}), u"True"_s);

    const CommandResult restored =
        command({u"reset-password"_s, u"alice"_s, u"--password-stdin"_s}, kAlice.password.toUtf8());
    QCOMPARE(restored.exitCode, 0);
    QCOMPARE(info(kAlice), u"True"_s);
}

void TestCloudOperations::deleteUser() {
    const CloudApi::Account ivan{u"ivan"_s, u"ivan-pw"_s};
    const auto client = trustingClient();
    QCOMPARE(registerAccount(cloud_, *client, ivan, freshPhone()), u"True"_s);
    QCOMPARE(post(*client, u"update"_s, serverFields(ivan, u"192.0.2.9"_s, u"22"_s)).text,
             u"True"_s);
    QCOMPARE(post(*client, u"update"_s, serverFields(kAlice, u"192.0.2.9"_s, u"22"_s)).text,
             u"True"_s);
    const QString alicesServers = post(*client, u"down"_s, CloudApi::accountBody(kAlice)).text;
    QVERIFY(post(*client, u"down"_s, CloudApi::accountBody(ivan)).text.contains(u"192.0.2.9"_s));

    const CommandResult deleted = command({u"delete-user"_s, ivan.username});
    QCOMPARE(deleted.exitCode, 0);
    QVERIFY(deleted.err.contains(u"deleted \"ivan\""_s));
    QCOMPARE(info(ivan), u"False:账号或密码错误"_s);
    QVERIFY(post(*client, u"down"_s, CloudApi::accountBody(ivan)).text.startsWith(u"False"_s));
    QVERIFY(!command({u"users"_s}).out.contains(u"ivan"_s));
    QCOMPARE(post(*client, u"down"_s, CloudApi::accountBody(kAlice)).text, alicesServers);

    const CommandResult again = command({u"delete-user"_s, ivan.username});
    QCOMPARE(again.exitCode, 1);
    QVERIFY(again.err.contains(u"there is no account \"ivan\""_s));
    // The name is free again.
    QCOMPARE(registerAccount(cloud_, *client, ivan, freshPhone()), u"True"_s);
    QCOMPARE(post(*client, u"down"_s, CloudApi::accountBody(ivan)).text, QString());
}

// A backup taken while a client keeps uploading holds exactly the rows stored up to one
// moment: a service started on it hands out a leading part of the uploads, at least all that
// were done before the backup began.
void TestCloudOperations::backupWhileServing() {
    if (CloudServiceFixture::onPostgres()) {
        const CommandResult refused = command({u"backup"_s, u"copy.db"_s});
        QCOMPARE(refused.exitCode, 2);
        QVERIFY2(refused.err.contains(u"back up a PostgreSQL database with pg_dump"_s),
                 qPrintable(refused.err));
        QSKIP("the PostgreSQL database is backed up with pg_dump, not by torvane-cloud");
    }
    const auto client = trustingClient();
    QCOMPARE(post(*client, u"del_data"_s, CloudApi::accountBody(kAlice)).text, u"True"_s);
    constexpr int kBefore = 20;
    constexpr int kMost = 400;
    const auto address = [](int i) { return u"10.0.%1.%2"_s.arg(i / 250).arg(i % 250 + 1); };
    for (int i = 0; i < kBefore; ++i)
        QCOMPARE(post(*client, u"update"_s, serverFields(kAlice, address(i), u"22"_s)).text,
                 u"True"_s);

    std::atomic<bool> backupDone{false};
    std::atomic<int> uploaded{kBefore};
    std::atomic<int> failures{0};
    std::thread uploader([&] {
        const auto own = trustingClient();
        for (int i = kBefore; i < kMost && !backupDone; ++i) {
            if (post(*own, u"update"_s, serverFields(kAlice, address(i), u"22"_s)).text !=
                u"True"_s)
                ++failures;
            uploaded = i + 1;
        }
    });
    const QString backupFile = QDir(certificates_.path()).filePath(u"backup.db"_s);
    const CommandResult backup = command({u"backup"_s, backupFile});
    backupDone = true;
    uploader.join();
    QCOMPARE(backup.exitCode, 0);
    QCOMPARE(failures.load(), 0);
    QCOMPARE(QFileInfo(backupFile).permissions() & 0x0077, QFile::Permissions());
    QVERIFY(!QFile::exists(backupFile + u".partial"_s));

    const QString live = QDir(cloud_.dataFolder()).filePath(u"cloud.db"_s);
    const CommandResult ontoItself = command({u"backup"_s, live});
    QCOMPARE(ontoItself.exitCode, 1);
    QVERIFY2(ontoItself.err.contains(u"is the service's own database"_s),
             qPrintable(ontoItself.err));

    CloudServiceFixture restored;
    QVERIFY(QDir().mkpath(restored.dataFolder()));
    QVERIFY(QFile::copy(backupFile, QDir(restored.dataFolder()).filePath(u"cloud.db"_s)));
    QVERIFY(restored.start());
    const QStringList lines =
        post(*clientOf(restored.url(), QString()), u"down"_s, CloudApi::accountBody(kAlice))
            .text.split(u"\r\n"_s);
    QVERIFY2(lines.size() >= kBefore && lines.size() <= uploaded, qPrintable(lines.join(u' ')));
    for (int i = 0; i < lines.size(); ++i)
        QVERIFY2(lines[i].contains(u"----"_s + address(i) + u"----"_s), qPrintable(lines[i]));
    QCOMPARE(post(*client, u"update"_s, serverFields(kAlice, u"192.0.2.99"_s, u"22"_s)).text,
             u"True"_s);
    QVERIFY(post(*client, u"down"_s, CloudApi::accountBody(kAlice)).text.contains(u"192.0.2.99"_s));
}

// With its accounts in PostgreSQL, the service answers 503 while the database server is down
// and serves again once it is back, on new connections.
void TestCloudOperations::healthFollowsTheDatabase() {
    if (!CloudServiceFixture::onPostgres())
        QSKIP("cloud.db is a file the service keeps open");
    PrivatePostgres* postgres = PrivatePostgres::shared();
    QVERIFY(postgres != nullptr);
    const auto client = trustingClient();
    QCOMPARE(answerOf(client->Get("/health")).status, 200);
    QVERIFY(postgres->stop());
    const Answer down = answerOf(client->Get("/health"));
    const Answer refused = post(*client, u"info"_s, CloudApi::accountBody(kAlice));
    QVERIFY(postgres->start());
    QCOMPARE(down.status, 503);
    QCOMPARE(down.text, u"store unavailable"_s);
    QVERIFY2(refused.text.startsWith(u"False:"_s), qPrintable(refused.text));
    QCOMPARE(answerOf(client->Get("/health")).status, 200);
    QCOMPARE(info(kAlice), u"True"_s);
}

// A password in the --database address works, is warned of (the process list shows it), and
// appears neither in the service's log nor in a command's complaint.
void TestCloudOperations::databasePasswordNeverShown() {
    if (!CloudServiceFixture::onPostgres())
        QSKIP("cloud.db has no password");
    const QString password = u"&password=Pw7Hidden"_s;
    CloudServiceFixture withPassword({u"--database"_s, cloud_.database() + password}, &cloud_);
    QVERIFY(withPassword.start());
    QCOMPARE(
        post(*clientOf(withPassword.url(), QString()), u"info"_s, CloudApi::accountBody(kAlice))
            .text,
        u"True"_s);
    withPassword.stop();
    const QString log = withPassword.log();
    QVERIFY2(log.contains(u"warning: the --database address holds a password"_s), qPrintable(log));
    QVERIFY2(!log.contains(u"Hidden"_s), qPrintable(log));

    PrivatePostgres* postgres = PrivatePostgres::shared();
    QVERIFY(postgres != nullptr);
    const CommandResult missing = runCommand(
        {u"users"_s, u"--database"_s, postgres->address(u"no_such_database"_s) + password});
    QCOMPARE(missing.exitCode, 1);
    QVERIFY2(missing.err.contains(u"no_such_database"_s), qPrintable(missing.err));
    QVERIFY2(!missing.err.contains(u"Hidden"_s), qPrintable(missing.err));
}

// A mistyped --data or --database must neither succeed nor leave an empty store behind.
void TestCloudOperations::commandsNeedAnExistingStore() {
    if (CloudServiceFixture::onPostgres()) {
        PrivatePostgres* postgres = PrivatePostgres::shared();
        QVERIFY(postgres != nullptr);
        const QString empty = postgres->createDatabase();
        QVERIFY(!empty.isEmpty());
        const QString emptyName = empty.section(u'/', 3).section(u'?', 0, 0);
        for (const QString& database : {empty, postgres->address(u"no_such_database"_s)}) {
            for (const QStringList& arguments :
                 {QStringList{u"users"_s}, QStringList{u"delete-user"_s, u"alice"_s},
                  QStringList{u"reset-password"_s, u"alice"_s}}) {
                const CommandResult result =
                    runCommand(arguments + QStringList{u"--database"_s, database});
                QCOMPARE(result.exitCode, 1);
                QVERIFY2(result.err.contains(u"is --database right?"_s), qPrintable(result.err));
            }
        }
        QCOMPARE(postgres->query(emptyName, "SELECT count(*) FROM pg_tables WHERE schemaname = "
                                            "'public'"),
                 std::optional<QByteArray>("0\n"));
        return;
    }
    QTemporaryDir elsewhere;
    for (const QStringList& arguments :
         {QStringList{u"users"_s}, QStringList{u"delete-user"_s, u"alice"_s},
          QStringList{u"reset-password"_s, u"alice"_s},
          QStringList{u"backup"_s, elsewhere.filePath(u"copy.db"_s)}}) {
        const CommandResult result =
            runCommand(arguments + QStringList{u"--data"_s, elsewhere.path()});
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.err.contains(u"is --data right?"_s), qPrintable(result.err));
    }
    QCOMPARE(QDir(elsewhere.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList());
}

void TestCloudOperations::commandLineMistakes_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    QTest::newRow("certificate without key")
        << QStringList{u"--tls-cert"_s, u"c.pem"_s} << u"--tls-cert and --tls-key go together"_s;
    QTest::newRow("key without certificate")
        << QStringList{u"--tls-key"_s, u"k.pem"_s} << u"--tls-cert and --tls-key go together"_s;
    QTest::newRow("registration half open") << QStringList{u"--registration"_s, u"maybe"_s}
                                            << u"--registration wants open or closed, not maybe"_s;
    QTest::newRow("unknown command") << QStringList{u"drop"_s} << u"unknown command drop"_s;
    QTest::newRow("command without its argument")
        << QStringList{u"delete-user"_s} << u"delete-user needs one argument"_s;
    QTest::newRow("users with an argument")
        << QStringList{u"users"_s, u"alice"_s} << u"users takes no argument"_s;
    QTest::newRow("serving option with a command")
        << QStringList{u"backup"_s, u"b.db"_s, u"--listen"_s, u"127.0.0.1:1"_s}
        << u"--listen is for serving, not for backup"_s;
    QTest::newRow("password from stdin while serving")
        << QStringList{u"--password-stdin"_s} << u"--password-stdin goes with reset-password"_s;
    QTest::newRow("database as a connection string")
        << QStringList{u"--database"_s, u"host=db user=cloud password=Pw7Hidden"_s}
        << u"--database wants a postgresql:// address"_s;
    QTest::newRow("database address libpq cannot read")
        << QStringList{u"--database"_s, u"postgresql://cloud:Pw7Hidden@[::1/torvane"_s}
        << u"--database: end of string reached"_s;
    QTest::newRow("database password libpq cannot decode")
        << QStringList{u"--database"_s, u"postgresql://cloud:Pw7%zzHidden@db/torvane"_s}
        << u"--database: invalid percent-encoded token"_s;
}

void TestCloudOperations::commandLineMistakes() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);

    const CommandResult result = runCommand(arguments);
    QCOMPARE(result.exitCode, 2);
    QVERIFY2(result.err.startsWith(u"torvane-cloud: "_s + message), qPrintable(result.err));
    QVERIFY(result.err.contains(u"Usage: torvane-cloud"_s));
    // A password given in a --database the service refuses is not repeated.
    QVERIFY2(!result.err.contains(u"Hidden"_s), qPrintable(result.err));
}

QTEST_GUILESS_MAIN(TestCloudOperations)
#include "tst_cloud_operations.moc"
