// Two torvane-cloud instances on one store and two ports, as behind a load balancer: an
// account registered through one logs in through the other, clients that alternate between
// them lose no row and get the same answers from both, a download through one shows the changes
// made through the other, and on PostgreSQL the counts of failed log ins hold on every instance.

#include "common/cloud_service_fixture.h"
#include "common/cloud_test_forms.h"
#include "core/cloud/cloud_api.h"

#include <QSet>
#include <QTest>

#include <httplib.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;
using Fields = CloudApi::FormFields;

namespace {

const QStringList kLiftedLimits{u"--login-failures-per-address"_s, u"1000000"_s,
                                u"--login-failures-per-account"_s, u"1000000"_s,
                                u"--connections-per-address"_s,    u"1000000"_s,
                                u"--sms-codes-per-address"_s,      u"1000000"_s};

QString post(httplib::Client& client, const QString& act, const Fields& fields) {
    const auto result =
        client.Post(("/admin/user_reg.php?act=" + act.toStdString()).c_str(),
                    CloudApi::formBody(fields).toStdString(), "application/x-www-form-urlencoded");
    return result ? QString::fromStdString(result->body) : u"no answer"_s;
}

std::unique_ptr<httplib::Client> clientOf(const CloudServiceFixture& cloud) {
    auto client = std::make_unique<httplib::Client>("127.0.0.1", cloud.port());
    client->set_keep_alive(true);
    client->set_read_timeout(30, 0);
    return client;
}

// An "update" of the server at `ip`, port 22, whose name says who stored it.
Fields namedServer(const CloudApi::Account& account, const QString& ip, const QString& name) {
    Fields fields = serverFields(account, ip, u"22"_s);
    for (auto& [field, value] : fields)
        if (field == u"server_name"_s)
            value = name;
    return fields;
}

// The lines of a download, each "group----name----ip----..."; empty for an empty list.
QStringList lines(const QString& reply) {
    return reply.isEmpty() ? QStringList() : reply.split(u"\r\n"_s);
}

} // namespace

class TestCloudInstances : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void registeredOnOneServedByTheOther();
    void alternatingClientsLoseNoRow();
    void downloadsFollowChangesMadeElsewhere();
    void guessingCountsOnEveryInstance();

private:
    // sendsms through `codes`, reg through `accounts`: the reply to reg.
    QString registerAccount(CloudServiceFixture& codes, CloudServiceFixture& accounts,
                            const CloudApi::Account& account) {
        const QString phone = u"136000%1"_s.arg(nextPhone_++, 5, 10, QChar(u'0'));
        if (post(*clientOf(codes), u"sendsms"_s, {{u"phone"_s, phone}}) != u"True"_s)
            return u"sendsms failed"_s;
        return post(*clientOf(accounts), u"reg"_s,
                    {{u"username"_s, account.username},
                     {u"password"_s, account.password},
                     {u"phone"_s, phone},
                     {u"vcode"_s, codes.smsCode(phone)},
                     {u"qq"_s, u"1"_s},
                     {u"mail"_s, u"m"_s}});
    }

    CloudServiceFixture first_{kLiftedLimits};
    CloudServiceFixture second_{kLiftedLimits, &first_};
    int nextPhone_ = 100;
};

void TestCloudInstances::initTestCase() {
    QVERIFY(first_.start());
    QVERIFY(second_.start());
    QVERIFY(first_.port() != second_.port());
}

// The SMS code issued by one instance registers the account through the other, and a name
// taken through one is taken on both.
void TestCloudInstances::registeredOnOneServedByTheOther() {
    const CloudApi::Account carol{u"carol"_s, u"carol-pw"_s};
    QCOMPARE(registerAccount(first_, second_, carol), u"True"_s);
    QCOMPARE(registerAccount(second_, first_, carol), u"userisok"_s);
    for (CloudServiceFixture* cloud : {&first_, &second_})
        QCOMPARE(post(*clientOf(*cloud), u"info"_s, CloudApi::accountBody(carol)), u"True"_s);
}

