#include "cloud_service/service_log.h"

#include <cstdio>
#include <ctime>
#include <mutex>

namespace {

constexpr std::size_t kMostQuotedBytes = 128;

} // namespace

namespace ServiceLog {

void line(const std::string& message) {
    static std::mutex lock;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::string text = message;
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    std::lock_guard guard(lock);
    std::fprintf(stderr, "%s %s\n", stamp, text.c_str());
    std::fflush(stderr);
}

std::string quoted(const std::string& value) {
    if (value.size() <= kMostQuotedBytes)
        return "\"" + value + "\"";
    std::size_t end = kMostQuotedBytes;
    // UTF-8 continuation bytes are 10xxxxxx.
    while (end > 0 && (static_cast<unsigned char>(value[end]) & 0xC0) == 0x80)
        --end;
    return "\"" + value.substr(0, end) + "...\"";
}

} // namespace ServiceLog
