#pragma once

#include "cloud_service/sql_session.h"
#include "cloud_service/throttle_book.h"

#include <atomic>

// The throttle's records in the PostgreSQL database (table throttle_record), shared by every
// instance of the service on it, so that guesses spread over the instances count together.
// Each update locks its keys' rows, in the order of the keys, for one transaction.
//
// An instance that dies between admitting an attempt and finishing it leaves the attempt
// counted as running; a count of running attempts that has not changed for a minute is taken
// to be such a leftover and read as none.
class PostgresThrottleBook final : public ThrottleBook {
public:
    explicit PostgresThrottleBook(SessionPool& pool) : pool_(pool) {}

    bool update(const std::vector<std::string>& keys, std::int64_t nowMs,
                const Step& step) override;
    // One statement outside any transaction: it waits for no lock.
    bool read(const std::vector<std::string>& keys, std::int64_t nowMs,
              std::vector<ThrottleRecord>& records) override;

private:
    // Deletes the records spent by `nowMs`, at most once a minute per instance.
    void sweep(SqlSession& db, std::int64_t nowMs);

    SessionPool& pool_;
    std::atomic<std::int64_t> nextSweepMs_{0};
};
