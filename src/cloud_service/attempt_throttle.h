#pragma once

#include "cloud_service/throttle_book.h"

#include <cstdint>
#include <functional>
#include <string>

// How many events a key may have before it must wait, and how that wait grows.
struct ThrottleRule {
    static constexpr std::int64_t kMinuteMs = 60'000;

    // Events that cost no wait; the one that uses the allowance up starts the first wait.
    int allowance = 5;
    // The first wait; it doubles with every further event, up to the longest.
    std::int64_t firstWaitMs = 2000;
    std::int64_t longestWaitMs = 15 * kMinuteMs;
    // A key's events are forgotten this long after its last event, or after the wait it
    // earned when that ends later.
    std::int64_t memoryMs = 60 * kMinuteMs;
};

// Holds back password guessing and SMS code requests before they cost anything (a password
// hash, a text message), with its records in a ThrottleBook.
//
// Log ins: an address whose failed log ins (on any accounts) reach its allowance waits before
// each further one. An account whose failed log ins (from all addresses) reach its allowance
// makes the addresses that failed on it wait; an address that has not failed on it since its
// last success there is not held back, so its owner still gets in while others guess. One
// address runs at most as many log ins at once as its allowances have left, and one at a time
// after that, so parallel guesses cannot get ahead of the count.
//
// SMS codes: an address whose issued codes reach its allowance waits before each further one.
class AttemptThrottle {
public:
    struct Limits {
        static constexpr std::int64_t kMinuteMs = ThrottleRule::kMinuteMs;

        ThrottleRule loginsPerAddress{10, 2000, 15 * kMinuteMs, 60 * kMinuteMs};
        ThrottleRule loginsPerAccount{5, 2000, 15 * kMinuteMs, 60 * kMinuteMs};
        ThrottleRule smsCodesPerAddress{5, kMinuteMs, 60 * kMinuteMs, 60 * kMinuteMs};
    };

    // Unavailable: the records could not be read or kept (a shared book out of reach).
    enum class Holder { None, Address, Account, Unavailable };

    // Whether an attempt may go ahead, and otherwise what holds it and for how long.
    struct Verdict {
        Holder heldBy = Holder::None;
        std::int64_t waitMs = 0;

        bool admitted() const { return heldBy == Holder::None; }
        // The wait in whole seconds, rounded up.
        std::int64_t waitSeconds() const { return (waitMs + 999) / 1000; }
    };

    // Milliseconds since the Unix epoch.
    using Clock = std::function<std::int64_t()>;
    static std::int64_t wallClockMs();

    AttemptThrottle(ThrottleBook& book, Limits limits, Clock clock = wallClockMs);

    // Every admitted log in must be finished.
    Verdict admitLogin(const std::string& account, const std::string& address);
    // True when a log in would be admitted now and its success would change no record (the
    // address has no failures on the account to clear); only reads the book. Such a log in
    // whose password check is quick (a remembered password) and succeeds needs neither
    // admitLogin() nor finishLogin(): it is admitted and finished at the moment of the read.
    // Any other attempt must go through admitLogin(), so that no failure is checked or
    // counted past the book.
    bool admitsUnrecordedSuccess(const std::string& account, const std::string& address);
    void finishLogin(const std::string& account, const std::string& address, bool succeeded);

    // Every admitted code request must be finished; only an issued code counts.
    Verdict admitSmsCode(const std::string& address);
    void finishSmsCode(const std::string& address, bool issued);

private:
    struct LoginRecords;
    // The log in's records in `records` (from the address, on the account from the address,
    // on the account), the ones past their memory forgotten first.
    static LoginRecords loginAt(std::vector<ThrottleRecord>& records, std::int64_t nowMs);
    // Whether the log in these records describe may go ahead at `nowMs`.
    Verdict loginVerdict(const LoginRecords& login, std::int64_t nowMs) const;
    // One update of the book over the log in's records (from the address, on the account from
    // the address, on the account), with the ones past their memory forgotten first.
    bool updateLogin(const std::string& account, const std::string& address, std::int64_t nowMs,
                     const std::function<void(LoginRecords&)>& step);

    ThrottleBook& book_;
    Limits limits_;
    Clock clock_;
};
