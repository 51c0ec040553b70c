#include "cloud_service/attempt_throttle.h"

#include "cloud_service/service_log.h"

#include <sodium.h>

#include <algorithm>
#include <chrono>

namespace {

// The wait named to an attempt that only found its address's attempts all running.
constexpr std::int64_t kBusyWaitMs = 1000;
// Beyond this many doublings every wait is the longest one anyway.
constexpr int kMostDoublings = 40;

// Account names are keyed by a digest: keys stay short whatever a request sends, and a shared
// book holds no names.
std::string nameDigest(const std::string& name) {
    unsigned char digest[16];
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(name.data()),
                       name.size(), nullptr, 0);
    char hex[2 * sizeof digest + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    return hex;
}

// The log in's records: from the address, on the account from the address, on the account.
std::vector<std::string> loginKeys(const std::string& account, const std::string& address) {
    const std::string name = nameDigest(account);
    return {"login-address " + address, "login-attempts " + address + " " + name,
            "login-account " + name};
}

void forgetOld(ThrottleRecord& record, std::int64_t nowMs) {
    if (record.forgetAtMs <= nowMs) {
        record.events = 0;
        record.waitUntilMs = 0;
    }
}

// Waiting, or already running as many attempts as the allowance has left (`events` of it
// used), one once it is used up.
bool holds(const ThrottleRecord& record, int events, const ThrottleRule& rule, std::int64_t nowMs) {
    return record.waitUntilMs > nowMs || record.inFlight >= std::max(1, rule.allowance - events);
}

std::int64_t remainingWait(const ThrottleRecord& record, std::int64_t nowMs) {
    return record.waitUntilMs > nowMs ? record.waitUntilMs - nowMs : kBusyWaitMs;
}

void finishAttempt(ThrottleRecord& record) {
    record.inFlight = std::max(0, record.inFlight - 1);
}

// Counts one event; the wait it started, 0 within the allowance.
std::int64_t countEvent(ThrottleRecord& record, const ThrottleRule& rule, std::int64_t nowMs) {
    ++record.events;
    std::int64_t wait = 0;
    if (record.events >= rule.allowance) {
        const int doublings = std::min(record.events - rule.allowance, kMostDoublings);
        wait = std::min(rule.longestWaitMs, rule.firstWaitMs << doublings);
        record.waitUntilMs = nowMs + wait;
    }
    record.forgetAtMs = std::max(record.waitUntilMs, nowMs) + rule.memoryMs;
    return wait;
}

// An attempt the book could not count is held back as a busy one is.
AttemptThrottle::Verdict unavailable() {
    return {AttemptThrottle::Holder::Unavailable, kBusyWaitMs};
}

void lost(const std::string& attempt) {
    ServiceLog::line("the end of a " + attempt + " could not be counted");
}

std::string seconds(std::int64_t ms) {
    return std::to_string((ms + 999) / 1000) + " s";
}

} // namespace

std::int64_t AttemptThrottle::wallClockMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

AttemptThrottle::AttemptThrottle(ThrottleBook& book, Limits limits, Clock clock)
    : book_(book), limits_(limits), clock_(std::move(clock)) {
    [[maybe_unused]] const int ready = sodium_init();
}

struct AttemptThrottle::LoginRecords {
    ThrottleRecord& fromAddress;
    ThrottleRecord& onAccountFromAddress;
    ThrottleRecord& onAccount;
};

bool AttemptThrottle::updateLogin(const std::string& account, const std::string& address,
                                  std::int64_t nowMs,
                                  const std::function<void(LoginRecords&)>& step) {
    return book_.update(loginKeys(account, address), nowMs,
                        [&](std::vector<ThrottleRecord>& records) {
                            LoginRecords login = loginAt(records, nowMs);
                            step(login);
                        });
}

AttemptThrottle::LoginRecords AttemptThrottle::loginAt(std::vector<ThrottleRecord>& records,
                                                       std::int64_t nowMs) {
    for (ThrottleRecord& record : records)
        forgetOld(record, nowMs);
    return {records[0], records[1], records[2]};
}

