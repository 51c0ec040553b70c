#include "cloud_service/group_commit.h"

#include <algorithm>

namespace {

// Writes in one transaction at most: a batch holds the database's write lock while it runs.
constexpr std::size_t kMaxBatch = 64;

} // namespace

bool GroupCommit::run(const Write& write) {
    Entry entry;
    entry.write = &write;
    std::unique_lock guard(lock_);
    queue_.push_back(&entry);
    while (!entry.done) {
        if (committing_) {
            finished_.wait(guard);
            continue;
        }
        // The oldest writes go first; this thread commits them whether or not its own is
        // among them, and then looks again.
        committing_ = true;
        const auto end = queue_.begin() + std::ptrdiff_t(std::min(queue_.size(), kMaxBatch));
        const std::deque<Entry*> batch(queue_.begin(), end);
        queue_.erase(queue_.begin(), end);
        guard.unlock();
        commit(batch);
        guard.lock();
        for (Entry* committed : batch)
            committed->done = true;
        committing_ = false;
        finished_.notify_all();
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
    // A write alone needs no transaction of its own: its statement commits by itself.
    if (batch.size() > 1 && commitTogether(*db, batch)) {
        for (Entry* entry : batch)
            entry->succeeded = true;
        return;
    }
    for (Entry* entry : batch)
        entry->succeeded = (*entry->write)(*db);
}

bool GroupCommit::commitTogether(SqlSession& db, const std::deque<Entry*>& batch) {
    SqlTransaction transaction(db);
    if (!transaction.began())
        return false;
    for (const Entry* entry : batch)
        if (!(*entry->write)(db))
            return false;
    return transaction.commit();
}
