#include "cloud_service/group_commit.h"

#include <algorithm>
#include <thread>

namespace {

// Writes in one transaction at most: a batch holds the database's write lock while it runs.
constexpr std::size_t kMaxBatch = 64;

} // namespace

bool GroupCommit::run(const Write& write, std::optional<std::int64_t> changedAccount) {
    Entry entry;
    entry.write = &write;
    entry.changedAccount = changedAccount;
    std::unique_lock guard(lock_);
    queue_.push_back(&entry);
    // Only this write's own end, or its turn to commit, wakes it: a commit wakes the writers
    // of its batch and the one thread that commits next, not every writer that waits.
    if (committing_)
        entry.wake.wait(guard, [&entry] { return entry.done || entry.leads; });
    if (entry.done)
        return entry.succeeded;
    // This thread commits the oldest writes, its own among them: a write waits only while
    // another batch commits, and then its thread is the oldest waiting.
    committing_ = true;
    // Writers on their way here join this batch when they get the processor once before it is
    // taken: one commit then serves more of them, and an idle service loses one system call.
    guard.unlock();
    std::this_thread::yield();
    guard.lock();
    const auto end = queue_.begin() + std::ptrdiff_t(std::min(queue_.size(), kMaxBatch));
    const std::deque<Entry*> batch(queue_.begin(), end);
    queue_.erase(queue_.begin(), end);
    guard.unlock();
    commit(batch);
    guard.lock();
    for (Entry* committed : batch) {
        committed->done = true;
        if (committed != &entry)
            committed->wake.notify_one();
    }
    if (queue_.empty()) {
        committing_ = false;
    } else {
        queue_.front()->leads = true;
        queue_.front()->wake.notify_one();
    }
    return entry.succeeded;
}

std::size_t GroupCommit::queued() {
    const std::lock_guard guard(lock_);
    return queue_.size();
}

void GroupCommit::commit(const std::deque<Entry*>& batch) {
    SessionPool::Lease db(pool_);
    if (!db)
        return;
    if (commitTogether(*db, batch)) {
        for (Entry* entry : batch)
            entry->succeeded = true;
        return;
    }
    if (batch.size() == 1)
        return;
    for (Entry* entry : batch)
        entry->succeeded = commitTogether(*db, {entry});
}

bool GroupCommit::commitTogether(SqlSession& db, const std::deque<Entry*>& batch) const {
    SqlTransaction transaction(db);
    if (!transaction.began())
        return false;
    std::vector<std::int64_t> accounts;
    for (const Entry* entry : batch) {
        if (!(*entry->write)(db))
            return false;
        if (entry->changedAccount)
            accounts.push_back(*entry->changedAccount);
    }
    std::sort(accounts.begin(), accounts.end());
    accounts.erase(std::unique(accounts.begin(), accounts.end()), accounts.end());
    if (!accounts.empty() && markChanged_ && !markChanged_(db, accounts))
        return false;
    return transaction.commit();
}
