#include "cloud_service/throttle_book.h"

namespace {

constexpr std::int64_t kSweepIntervalMs = std::int64_t{60} * 1000;

} // namespace

std::vector<ThrottleRecord>
InProcessThrottleBook::recordsOf(const std::vector<std::string>& keys) const {
    std::vector<ThrottleRecord> records;
    records.reserve(keys.size());
    for (const std::string& key : keys) {
        const auto found = records_.find(key);
        records.push_back(found == records_.end() ? ThrottleRecord{} : found->second);
    }
    return records;
}

bool InProcessThrottleBook::update(const std::vector<std::string>& keys, std::int64_t nowMs,
                                   const Step& step) {
    std::lock_guard guard(lock_);
    std::vector<ThrottleRecord> records = recordsOf(keys);
    step(records);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (records[i].spent(nowMs))
            records_.erase(keys[i]);
        else
            records_[keys[i]] = records[i];
    }
    if (nowMs >= nextSweepMs_) {
        std::erase_if(records_, [nowMs](const auto& entry) { return entry.second.spent(nowMs); });
        nextSweepMs_ = nowMs + kSweepIntervalMs;
    }
    return true;
}

bool InProcessThrottleBook::read(const std::vector<std::string>& keys, std::int64_t,
                                 std::vector<ThrottleRecord>& records) {
    std::lock_guard guard(lock_);
    records = recordsOf(keys);
    return true;
}
