#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

// The download replies the service made lately, each kept under its account's data mark
// (CloudAccountRow::dataMark): while the account keeps that mark, a download gives the same
// reply again without reading its rows. A change on any instance gives a new mark, so a kept
// reply is never handed out for data it does not show. The replies least recently handed out go
// first once they hold more than a set number of bytes. Callable from many threads.
class DownloadCache {
public:
    enum class Kind { Groups, Servers };

    explicit DownloadCache(std::size_t byteBudget) : byteBudget_(byteBudget) {}
    DownloadCache(const DownloadCache&) = delete;
    DownloadCache& operator=(const DownloadCache&) = delete;

    // The reply kept for the account under `mark`, or nothing; always nothing for mark 0.
    std::optional<std::string> find(Kind kind, std::int64_t accountId, std::int64_t mark);
    // Keeps `reply` as the account's reply under `mark` (read under that mark or later), in
    // place of the one it had. Nothing is kept for mark 0 or a reply over the whole budget.
    void keep(Kind kind, std::int64_t accountId, std::int64_t mark, const std::string& reply);

private:
    struct Key {
        Kind kind;
        std::int64_t accountId;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const {
            return std::hash<std::int64_t>()(key.accountId) * 2 + std::size_t(key.kind);
        }
    };
    struct Entry {
        Key key;
        std::int64_t mark = 0;
        std::string reply;
    };
    using Entries = std::list<Entry>; // most recently handed out first

    void forget(Entries::iterator entry);

    const std::size_t byteBudget_;
    std::mutex lock_;
    Entries entries_;
    std::unordered_map<Key, Entries::iterator, KeyHash> index_;
    std::size_t bytes_ = 0;
};
