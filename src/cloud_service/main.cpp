// torvane-cloud: start, serve until SIGINT or SIGTERM, stop; or run one operator command.

#include "cloud_service/cloud_service.h"
#include "cloud_service/operator_commands.h"
#include "cloud_service/service_log.h"
#include "cloud_service/service_options.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

namespace {

// Blocks the stop signals in every thread and waits for them on one thread of its own, which
// may then stop the server (a signal handler may not).
sigset_t stopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

// Every open connection takes a file; the soft limit (often 1024) would cap them below what
// the service is meant to hold.
void raiseOpenFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

int main(int argc, char* argv[]) {
    std::string error;
    const auto options = parseServiceOptions(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "torvane-cloud: %s\n\n%s", error.c_str(), serviceUsage().c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(serviceUsage().c_str(), stdout);
        return 0;
    }

    // cloud.db holds password hashes and the sealed (reversible) server passwords: only the
    // service's own user may read it, and the same goes for a backup of it.
    umask(077);
    if (options->command != ServiceOptions::Command::Serve)
        return runOperatorCommand(*options);
    std::signal(SIGPIPE, SIG_IGN);
    raiseOpenFileLimit();
    const sigset_t signals = stopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    if (options->databaseHoldsPassword)
        ServiceLog::line("warning: the --database address holds a password, which every user of "
                         "this machine can read in its list of processes; keep it in a "
                         "password file (PGPASSFILE) instead");
    std::error_code folderError;
    std::filesystem::create_directories(options->dataFolder, folderError);
    CloudService service({.dataFolder = options->dataFolder,
                          .database = options->database,
                          .smsProgram = options->smsProgram,
                          .connections = options->connections,
                          .throttle = options->throttle,
                          .trustedProxy = options->trustedProxy,
                          .tlsCertificate = options->tlsCertificate,
                          .tlsKey = options->tlsKey,
                          .registrationOpen = options->registrationOpen});
    if (!service.open(error)) {
        ServiceLog::line("cannot start: " + error);
        return 1;
    }
    const int port = service.bind(options->host, options->port);
    if (port < 0) {
        ServiceLog::line("cannot listen on " + options->host + ":" + std::to_string(options->port));
        return 1;
    }
    std::thread stopper([&service, signals] {
        int received = 0;
        sigwait(&signals, &received);
        ServiceLog::line("stopping");
        service.stop();
    });
    stopper.detach();

    const bool tls = !options->tlsCertificate.empty();
    ServiceLog::line(
        "listening on " + options->host + ":" + std::to_string(port) +
        (tls ? " (HTTPS)" : " (plain HTTP)") + ", data in " +
        std::filesystem::absolute(options->dataFolder).string() +
        (options->database.empty() ? "" : ", accounts in the " + service.storeDescription()) +
        (options->registrationOpen ? "" : ", registration closed"));
    const bool served = service.serve();
    return served ? 0 : 1;
}
