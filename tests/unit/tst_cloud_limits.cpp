// The cloud service's limits without a network: where a request's bytes end before a worker
// takes it, and how failed log ins and SMS codes are held back, on a clock of the test's own.

#include "cloud_service/attempt_throttle.h"
#include "cloud_service/request_frame.h"

#include <QTest>

#include <string>

using State = RequestFrame::State;
using Holder = AttemptThrottle::Holder;

Q_DECLARE_METATYPE(RequestFrame::State)

namespace {

constexpr std::int64_t kSecond = 1000;

// A throttle with small allowances on a clock the test moves.
struct Throttled {
    explicit Throttled(int addressAllowance = 100)
        : throttle(book, limits(addressAllowance), [this] { return now; }) {}

    static AttemptThrottle::Limits limits(int addressAllowance) {
        AttemptThrottle::Limits limits;
        limits.loginsPerAddress = {addressAllowance, 2 * kSecond, 10 * kSecond, 60 * kSecond};
        limits.loginsPerAccount = {3, 2 * kSecond, 10 * kSecond, 60 * kSecond};
        limits.smsCodesPerAddress = {2, 60 * kSecond, 600 * kSecond, 3600 * kSecond};
        return limits;
    }

    InProcessThrottleBook book;
    std::int64_t now = 1'700'000'000'000;
    AttemptThrottle throttle;

    // One whole log in: admitted or not, and when admitted finished with `succeeds`.
    AttemptThrottle::Verdict login(const std::string& account, const std::string& address,
                                   bool succeeds = false) {
        const AttemptThrottle::Verdict verdict = throttle.admitLogin(account, address);
        if (verdict.admitted())
            throttle.finishLogin(account, address, succeeds);
        return verdict;
    }
};

} // namespace

class TestCloudLimits : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void framing_data();
    void framing();

    void waitsGrowAndEnd();
    void ownerLogsInFromAnotherAddress();
    void addressGuessingManyAccounts();
    void parallelAttemptsCannotOutrunTheCount();
    void unrecordedSuccess_data();
    void unrecordedSuccess();
    void failuresAreForgotten();
    void smsCodesPerAddress();
};

void TestCloudLimits::framing_data() {
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<State>("state");
    QTest::addColumn<int>("bodyBytes");
    QTest::addColumn<bool>("expectsContinue");
    QTest::addColumn<QByteArray>("headers"); // empty: the header block as received

    const QByteArray post = "POST /a HTTP/1.1\r\nHost: h\r\nContent-Length: 5\r\n\r\n";
    QTest::newRow("get without a body") << QByteArray("GET /a HTTP/1.1\r\nHost: h\r\n\r\n")
                                        << State::Complete << 0 << false << QByteArray();
    QTest::newRow("body complete, next request behind it")
        << post + "abcdeGET /" << State::Complete << 5 << false << QByteArray();
    QTest::newRow("body still coming")
        << post + "ab" << State::Complete << 5 << false << QByteArray();
    QTest::newRow("header block not ended")
        << QByteArray("POST /a HTTP/1.1\r\nHost: h\r\nContent-Le") << State::Incomplete << 0
        << false << QByteArray();
    QTest::newRow("name in any case, blanks around the value")
        << QByteArray("POST /a HTTP/1.1\r\ncontent-LENGTH: \t12 \r\n\r\n") << State::Complete << 12
        << false << QByteArray();
    QTest::newRow("the same length twice")
        << QByteArray("POST /a HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 3\r\n\r\n")
        << State::Complete << 3 << false << QByteArray();
    QTest::newRow("two lengths that differ")
        << QByteArray("POST /a HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 30\r\n\r\n")
        << State::Malformed << 0 << false << QByteArray();
    for (const char* length : {"-1", "1e3", "", "0x10", "1234567890123456"}) {
        QTest::addRow("length \"%s\"", length)
            << "POST /a HTTP/1.1\r\nContent-Length: " + QByteArray(length) + "\r\n\r\n"
            << State::Malformed << 0 << false << QByteArray();
    }
    QTest::newRow("chunked body") << QByteArray(
                                         "POST /a HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n")
                                  << State::LengthRequired << 0 << false << QByteArray();
    QTest::newRow("expects 100 Continue: the line is answered, not passed on")
        << QByteArray("POST /a HTTP/1.1\r\nExpect: 100-Continue\r\nContent-Length: 9\r\n\r\n")
        << State::Complete << 9 << true
        << QByteArray("POST /a HTTP/1.1\r\nContent-Length: 9\r\n\r\n");
    QTest::newRow("header line without a colon") << QByteArray("GET /a HTTP/1.1\r\nHost h\r\n\r\n")
                                                 << State::Malformed << 0 << false << QByteArray();
    QTest::newRow("folded header line")
        << QByteArray("GET /a HTTP/1.1\r\nX-A: 1\r\n continued\r\n\r\n") << State::Malformed << 0
        << false << QByteArray();
    QTest::newRow("no request line")
        << QByteArray("\r\nHost: h\r\n\r\n") << State::Malformed << 0 << false << QByteArray();
    QTest::newRow("header block over the limit")
        << "GET /a HTTP/1.1\r\nX-Long: " + QByteArray(300, 'x') + "\r\n\r\n"
        << State::HeadersTooLong << 0 << false << QByteArray();
    QTest::newRow("endless header block") << "GET /a HTTP/1.1\r\nX-Long: " + QByteArray(300, 'x')
                                          << State::HeadersTooLong << 0 << false << QByteArray();
}

