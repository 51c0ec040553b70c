// What one HTTP request through HttpClient costs on loopback, against the limits measured in
// the same run:
//  - a bare libcurl easy handle fetching the same URL (the transfer alone, no header block,
//    no charset search, no text decoding),
//  - the curl command-line tool fetching it (what a request costs when a program is started
//    for it).
// Each is run for a small reply and for a 256 KiB page.
//
// --runs=N sets the repetitions of each measurement (default 200).

#include "bench_support.h"
#include "core/cloud/http_client.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>

#include <curl/curl.h>
#include <httplib.h>

#include <algorithm>
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
                    report("page of 256 KiB:", runs, base + u"/page"_s, curlPath);

    server.stop();
    serving.join();
    return ok ? 0 : 1;
}
