// What one HTTP request through HttpClient costs on loopback, against the limits measured in
// the same run:
//  - a bare libcurl easy handle fetching the same URL (the transfer alone, no header block,
//    no charset search, no text decoding),
//  - the curl command-line tool fetching it (what a request costs when a program is started
//    for it).
// Each is run for a small reply and for a 256 KiB page.
// Then how long a request takes to end after its stop is raised, while it waits for a peer
// that took the connection and never answers (closing a window ends its requests this way).
//
// --runs=N sets the repetitions of each measurement (default 200; a tenth of them for the
// stop, which waits a while before each raise).

#include "bench_support.h"
#include "core/cloud/http_client.h"
#include "core/support/job_stop.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>

#include <curl/curl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Median milliseconds of each contender. Contenders take turns within every run, so a
// machine that gets busier or quieter during the run weighs on all of them alike.
std::vector<double> interleavedMediansMs(int runs,
                                         const std::vector<std::function<bool()>>& contenders) {
    std::vector<std::vector<double>> samples(contenders.size());
    for (int i = 0; i < runs; ++i) {
        for (std::size_t c = 0; c < contenders.size(); ++c) {
            QElapsedTimer timer;
            timer.start();
            if (!contenders[c]())
                return {};
            samples[c].push_back(double(timer.nsecsElapsed()) / 1e6);
        }
    }
    std::vector<double> medians;
    for (const std::vector<double>& s : samples)
        medians.push_back(median(s));
    return medians;
}

size_t discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

bool bareCurl(const QByteArray& url) {
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, discard);
    const bool ok = curl_easy_perform(easy) == CURLE_OK;
    curl_easy_cleanup(easy);
    return ok;
}

bool viaHttpClient(const QString& url) {
    HttpRequest request;
    request.url = url;
    return HttpClient::request(request).complete;
}

bool curlProgram(const QString& program, const QString& url) {
    QProcess curl;
    curl.start(program, {u"-s"_s, u"-o"_s, u"/dev/null"_s, u"--noproxy"_s, u"*"_s, url});
    return curl.waitForFinished(10000) && curl.exitCode() == 0;
}

bool report(const char* what, int runs, const QString& url, const QString& curlPath) {
    std::vector<std::function<bool()>> contenders{[&] { return viaHttpClient(url); },
                                                  [&] { return bareCurl(url.toUtf8()); }};
    if (!curlPath.isEmpty())
        contenders.push_back([&] { return curlProgram(curlPath, url); });
    const std::vector<double> ms = interleavedMediansMs(runs, contenders);
    if (ms.empty()) {
        std::fprintf(stderr, "%s a request failed\n", what);
        return false;
    }
    std::printf("%s\n  HttpClient::request:      median %.3f ms\n", what, ms[0]);
    std::printf("  bare libcurl easy handle: median %.3f ms (client / bare = %.2fx)\n", ms[1],
                ms[0] / ms[1]);
    if (curlPath.isEmpty())
        std::printf("  curl command-line tool:   not found on PATH, skipped\n");
    else
        std::printf("  curl command-line tool:   median %.3f ms (client / tool = %.2fx)\n", ms[2],
                    ms[0] / ms[2]);
    return true;
}

// A loopback port whose connections the kernel accepts and nobody ever answers; 0 when none
// could be had. The socket stays open (and the port taken) until the program ends.
int silentPort() {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener, 64) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

// Milliseconds from raising the stop to the request's return, for each run.
bool reportStop(int runs) {
    const int port = silentPort();
    if (port == 0) {
        std::fprintf(stderr, "no silent loopback port\n");
        return false;
    }
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
        JobStop stop;
        HttpRequest request;
        request.url = u"http://127.0.0.1:%1/"_s.arg(port);
        request.stop = &stop;
        QElapsedTimer sinceRaise;
        // The raise falls at a different point of the request's wait each run.
        const auto delay = std::chrono::milliseconds(150 + (i * 17) % HttpClient::kStopCheckMs);
        std::thread raiser([&] {
            std::this_thread::sleep_for(delay);
            sinceRaise.start();
            stop.raise();
        });
        const HttpResponse response = HttpClient::request(request);
        raiser.join();
        if (response.complete) {
            std::fprintf(stderr, "a stopped request came back complete\n");
            return false;
        }
        samples.push_back(double(sinceRaise.nsecsElapsed()) / 1e6);
    }
    std::printf("stopping a request that waits for a silent peer, %d runs:\n"
                "  from the raise to the return: median %.1f ms, max %.1f ms (check every %d ms)\n",
                runs, median(samples), *std::max_element(samples.begin(), samples.end()),
                HttpClient::kStopCheckMs);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = intOption(argc, argv, "--runs=", 200);

    const std::string page(256 * 1024, 'x');
    httplib::Server server;
    server.Get("/small", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("True", "text/html; charset=utf-8");
    });
    server.Get("/page", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content("<html><head><meta charset=\"utf-8\"></head>" + page, "text/html");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        std::fprintf(stderr, "no loopback port\n");
        return 1;
    }
    std::thread serving([&] { server.listen_after_bind(); });

    const QString curlPath = QStandardPaths::findExecutable(u"curl"_s);
    const QString base = u"http://127.0.0.1:%1"_s.arg(port);
    std::printf("loopback requests, %d runs each\n", runs);
    const bool ok = report("small reply (4 bytes):", runs, base + u"/small"_s, curlPath) &&
                    report("page of 256 KiB:", runs, base + u"/page"_s, curlPath) &&
                    reportStop(std::max(1, runs / 10));

    server.stop();
    serving.join();
    return ok ? 0 : 1;
}