AttemptThrottle::Verdict AttemptThrottle::loginVerdict(const LoginRecords& login,
                                                       std::int64_t nowMs) const {
    const ThrottleRecord& fromAddress = login.fromAddress;
    const ThrottleRecord& onAccountFromAddress = login.onAccountFromAddress;
    const ThrottleRecord& onAccount = login.onAccount;
    if (holds(fromAddress, fromAddress.events, limits_.loginsPerAddress, nowMs))
        return {Holder::Address, remainingWait(fromAddress, nowMs)};
    // The account's count reaches only the addresses that failed on it.
    const bool failedHere = onAccountFromAddress.events > 0;
    const int accountEvents = failedHere ? onAccount.events : 0;
    if ((failedHere && onAccount.waitUntilMs > nowMs) ||
        holds(onAccountFromAddress, accountEvents, limits_.loginsPerAccount, nowMs))
        return {Holder::Account, failedHere ? remainingWait(onAccount, nowMs) : kBusyWaitMs};
    return {};
}

AttemptThrottle::Verdict AttemptThrottle::admitLogin(const std::string& account,
                                                     const std::string& address) {
    const std::int64_t now = clock_();
    Verdict verdict;
    const bool kept = updateLogin(account, address, now, [&](LoginRecords& login) {
        verdict = loginVerdict(login, now);
        if (!verdict.admitted())
            return;
        ++login.fromAddress.inFlight;
        ++login.onAccountFromAddress.inFlight;
    });
    return kept ? verdict : unavailable();
}

bool AttemptThrottle::admitsUnrecordedSuccess(const std::string& account,
                                              const std::string& address) {
    const std::int64_t now = clock_();
    std::vector<ThrottleRecord> records;
    if (!book_.read(loginKeys(account, address), now, records))
        return false;
    const LoginRecords login = loginAt(records, now);
    // A success clears the address's failures on the account, which must then be written.
    return loginVerdict(login, now).admitted() && login.onAccountFromAddress.events == 0;
}

void AttemptThrottle::finishLogin(const std::string& account, const std::string& address,
                                  bool succeeded) {
    const std::int64_t now = clock_();
    std::int64_t addressWait = 0;
    std::int64_t accountWait = 0;
    int addressFailures = 0;
    int accountFailures = 0;
    const bool kept = updateLogin(account, address, now, [&](LoginRecords& login) {
        finishAttempt(login.fromAddress);
        finishAttempt(login.onAccountFromAddress);
        if (succeeded) {
            login.onAccountFromAddress.events = 0;
            login.onAccountFromAddress.waitUntilMs = 0;
            login.onAccountFromAddress.forgetAtMs = 0;
            return;
        }
        addressWait = countEvent(login.fromAddress, limits_.loginsPerAddress, now);
        addressFailures = login.fromAddress.events;
        countEvent(login.onAccountFromAddress, limits_.loginsPerAccount, now);
        accountWait = countEvent(login.onAccount, limits_.loginsPerAccount, now);
        accountFailures = login.onAccount.events;
    });
    if (!kept) {
        lost("log in from " + address);
        return;
    }
    if (addressWait > 0)
        ServiceLog::line("log ins from " + address + " wait " + seconds(addressWait) + " after " +
                         std::to_string(addressFailures) + " failures");
    if (accountWait > 0)
        ServiceLog::line("log ins for " + ServiceLog::quoted(account) + " wait " +
                         seconds(accountWait) + " at the addresses that failed on it, after " +
                         std::to_string(accountFailures) + " failures");
}

AttemptThrottle::Verdict AttemptThrottle::admitSmsCode(const std::string& address) {
    const std::int64_t now = clock_();
    Verdict verdict;
    const bool kept =
        book_.update({"sms-address " + address}, now, [&](std::vector<ThrottleRecord>& records) {
            ThrottleRecord& fromAddress = records[0];
            forgetOld(fromAddress, now);
            if (holds(fromAddress, fromAddress.events, limits_.smsCodesPerAddress, now)) {
                verdict = {Holder::Address, remainingWait(fromAddress, now)};
                return;
            }
            ++fromAddress.inFlight;
        });
    return kept ? verdict : unavailable();
}

void AttemptThrottle::finishSmsCode(const std::string& address, bool issued) {
    const std::int64_t now = clock_();
    std::int64_t wait = 0;
    int codes = 0;
    const bool kept =
        book_.update({"sms-address " + address}, now, [&](std::vector<ThrottleRecord>& records) {
            ThrottleRecord& fromAddress = records[0];
            forgetOld(fromAddress, now);
            finishAttempt(fromAddress);
            if (issued) {
                wait = countEvent(fromAddress, limits_.smsCodesPerAddress, now);
                codes = fromAddress.events;
            }
        });
    if (!kept) {
        lost("sms code for " + address);
        return;
    }
    if (wait > 0)
        ServiceLog::line("sms codes from " + address + " wait " + seconds(wait) + " after " +
                         std::to_string(codes) + " codes");
}
