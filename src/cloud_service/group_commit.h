#pragma once

#include "cloud_service/sql_session.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

// Writes of many threads committed together: a write that arrives while another batch commits
// waits, and the writes that gathered meanwhile are committed in one transaction, in the order
// they arrived, by one of their threads. One commit then pays for many writes, and the writers
// take their turns first come, first served instead of whoever wakes first. Each write still
// gets its own result: when one of a batch fails, the batch is rolled back and each of its
// writes is run again alone, so a failing write never takes the others with it. A write of
// several statements is kept or dropped whole, also when it runs alone.
class GroupCommit {
public:
    // Runs the statements of one write on the session it is given; false when one failed.
    using Write = std::function<bool(SqlSession&)>;

    explicit GroupCommit(SessionPool& pool) : pool_(pool) {}
    GroupCommit(const GroupCommit&) = delete;
    GroupCommit& operator=(const GroupCommit&) = delete;

    // Runs `write`, alone or with the writes queued beside it, and returns once it is
    // committed (true) or has failed (false). `write` must leave no transaction open.
    bool run(const Write& write);

    // Writes waiting for their batch, not counting the one being committed.
    std::size_t queued();

private:
    struct Entry {
        const Write* write = nullptr;
        bool done = false;
        bool succeeded = false;
        // Set when this write's thread is to commit the next batch.
        bool leads = false;
        std::condition_variable wake;
    };

    void commit(const std::deque<Entry*>& batch);
    // The whole batch in one transaction; false (and nothing kept) when any of it failed.
    static bool commitTogether(SqlSession& db, const std::deque<Entry*>& batch);

    SessionPool& pool_;
    std::mutex lock_;
    std::deque<Entry*> queue_;
    bool committing_ = false;
};