// Clients upload through both instances in turn, two clients per account, both also writing one
// shared address; each reads its rows back through the instance it did not write them with.
// Afterwards both instances hand out the same lists, with every row.
void TestCloudInstances::alternatingClientsLoseNoRow() {
    constexpr int kAccounts = 3;
    constexpr int kClientsPerAccount = 2;
    constexpr int kRows = 24;
    std::vector<CloudApi::Account> accounts;
    for (int a = 0; a < kAccounts; ++a) {
        accounts.push_back({u"shared%1"_s.arg(a), u"pw %1"_s.arg(a)});
        QCOMPARE(registerAccount(first_, a % 2 == 0 ? first_ : second_, accounts.back()),
                 u"True"_s);
    }

    std::mutex problemsLock;
    QStringList problems;
    std::vector<std::thread> clients;
    for (int c = 0; c < kAccounts * kClientsPerAccount; ++c) {
        clients.emplace_back([&, c] {
            const CloudApi::Account& owner = accounts[std::size_t(c % kAccounts)];
            const auto viaFirst = clientOf(first_);
            const auto viaSecond = clientOf(second_);
            const auto note = [&](const QString& problem) {
                std::lock_guard guard(problemsLock);
                problems << problem;
            };
            for (int r = 0; r < kRows; ++r) {
                httplib::Client& writer = r % 2 == 0 ? *viaFirst : *viaSecond;
                httplib::Client& reader = r % 2 == 0 ? *viaSecond : *viaFirst;
                const QString ip = u"10.%1.%2.1"_s.arg(c).arg(r);
                const QString name = u"client %1 row %2"_s.arg(c).arg(r);
                if (post(writer, u"update"_s, namedServer(owner, ip, name)) != u"True"_s)
                    note(u"update of %1 failed"_s.arg(ip));
                if (post(writer, u"update"_s, namedServer(owner, u"192.0.2.1"_s, name)) !=
                    u"True"_s)
                    note(u"update of the shared address failed"_s);
                const QString down = post(reader, u"down"_s, CloudApi::accountBody(owner));
                if (!down.contains(u"----"_s + name + u"----"_s + ip + u"----"_s))
                    note(u"%1 did not come back through the other instance"_s.arg(ip));
            }
        });
    }
    for (std::thread& client : clients)
        client.join();
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));

    for (const CloudApi::Account& owner : accounts) {
        const QString fromFirst = post(*clientOf(first_), u"down"_s, CloudApi::accountBody(owner));
        const QString fromSecond =
            post(*clientOf(second_), u"down"_s, CloudApi::accountBody(owner));
        QCOMPARE(fromFirst, fromSecond);
        const QStringList rows = lines(fromFirst);
        QCOMPARE(rows.size(), kClientsPerAccount * kRows + 1);
        QCOMPARE(QSet<QString>(rows.begin(), rows.end()).size(), rows.size());
        QCOMPARE(rows.filter(u"----192.0.2.1----"_s).size(), 1);
    }
}

// Each instance keeps the downloads it made for as long as the account's data is unchanged; a
// change made through the other instance is in the next download all the same: a server added
// or renamed, a group added, everything cleared.
void TestCloudInstances::downloadsFollowChangesMadeElsewhere() {
    const CloudApi::Account dora{u"dora"_s, u"dora-pw"_s};
    QCOMPARE(registerAccount(first_, first_, dora), u"True"_s);
    const auto reader = clientOf(first_);
    const auto writer = clientOf(second_);
    const auto servers = [&] { return post(*reader, u"down"_s, CloudApi::accountBody(dora)); };
    const auto groups = [&] { return post(*reader, u"down_class"_s, CloudApi::accountBody(dora)); };
    const auto putGroup = [&](const QString& name) {
        return post(*writer, u"update_class"_s,
                    CloudApi::accountBody(dora, {{u"server_class"_s, name}, {u"sort"_s, u"1"_s}}));
    };

    QCOMPARE(servers(), QString());
    QCOMPARE(groups(), QString());
    QCOMPARE(post(*writer, u"update"_s, namedServer(dora, u"192.0.2.7"_s, u"first name"_s)),
             u"True"_s);
    QVERIFY(servers().contains(u"----first name----192.0.2.7----"_s));
    QCOMPARE(servers(), servers());
    QCOMPARE(post(*writer, u"update"_s, namedServer(dora, u"192.0.2.7"_s, u"second name"_s)),
             u"True"_s);
    QVERIFY(servers().contains(u"----second name----192.0.2.7----"_s));
    QCOMPARE(lines(servers()).size(), 1);

    QCOMPARE(putGroup(u"一组"_s), u"True"_s);
    QCOMPARE(groups(), u"一组----1"_s);
    QCOMPARE(putGroup(u"二组"_s), u"True"_s);
    QCOMPARE(lines(groups()), QStringList({u"一组----1"_s, u"二组----1"_s}));

    QCOMPARE(post(*writer, u"del_data"_s, CloudApi::accountBody(dora)), u"True"_s);
    QCOMPARE(servers(), QString());
    QCOMPARE(groups(), QString());
}

// Failed log ins through one instance hold the address back on the other as well.
void TestCloudInstances::guessingCountsOnEveryInstance() {
    if (!CloudServiceFixture::onPostgres())
        QSKIP("with cloud.db each instance counts failed log ins in its own memory");
    const QStringList guarded{u"--login-failures-per-address"_s, u"3"_s, u"--login-wait"_s,
                              u"60"_s};
    CloudServiceFixture one(guarded);
    CloudServiceFixture other(guarded, &one);
    QVERIFY(one.start());
    QVERIFY(other.start());
    const CloudApi::Account dave{u"dave"_s, u"dave-pw"_s};
    QCOMPARE(registerAccount(one, other, dave), u"True"_s);

    const Fields wrong = CloudApi::accountBody({dave.username, u"guess"_s});
    for (int i = 0; i < 3; ++i)
        QCOMPARE(post(*clientOf(i % 2 == 0 ? one : other), u"info"_s, wrong),
                 u"False:账号或密码错误"_s);
    for (CloudServiceFixture* cloud : {&one, &other}) {
        const QString held = post(*clientOf(*cloud), u"info"_s, CloudApi::accountBody(dave));
        QVERIFY2(held.startsWith(u"False:此地址登录失败次数过多，请 "_s), qPrintable(held));
    }
}

QTEST_GUILESS_MAIN(TestCloudInstances)
#include "tst_cloud_instances.moc"
