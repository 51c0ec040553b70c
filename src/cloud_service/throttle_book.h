#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

// What the service remembers of one key (an address, an account, an address's attempts on
// one account): its recent events and the wait they earned.
struct ThrottleRecord {
    // Events counted against the key: failed log ins, or SMS codes issued.
    int events = 0;
    // Attempts admitted and not finished yet.
    int inFlight = 0;
    // No attempt is admitted before this time (milliseconds since the Unix epoch).
    std::int64_t waitUntilMs = 0;
    // From this time on the events are forgotten.
    std::int64_t forgetAtMs = 0;

    // Nothing left worth keeping at `nowMs`.
    bool spent(std::int64_t nowMs) const { return inFlight <= 0 && forgetAtMs <= nowMs; }
};

// Where the throttle's records are kept. Every update reads and writes its keys' records as
// one step, so requests on many threads, or several service instances sharing one book, never
// lose a count or admit more attempts than a record allows.
class ThrottleBook {
public:
    using Step = std::function<void(std::vector<ThrottleRecord>& records)>;

    virtual ~ThrottleBook() = default;

    // Hands `step` the records of `keys` in that order (an empty record for a key without one)
    // and keeps what it leaves; spent records need not be kept. False when the records could
    // not be read or kept (a shared book's database is out of reach), whether or not `step`
    // ran.
    virtual bool update(const std::vector<std::string>& keys, std::int64_t nowMs,
                        const Step& step) = 0;

    // The records of `keys` in that order as they stand (an empty record for a key without
    // one), read without locking them: for a caller that only looks. False when they could not
    // be read.
    virtual bool read(const std::vector<std::string>& keys, std::int64_t nowMs,
                      std::vector<ThrottleRecord>& records) = 0;
};

// The records in this process's memory; spent ones are swept out once a minute.
class InProcessThrottleBook final : public ThrottleBook {
public:
    bool update(const std::vector<std::string>& keys, std::int64_t nowMs,
                const Step& step) override;
    bool read(const std::vector<std::string>& keys, std::int64_t nowMs,
              std::vector<ThrottleRecord>& records) override;

private:
    // The records of `keys`; with lock_ held.
    std::vector<ThrottleRecord> recordsOf(const std::vector<std::string>& keys) const;

    std::mutex lock_;
    std::unordered_map<std::string, ThrottleRecord> records_;
    std::int64_t nextSweepMs_ = 0;
};
