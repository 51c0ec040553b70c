#include "cloud_service/service_log.h"

#include <cstdio>
#include <ctime>
#include <mutex>

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

} // namespace ServiceLog
