#include "cloud_service/download_cache.h"

std::optional<std::string> DownloadCache::find(Kind kind, std::int64_t accountId,
                                               std::int64_t mark) {
    if (mark == 0)
        return std::nullopt;
    const std::lock_guard guard(lock_);
    const auto found = index_.find(Key{kind, accountId});
    if (found == index_.end() || found->second->mark != mark)
        return std::nullopt;
    entries_.splice(entries_.begin(), entries_, found->second);
    return found->second->reply;
}

void DownloadCache::keep(Kind kind, std::int64_t accountId, std::int64_t mark,
                         const std::string& reply) {
    if (mark == 0 || reply.size() > byteBudget_)
        return;
    const Key key{kind, accountId};
    const std::lock_guard guard(lock_);
    if (const auto found = index_.find(key); found != index_.end())
        forget(found->second);
    while (!entries_.empty() && bytes_ + reply.size() > byteBudget_)
        forget(std::prev(entries_.end()));
    entries_.push_front(Entry{key, mark, reply});
    index_.emplace(key, entries_.begin());
    bytes_ += reply.size();
}

void DownloadCache::forget(Entries::iterator entry) {
    bytes_ -= entry->reply.size();
    index_.erase(entry->key);
    entries_.erase(entry);
}
