// Path reads per second through JsonDocument against direct nlohmann access to the same
// values, on a panel-like reply: the three members the panel actions read, and a deep path
// into a list. Parsing the reply is measured too.
//
// --reads=N sets the reads per measurement (default 200000); each is repeated 9 times and the
// median printed.

#include "bench_support.h"
#include "core/support/json_document.h"

#include <QElapsedTimer>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int kRepeats = 9;

// Reads per second, the median of the repeats.
double medianRate(int reads, const std::function<qsizetype()>& readOnce) {
    std::vector<double> rates;
    qsizetype sink = 0;
    for (int r = 0; r < kRepeats; ++r) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < reads; ++i)
            sink += readOnce();
        rates.push_back(reads / (double(std::max<qint64>(timer.nsecsElapsed(), 1)) / 1e9));
    }
    if (sink == 42)
        std::printf(" ");
    return median(rates);
}

QString panelReply() {
    QString list;
    for (int i = 0; i < 50; ++i)
        list += (i ? u","_s : QString()) + u"{\"id\":%1,\"name\":\"站点%1\"}"_s.arg(i);
    return u"{\"status\":true,\"msg\":\"登录成功\",\"token\":\"3f2a9c\",\"data\":{\"list\":["_s +
           list + u"]}}"_s;
}

void compare(const char* what, int reads, const std::function<qsizetype()>& document,
             const std::function<qsizetype()>& direct) {
    const double viaDocument = medianRate(reads, document);
    const double viaDirect = medianRate(reads, direct);
    std::printf("%s\n  JsonDocument: %.0f /s\n  nlohmann:     %.0f /s (direct / document = "
                "%.1fx)\n",
                what, viaDocument, viaDirect, viaDirect / viaDocument);
}

} // namespace

int main(int argc, char** argv) {
    const int reads = intOption(argc, argv, "--reads=", 200000);

    const QString reply = panelReply();
    JsonDocument document;
    document.parse(reply);
    const nlohmann::ordered_json json = nlohmann::ordered_json::parse(reply.toStdString());

    std::printf("panel-like reply of %lld characters, median of %d repeats\n",
                static_cast<long long>(reply.size()), kRepeats);
    compare(
        "read \"status\", \"msg\" and \"token\" as text:", reads,
        [&] {
            return document.getText(u"status"_s).size() + document.getText(u"msg"_s).size() +
                   document.getText(u"token"_s).size();
        },
        [&] {
            const QString status = json["status"].get<bool>() ? u"true"_s : u"false"_s;
            return status.size() + QString::fromStdString(json["msg"].get<std::string>()).size() +
                   QString::fromStdString(json["token"].get<std::string>()).size();
        });
    compare(
        "read \"data.list[42].name\" as text:", reads,
        [&] { return document.getText(u"data.list[42].name"_s).size(); },
        [&] {
            return QString::fromStdString(json["data"]["list"][42]["name"].get<std::string>())
                .size();
        });
    compare(
        "parse the reply:", std::max(1, reads / 100),
        [&] {
            JsonDocument fresh;
            return qsizetype(fresh.parse(reply));
        },
        [&] {
            return qsizetype(
                nlohmann::ordered_json::parse(reply.toStdString(), nullptr, false).size());
        });
    return 0;
}
