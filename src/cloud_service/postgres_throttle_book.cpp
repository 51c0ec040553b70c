#include "cloud_service/postgres_throttle_book.h"

#include <algorithm>
#include <numeric>

namespace {

constexpr std::int64_t kMinuteMs = std::int64_t{60} * 1000;
// Longer than any attempt takes: a request has 10 s to arrive, and its password hash well
// under a second.
constexpr std::int64_t kLeftoverAttemptMs = kMinuteMs;

constexpr const char* kRecordColumns =
    "key, events, in_flight, in_flight_at, wait_until, forget_at";

// Each key's row, created empty when missing and locked; `count` keys in ascending order.
std::string lockingStatement(std::size_t count) {
    std::string sql = "INSERT INTO throttle_record (key) SELECT k FROM (VALUES ";
    for (std::size_t i = 0; i < count; ++i)
        sql += i == 0 ? "(?::text)" : ", (?::text)";
    sql += ") AS v (k) ORDER BY k ON CONFLICT (key) DO UPDATE SET in_flight = "
           "throttle_record.in_flight RETURNING ";
    return sql + kRecordColumns;
}

// The rows of `count` keys that have one, as they stand.
std::string readingStatement(std::size_t count) {
    std::string sql =
        std::string("SELECT ") + kRecordColumns + " FROM throttle_record WHERE key IN (";
    for (std::size_t i = 0; i < count; ++i)
        sql += i == 0 ? "?" : ", ?";
    return sql + ")";
}

// Writes `count` records back and deletes those spent at the time that follows them.
std::string writingStatement(std::size_t count) {
    std::string sql = "WITH v (key, events, in_flight, in_flight_at, wait_until, forget_at) "
                      "AS (VALUES ";
    for (std::size_t i = 0; i < count; ++i)
        sql += std::string(i == 0 ? "" : ", ") +
               "(?::text, ?::integer, ?::integer, ?::bigint, ?::bigint, ?::bigint)";
    sql += "), kept AS (UPDATE throttle_record AS t SET events = v.events, "
           "in_flight = v.in_flight, in_flight_at = v.in_flight_at, wait_until = v.wait_until, "
           "forget_at = v.forget_at FROM v WHERE t.key = v.key "
           "AND (v.in_flight > 0 OR v.forget_at > ?::bigint)) "
           "DELETE FROM throttle_record AS t USING v WHERE t.key = v.key "
           "AND v.in_flight <= 0 AND v.forget_at <= ?::bigint";
    return sql;
}

struct StoredRecord {
    ThrottleRecord record;
    std::int64_t inFlightAtMs = 0;
};

StoredRecord storedRecord(const SqlRow& row, std::int64_t nowMs) {
    StoredRecord stored;
    stored.record.events = std::stoi(row[1]);
    stored.record.inFlight = std::stoi(row[2]);
    stored.inFlightAtMs = std::stoll(row[3]);
    stored.record.waitUntilMs = std::stoll(row[4]);
    stored.record.forgetAtMs = std::stoll(row[5]);
    if (stored.record.inFlight > 0 && stored.inFlightAtMs + kLeftoverAttemptMs <= nowMs)
        stored.record.inFlight = 0;
    return stored;
}

// Each row's record in the place of its key among `keys`; false for a row of another key.
bool placeRows(const SqlRows& rows, const std::vector<std::string>& keys, std::int64_t nowMs,
               std::vector<StoredRecord>& stored) {
    stored.assign(keys.size(), StoredRecord{});
    for (const SqlRow& row : rows) {
        const auto key = std::find(keys.begin(), keys.end(), row[0]);
        if (key == keys.end())
            return false;
        stored[std::size_t(key - keys.begin())] = storedRecord(row, nowMs);
    }
    return true;
}

std::vector<ThrottleRecord> recordsOf(const std::vector<StoredRecord>& stored) {
    std::vector<ThrottleRecord> records;
    for (const StoredRecord& s : stored)
        records.push_back(s.record);
    return records;
}

} // namespace

bool PostgresThrottleBook::update(const std::vector<std::string>& keys, std::int64_t nowMs,
                                  const Step& step) {
    SessionPool::Lease db(pool_);
    if (!db)
        return false;
    // Rows are locked in the order of their keys, so two updates never wait for each other
    // in a circle.
    std::vector<std::size_t> order(keys.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(),
              [&keys](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
    std::vector<SqlValue> sortedKeys;
    for (const std::size_t i : order)
        sortedKeys.emplace_back(keys[i]);

    SqlTransaction transaction(*db, SqlTransaction::Kind::Plain);
    if (!transaction.began())
        return false;
    const auto rows = db->run(lockingStatement(keys.size()), sortedKeys);
    std::vector<StoredRecord> stored;
    if (!rows || rows->size() != keys.size() || !placeRows(*rows, keys, nowMs, stored))
        return false;
    std::vector<ThrottleRecord> records = recordsOf(stored);
    step(records);

    std::vector<SqlValue> written;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const ThrottleRecord& r = records[i];
        const bool attemptsChanged = r.inFlight != stored[i].record.inFlight;
        written.insert(written.end(), {keys[i], std::int64_t{r.events}, std::int64_t{r.inFlight},
                                       attemptsChanged ? nowMs : stored[i].inFlightAtMs,
                                       r.waitUntilMs, r.forgetAtMs});
    }
    written.insert(written.end(), {nowMs, nowMs});
    if (!db->run(writingStatement(keys.size()), written) || !transaction.commit())
        return false;
    sweep(*db, nowMs);
    return true;
}

bool PostgresThrottleBook::read(const std::vector<std::string>& keys, std::int64_t nowMs,
                                std::vector<ThrottleRecord>& records) {
    SessionPool::Lease db(pool_);
    if (!db)
        return false;
    const auto rows =
        db->run(readingStatement(keys.size()), std::vector<SqlValue>(keys.begin(), keys.end()));
    std::vector<StoredRecord> stored;
    if (!rows || !placeRows(*rows, keys, nowMs, stored))
        return false;
    records = recordsOf(stored);
    return true;
}

void PostgresThrottleBook::sweep(SqlSession& db, std::int64_t nowMs) {
    std::int64_t due = nextSweepMs_.load();
    if (nowMs < due || !nextSweepMs_.compare_exchange_strong(due, nowMs + kMinuteMs))
        return;
    db.run("DELETE FROM throttle_record WHERE forget_at <= ? AND (in_flight <= 0 OR "
           "in_flight_at <= ?)",
           {nowMs, nowMs - kLeftoverAttemptMs});
}
