// torvane-cloud: start, serve until SIGINT or SIGTERM, stop; or run one operator command.

#include "cloud_service/cloud_service.h"
#include "cloud_service/operator_commands.h"
#include "cloud_service/service_log.h"
#include "cloud_service/service_options.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <pthread.h>
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
    const sigset_t signals = stopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::error_code folderError;
    std::filesystem::create_directories(options->dataFolder, folderError);
    CloudService service({options->dataFolder, options->smsProgram, options->tlsCertificate,
                          options->tlsKey, options->registrationOpen});
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
    ServiceLog::line("listening on " + options->host + ":" + std::to_string(port) +
                     (tls ? " (HTTPS)" : " (plain HTTP)") + ", data in " +
                     std::filesystem::absolute(options->dataFolder).string() +
                     (options->registrationOpen ? "" : ", registration closed"));
    const bool served = service.serve();
    return served ? 0 : 1;
}