void TestCloudLimits::framing() {
    QFETCH(QByteArray, received);
    QFETCH(State, state);
    QFETCH(int, bodyBytes);
    QFETCH(bool, expectsContinue);
    QFETCH(QByteArray, headers);

    const RequestFrame frame = frameRequest(received.toStdString(), 256);
    QCOMPARE(frame.state, state);
    if (state != State::Complete)
        return;
    const qsizetype headerBytes = received.indexOf("\r\n\r\n") + 4;
    QCOMPARE(qsizetype(frame.headerBytes), headerBytes);
    QCOMPARE(int(frame.bodyBytes), bodyBytes);
    QCOMPARE(frame.expectsContinue, expectsContinue);
    QCOMPARE(QByteArray::fromStdString(frame.headers),
             headers.isEmpty() ? received.left(headerBytes) : headers);
}

// Three failures on an account from one address are free; then that address waits 2 s, 4 s,
// 8 s, and never longer than 10 s, and every wait ends. Held attempts are not counted.
void TestCloudLimits::waitsGrowAndEnd() {
    Throttled t;
    for (int i = 0; i < 3; ++i)
        QVERIFY(t.login("alice", "192.0.2.1").admitted());
    for (const std::int64_t wait : {2, 4, 8, 10, 10}) {
        for (const std::int64_t early : {std::int64_t(0), wait * kSecond - 1}) {
            const AttemptThrottle::Verdict held = t.login("alice", "192.0.2.1", true);
            QCOMPARE(held.heldBy, Holder::Account);
            QCOMPARE(held.waitMs, wait * kSecond - early);
            t.now += early == 0 ? wait * kSecond - 1 : 1;
        }
        QVERIFY(t.login("alice", "192.0.2.1").admitted());
    }
    // The right password, once the wait is over, clears this address's failures on the
    // account: another address's failure starts a new wait that no longer reaches it.
    t.now += 10 * kSecond;
    QVERIFY(t.login("alice", "192.0.2.1", true).admitted());
    QVERIFY(t.login("alice", "192.0.2.9").admitted());
    QCOMPARE(t.login("alice", "192.0.2.9").heldBy, Holder::Account);
    QVERIFY(t.login("alice", "192.0.2.1", true).admitted());
}

void TestCloudLimits::ownerLogsInFromAnotherAddress() {
    Throttled t;
    // Guesses from several addresses, none of them at its own limit.
    for (const char* guesser : {"192.0.2.1", "192.0.2.2", "192.0.2.3"})
        QVERIFY(t.login("alice", guesser).admitted());
    QCOMPARE(t.login("alice", "192.0.2.1").heldBy, Holder::Account);
    QCOMPARE(t.login("alice", "192.0.2.3").heldBy, Holder::Account);
    // The owner's address never failed on the account.
    QVERIFY(t.login("alice", "198.51.100.7", true).admitted());
    // An address that fails there joins the guessers.
    QVERIFY(t.login("alice", "198.51.100.8").admitted());
    QCOMPARE(t.login("alice", "198.51.100.8", true).heldBy, Holder::Account);
    // The guessers may still try other accounts.
    QVERIFY(t.login("bob", "192.0.2.1").admitted());
}

void TestCloudLimits::addressGuessingManyAccounts() {
    Throttled t(4);
    for (int i = 0; i < 4; ++i)
        QVERIFY(t.login("user" + std::to_string(i), "192.0.2.1").admitted());
    const AttemptThrottle::Verdict held = t.login("bob", "192.0.2.1", true);
    QCOMPARE(held.heldBy, Holder::Address);
    QCOMPARE(held.waitMs, 2 * kSecond);
    QVERIFY(t.login("bob", "192.0.2.2", true).admitted());
}

// Attempts admitted but not finished count against the allowance: one address cannot start
// more checks at once than it has failures left, nor more than one once they are used up.
void TestCloudLimits::parallelAttemptsCannotOutrunTheCount() {
    Throttled t(4);
    for (int i = 0; i < 3; ++i)
        QVERIFY(t.throttle.admitLogin("alice", "192.0.2.1").admitted());
    const AttemptThrottle::Verdict busy = t.throttle.admitLogin("alice", "192.0.2.1");
    QCOMPARE(busy.heldBy, Holder::Account);
    QCOMPARE(busy.waitSeconds(), 1);
    QVERIFY(t.throttle.admitLogin("alice", "198.51.100.7").admitted());
    // The fourth address-wide attempt is the address's last.
    QVERIFY(t.throttle.admitLogin("bob", "192.0.2.1").admitted());
    QCOMPARE(t.throttle.admitLogin("carol", "192.0.2.1").heldBy, Holder::Address);
    for (int i = 0; i < 3; ++i)
        t.throttle.finishLogin("alice", "192.0.2.1", false);
    t.throttle.finishLogin("bob", "192.0.2.1", false);
    t.throttle.finishLogin("alice", "198.51.100.7", true);
    QCOMPARE(t.login("carol", "192.0.2.1").heldBy, Holder::Address);
}

