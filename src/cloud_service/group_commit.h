#pragma once

#include "cloud_service/sql_session.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

// Writes of many threads committed together: a write that arrives while another batch commits
// waits, and the writes that gathered meanwhile are committed in one transaction, in the order
// they arrived, by one of their threads. One commit then pays for many writes, and the writers
// take their turns first come, first served instead of whoever wakes first. Each write still
// gets its own result: when one of a batch fails, the batch is rolled back and each of its
// writes is run again alone, so a failing write never takes the others with it. A write of
// several statements is kept or dropped whole, also when it runs alone.
//
// A write may name the account whose data it changes. Before a transaction commits, the
// accounts its writes named are handed to `markChanged` once each, in ascending order: one
// statement per account however many of its writes the batch holds, and two batches that take
// the same accounts' rows in different instances never wait for each other in a circle.
class GroupCommit {
public:
    // Runs the statements of one write on the session it is given; false when one failed.
    using Write = std::function<bool(SqlSession&)>;
    // Marks the accounts' data as changed, in the transaction of the change; false on failure.
    using MarkChanged = std::function<bool(SqlSession&, const std::vector<std::int64_t>&)>;

    explicit GroupCommit(SessionPool& pool, MarkChanged markChanged = {})
        : pool_(pool), markChanged_(std::move(markChanged)) {}
    GroupCommit(const GroupCommit&) = delete;
    GroupCommit& operator=(const GroupCommit&) = delete;

    // Runs `write`, alone or with the writes queued beside it, and returns once it is
    // committed (true) or has failed (false). `write` must leave no transaction open.
    // `changedAccount`, when given, is the account whose data the write changes.
    bool run(const Write& write, std::optional<std::int64_t> changedAccount = std::nullopt);

    // Writes waiting for their batch, not counting the one being committed.
    std::size_t queued();

private:
    struct Entry {
        const Write* write = nullptr;
        std::optional<std::int64_t> changedAccount;
        bool done = false;
        bool succeeded = false;
        // Set when this write's thread is to commit the next batch.
        bool leads = false;
        std::condition_variable wake;
    };

    void commit(const std::deque<Entry*>& batch);
    // The whole batch in one transaction, with its accounts' marks; false (and nothing kept)
    // when any of it failed.
    bool commitTogether(SqlSession& db, const std::deque<Entry*>& batch) const;

    SessionPool& pool_;
    const MarkChanged markChanged_;
    std::mutex lock_;
    std::deque<Entry*> queue_;
    bool committing_ = false;
};
