// What goes up comes back: servers and groups uploaded to the real torvane-cloud as the
// upload sends them come back from a download field-equal, whenever the service accepts
// them; when it does not, it says why. The rows the issue of lossy replies was found with,
// then random rows of Chinese, "-", "?", "----", blanks and quotes.

#include "common/cloud_round_trip.h"
#include "common/cloud_service_fixture.h"
#include "core/cloud/cloud_actions.h"

#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const CloudApi::Account kAccount{u"往返"_s, u"pw-?"_s};

CloudRoundTrip::Outcome roundTrip(const CloudApi::Service& service,
                                  const CloudRoundTrip::Rows& rows) {
    return CloudRoundTrip::check(
        [&service](const QString& act, const CloudApi::FormFields& fields) {
            return CloudApi::request(service, act, HttpMethod::Post, fields);
        },
        kAccount, rows);
}

CloudRoundTrip::Rows plainRows() {
    CloudRoundTrip::Rows rows;
    ServerRecord& s = rows.server;
    s.group = u"默认分组"_s;
    s.name = u"香港 web"_s;
    s.ip = u"198.51.100.7"_s;
    s.user = u"root"_s;
    s.password = u"p?ss"_s;
    s.port = u"22"_s;
    s.system = u"linux"_s;
    s.remark = u"无"_s;
    s.startTime = u"2024-6-6 9:5:7"_s;
    s.endTime = u"2025-6-6 9:5:7"_s;
    s.sort = u"50"_s;
    rows.group = {{}, u"默认分组"_s, u"50"_s};
    return rows;
}

// Fields 0 to 14 are the server's in line order, 15 and 16 the group's name and sort key.
void setField(CloudRoundTrip::Rows& rows, int field, const QString& value) {
    ServerRecord& s = rows.server;
    QString* const fields[] = {&s.group,        &s.name,          &s.ip,       &s.user,
                               &s.password,     &s.port,          &s.system,   &s.remark,
                               &s.startTime,    &s.endTime,       &s.sort,     &s.panelUrl,
                               &s.panelUser,    &s.panelPassword, &s.panelKey, &rows.group.name,
                               &rows.group.sort};
    *fields[field] = value;
}

} // namespace

class TestCloudRoundTrip : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void valuesComeBackAsSent_data();
    void valuesComeBackAsSent();
    void valuesRefusedWithTheirReason_data();
    void valuesRefusedWithTheirReason();
    void randomRows();

private:
    CloudServiceFixture cloud_;
};

void TestCloudRoundTrip::initTestCase() {
    QVERIFY(cloud_.start());
    const CloudApi::Service at{cloud_.url()};
    const QString phone = u"13700000001"_s;
    QVERIFY(CloudApi::succeeded(CloudApi::sendSmsCode(at, phone)));
    QVERIFY(CloudApi::succeeded(
        CloudApi::registerAccount(at, {kAccount.username, kAccount.password, phone,
                                       cloud_.smsCode(phone), u"1"_s, u"m@example.com"_s})));
}

void TestCloudRoundTrip::valuesComeBackAsSent_data() {
    QTest::addColumn<int>("field"); // as setField() counts
    QTest::addColumn<QString>("value");

    QTest::newRow("remark with a question mark") << 7 << u"含问号?的备注"_s;
    QTest::newRow("account ending in -?") << 3 << u"root-?"_s;
    QTest::newRow("name ending in -?") << 1 << u"HK-?"_s;
    QTest::newRow("dashes around a question mark") << 1 << u"web--?--1"_s;
    QTest::newRow("panel address with a query") << 11 << u"https://198.51.100.9:8888/abc?x=1"_s;
    QTest::newRow("password of dashes and question marks") << 4 << u"-?--?-"_s;
    QTest::newRow("empty sort key") << 10 << QString();
    QTest::newRow("group named like the refusal word") << 15 << u"Falsehood"_s;
    QTest::newRow("group named exactly the refusal word") << 15 << u"False"_s;
    QTest::newRow("group sort key ending the line in -") << 16 << u"5-"_s;
    QTest::newRow("blanks and quotes") << 0 << u" 'a' \"b\" "_s;
}

void TestCloudRoundTrip::valuesComeBackAsSent() {
    QFETCH(int, field);
    QFETCH(QString, value);

    CloudRoundTrip::Rows rows = plainRows();
    setField(rows, field, value);
    const CloudRoundTrip::Outcome outcome = roundTrip({cloud_.url()}, rows);
    QVERIFY2(outcome.broken.isEmpty(), qPrintable(outcome.broken));
    QCOMPARE(outcome.serversAccepted, 1);
    QCOMPARE(outcome.groupsAccepted, 1);
}

void TestCloudRoundTrip::valuesRefusedWithTheirReason_data() {
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("byClient");

    QTest::newRow("name ending in -") << 1 << u"web-"_s << false;
    QTest::newRow("separator in the remark") << 7 << u"a----b"_s << false;
    QTest::newRow("line break in the account") << 3 << u"a\r\nb"_s << false;
    QTest::newRow("empty group sort key") << 16 << QString() << false;
    QTest::newRow("emoji in the remark") << 7 << u"好😀"_s << true;
}

// The client keeps an emoji out of the store, so it never goes up; the service refuses what
// would come back cut, and says which field and why.
void TestCloudRoundTrip::valuesRefusedWithTheirReason() {
    QFETCH(int, field);
    QFETCH(QString, value);
    QFETCH(bool, byClient);

    CloudRoundTrip::Rows rows = plainRows();
    setField(rows, field, value);
    const CloudRoundTrip::Outcome outcome = roundTrip({cloud_.url()}, rows);
    QVERIFY2(outcome.broken.isEmpty(), qPrintable(outcome.broken));
    QCOMPARE(outcome.refusedByClient, byClient);
    QCOMPARE(outcome.serversAccepted + outcome.groupsAccepted, byClient ? 0 : 1);
}

// A few hundred random rows (the fuzz target runs many more in-process): none breaks the
// promise, and enough of them go all the way for that to mean something.
void TestCloudRoundTrip::randomRows() {
    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    int servers = 0;
    int groups = 0;
    int byClient = 0;
    constexpr int kRows = 300;
    for (int i = 0; i < kRows; ++i) {
        QByteArray bytes(int(random.bounded(2, 48)), Qt::Uninitialized);
        for (char& b : bytes)
            b = char(random.bounded(256));
        const CloudRoundTrip::Outcome outcome =
            roundTrip({cloud_.url()}, CloudRoundTrip::rowsFromBytes(bytes));
        QVERIFY2(outcome.broken.isEmpty(),
                 qPrintable(u"seed %1, row %2: %3"_s.arg(seed).arg(i).arg(outcome.broken)));
        servers += outcome.serversAccepted;
        groups += outcome.groupsAccepted;
        byClient += outcome.refusedByClient ? 1 : 0;
    }
    qInfo("seed %u: %d of %d servers and %d groups came back; %d rows refused by the client", seed,
          servers, kRows, groups, byClient);
    QVERIFY(servers > kRows / 10);
    QVERIFY(groups > kRows / 10);
}

QTEST_GUILESS_MAIN(TestCloudRoundTrip)
#include "tst_cloud_round_trip.moc"