void TestCloudLimits::unrecordedSuccess_data() {
    QTest::addColumn<int>("failuresElsewhere"); // by the address, on other accounts
    QTest::addColumn<int>("failuresHere");      // by the address, on alice
    QTest::addColumn<int>("othersFailures");    // by other addresses, on alice
    QTest::addColumn<int>("running");           // admitted, unfinished, by the address
    QTest::addColumn<int>("secondsLater");
    QTest::addColumn<bool>("unrecorded");

    QTest::newRow("nothing recorded") << 0 << 0 << 0 << 0 << 0 << true;
    QTest::newRow("failures on other accounts") << 3 << 0 << 0 << 0 << 0 << true;
    QTest::newRow("address held") << 4 << 0 << 0 << 0 << 0 << false;
    QTest::newRow("address's wait over") << 4 << 0 << 0 << 0 << 2 << true;
    QTest::newRow("a failure here to clear") << 0 << 1 << 0 << 0 << 0 << false;
    QTest::newRow("a failure here, forgotten") << 0 << 1 << 0 << 0 << 60 << true;
    QTest::newRow("account held by others only") << 0 << 0 << 3 << 0 << 0 << true;
    QTest::newRow("address's allowance running") << 0 << 0 << 0 << 4 << 0 << false;
}

// A log in that only reads the book is one the book would admit and whose success would write
// nothing: held addresses and accounts, and failures of the address on the account that a
// success clears, send it through admitLogin().
void TestCloudLimits::unrecordedSuccess() {
    QFETCH(int, failuresElsewhere);
    QFETCH(int, failuresHere);
    QFETCH(int, othersFailures);
    QFETCH(int, running);
    QFETCH(int, secondsLater);
    QFETCH(bool, unrecorded);

    Throttled t(4);
    for (int i = 0; i < failuresElsewhere; ++i)
        QVERIFY(t.login("user" + std::to_string(i), "192.0.2.1").admitted());
    for (int i = 0; i < failuresHere; ++i)
        QVERIFY(t.login("alice", "192.0.2.1").admitted());
    for (int i = 0; i < othersFailures; ++i)
        QVERIFY(t.login("alice", "198.51.100." + std::to_string(i)).admitted());
    for (int i = 0; i < running; ++i)
        QVERIFY(t.throttle.admitLogin("user" + std::to_string(i), "192.0.2.1").admitted());
    t.now += secondsLater * kSecond;
    // Reading twice shows that the first read counted nothing.
    for (int i = 0; i < 2; ++i)
        QCOMPARE(t.throttle.admitsUnrecordedSuccess("alice", "192.0.2.1"), unrecorded);
    if (unrecorded)
        QVERIFY(t.throttle.admitLogin("alice", "192.0.2.1").admitted());
}

// Failures are remembered for 60 s after the wait they earned (2 s) ends, then forgotten.
void TestCloudLimits::failuresAreForgotten() {
    for (const bool forgotten : {false, true}) {
        Throttled t;
        for (int i = 0; i < 3; ++i)
            QVERIFY(t.login("alice", "192.0.2.1").admitted());
        t.now += 62 * kSecond - (forgotten ? 0 : 1);
        QVERIFY(t.login("alice", "192.0.2.1").admitted());
        const AttemptThrottle::Verdict next = t.login("alice", "192.0.2.1");
        QCOMPARE(next.admitted(), forgotten);
        if (!forgotten)
            QCOMPARE(next.waitMs, 4 * kSecond);
    }
}

void TestCloudLimits::smsCodesPerAddress() {
    Throttled t;
    const auto request = [&t](const std::string& address, bool issued) {
        const AttemptThrottle::Verdict verdict = t.throttle.admitSmsCode(address);
        if (verdict.admitted())
            t.throttle.finishSmsCode(address, issued);
        return verdict;
    };
    // Codes that were not issued (a phone asked again within its minute) do not count.
    for (int i = 0; i < 3; ++i)
        QVERIFY(request("192.0.2.1", false).admitted());
    QVERIFY(request("192.0.2.1", true).admitted());
    QVERIFY(request("192.0.2.1", true).admitted());
    const AttemptThrottle::Verdict held = request("192.0.2.1", true);
    QCOMPARE(held.heldBy, Holder::Address);
    QCOMPARE(held.waitSeconds(), 60);
    QVERIFY(request("192.0.2.2", true).admitted());
    t.now += 60 * kSecond;
    QVERIFY(request("192.0.2.1", true).admitted());
    QCOMPARE(request("192.0.2.1", true).waitSeconds(), 120);
}

QTEST_GUILESS_MAIN(TestCloudLimits)
#include "tst_cloud_limits.moc"
