#include "cloud_service/sms_courier.h"

#include "cloud_service/service_log.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace {

constexpr auto kProgramTimeLimit = std::chrono::seconds(10);

} // namespace

bool SmsCourier::deliver(const std::string& phone, const std::string& code) const {
    if (program_.empty()) {
        ServiceLog::line("sms code for " + phone + ": " + code);
        return true;
    }
    return runProgram(phone, code);
}

bool SmsCourier::runProgram(const std::string& phone, const std::string& code) const {
    std::string program = program_;
    std::string phoneArgument = phone;
    std::string codeArgument = code;
    char* argv[] = {program.data(), phoneArgument.data(), codeArgument.data(), nullptr};
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, program.c_str(), nullptr, nullptr, argv, environ);
    if (spawned != 0) {
        ServiceLog::line("sms program " + program_ + " could not start: " + std::strerror(spawned));
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + kProgramTimeLimit;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child)
            break;
        if (done < 0 && errno != EINTR) {
            ServiceLog::line("sms program " + program_ + " lost: " + std::strerror(errno));
            return false;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            ServiceLog::line("sms program " + program_ + " took too long and was stopped");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ServiceLog::line("sms program " + program_ + " failed for " + phone);
        return false;
    }
    ServiceLog::line("sms code for " + phone + " handed to " + program_);
    return true;
}
