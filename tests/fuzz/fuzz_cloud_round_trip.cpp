// The cloud round trip as a fuzz target: each input becomes a server and a group
// (CloudRoundTrip::rowsFromBytes) that go up the way the upload sends them, through a
// torvane-cloud object in this process, and down the way the download reads them. A row the
// service accepted that does not come back field-equal, or a refusal without its reason,
// stops the program with the rows and what differed.

#include "cloud_service/cloud_service.h"
#include "cloud_service/form_body.h"
#include "common/cloud_round_trip.h"
#include "core/cloud/cloud_actions.h"
#include "service_on_loopback.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

const CloudApi::Account kAccount{u"fuzz"_s, u"fuzz-pw"_s};
const QString kPhone = u"13900000000"_s;

// torvane-cloud in this process with one registered account. Requests go straight to the
// service object, not through its loopback listener.
class InProcessService {
public:
    InProcessService() { ready_ = loopback_.port() > 0 && registerAccount(); }

    bool isReady() const { return ready_; }

    // As CloudApi::request judges an answer: the body as text, an error status kept apart.
    CloudApi::Reply exchange(const QString& act, const CloudApi::FormFields& fields) {
        const CloudService::Reply answer = loopback_.service().handle(
            act.toStdString(), FormBody::parse(CloudApi::formBody(fields).toStdString()),
            "127.0.0.1");
        CloudApi::Reply reply;
        reply.text = CloudApi::replyText(QByteArray::fromStdString(answer.body));
        if (answer.status < 200 || answer.status >= 300)
            reply.errorStatus = answer.status;
        return reply;
    }

private:
    bool registerAccount() {
        return CloudApi::succeeded(exchange(u"sendsms"_s, {{u"phone"_s, kPhone}})) &&
               CloudApi::succeeded(exchange(u"reg"_s, {{u"username"_s, kAccount.username},
                                                       {u"password"_s, kAccount.password},
                                                       {u"phone"_s, kPhone},
                                                       {u"vcode"_s, loopback_.lastSmsCode()},
                                                       {u"qq"_s, u"1"_s},
                                                       {u"mail"_s, u"f@example.com"_s}}));
    }

    ServiceOnLoopback loopback_;
    bool ready_ = false;
};

InProcessService& service() {
    // Qt's text codecs want an application object, as in the programs that use them.
    static int argc = 1;
    static char name[] = "fuzz_cloud_round_trip";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
    static InProcessService instance;
    return instance;
}

// How many inputs went all the way, said when the program ends, so a run shows that it
// tested something.
struct Tally {
    long inputs = 0;
    long servers = 0;
    long groups = 0;
    long refusedByClient = 0;

    ~Tally() {
        std::printf("%ld inputs: %ld servers and %ld groups came back field-equal, %ld rows "
                    "refused by the client, the rest refused by the service\n",
                    inputs, servers, groups, refusedByClient);
    }
} tally;

[[noreturn]] void broken(const CloudRoundTrip::Rows& rows, const QString& what) {
    const ServerRecord& s = rows.server;
    const QStringList fields{
        s.group,     s.name,          s.ip,        s.user,          s.password,     s.port,
        s.system,    s.remark,        s.startTime, s.endTime,       s.sort,         s.panelUrl,
        s.panelUser, s.panelPassword, s.panelKey,  rows.group.name, rows.group.sort};
    std::fprintf(stderr, "broken round trip: %s\nrows (17 fields, | between):\n%s\n",
                 what.toUtf8().constData(), fields.join(u" | "_s).toUtf8().constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InProcessService& cloud = service();
    if (!cloud.isReady()) {
        std::fprintf(stderr, "torvane-cloud did not start in this process\n");
        std::abort();
    }
    const CloudRoundTrip::Rows rows = CloudRoundTrip::rowsFromBytes(
        QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    const CloudRoundTrip::Outcome outcome = CloudRoundTrip::check(
        [&cloud](const QString& act, const CloudApi::FormFields& fields) {
            return cloud.exchange(act, fields);
        },
        kAccount, rows);
    if (!outcome.broken.isEmpty())
        broken(rows, outcome.broken);
    ++tally.inputs;
    tally.servers += outcome.serversAccepted;
    tally.groups += outcome.groupsAccepted;
    tally.refusedByClient += outcome.refusedByClient ? 1 : 0;
    return 0;
}
