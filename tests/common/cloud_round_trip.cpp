#include "common/cloud_round_trip.h"

#include "core/cloud/cloud_actions.h"
#include "core/cloud/cloud_download.h"
#include "core/cloud/cloud_upload.h"
#include "core/store/line_formats.h"
#include "core/store/storable_text.h"

#include <QStringList>

#include <array>

using namespace Qt::StringLiterals;

namespace CloudRoundTrip {

namespace {

// What values are made of: the texts the line format and the old reply decoding stumbled
// over ("-" and "?" above all), and ordinary ones between them.
const std::array<QString, 22> kCommonPieces{
    u"中文"_s, u"香港"_s, u"-"_s,  u"--"_s, u"?"_s,    u" "_s,  u"'"_s,  u"\""_s,
    u"a"_s,    u"Z9"_s,   u"&"_s,  u"="_s,  u"%20"_s,  u"+"_s,  u"\\"_s, u"False"_s,
    u"True"_s, u"\t"_s,   u"、"_s, u"0"_s,  u"root"_s, u"web"_s};
// Pieces that make the row unfit for the line (the service refuses it) or for the store (the
// client refuses it); rarer, so that most rows go all the way.
const std::array<QString, 4> kRarePieces{u"----"_s, u"\r\n"_s, u"😀"_s, u"½"_s};
constexpr int kPieceRange = 64;
constexpr int kFieldCount = 17;

QString* fieldAt(Rows& rows, int index) {
    ServerRecord& s = rows.server;
    const std::array<QString*, kFieldCount> fields{
        &s.group,         &s.name,         &s.ip,        &s.user,          &s.password,
        &s.port,          &s.system,       &s.remark,    &s.startTime,     &s.endTime,
        &s.sort,          &s.panelUrl,     &s.panelUser, &s.panelPassword, &s.panelKey,
        &rows.group.name, &rows.group.sort};
    return fields[size_t(index)];
}

QString compared(const QString& what, const QString& sent, const QString& back) {
    return sent == back ? QString() : u"%1: sent \"%2\", came back \"%3\""_s.arg(what, sent, back);
}

QString serverDifference(const ServerRecord& sent, const ServerRecord& back) {
    const std::array<std::pair<const char*, QString ServerRecord::*>, 15> fields{{
        {"server_class", &ServerRecord::group},
        {"server_name", &ServerRecord::name},
        {"server_ip", &ServerRecord::ip},
        {"server_user", &ServerRecord::user},
        {"server_pass", &ServerRecord::password},
        {"server_port", &ServerRecord::port},
        {"system", &ServerRecord::system},
        {"remark", &ServerRecord::remark},
        {"start_time", &ServerRecord::startTime},
        {"end_time", &ServerRecord::endTime},
        {"sort", &ServerRecord::sort},
        {"baota_url", &ServerRecord::panelUrl},
        {"baota_user", &ServerRecord::panelUser},
        {"baota_pass", &ServerRecord::panelPassword},
        {"baota_apikey", &ServerRecord::panelKey},
    }};
    for (const auto& [name, member] : fields) {
        const QString difference = compared(QString::fromLatin1(name), sent.*member, back.*member);
        if (!difference.isEmpty())
            return difference;
    }
    return {};
}

QStringList blockLines(const CloudApi::Reply& reply) {
    return splitFields(trimLineBreaks(reply.text), u"\r\n"_s);
}

// A refusal names its reason; anything else that is no success is a broken promise too.
QString refusalProblem(const CloudApi::Reply& reply, const QString& what) {
    if (reply.answered() && reply.text.startsWith(u"False:"_s) && reply.text.size() > 6)
        return {};
    return u"%1 neither stored nor refused with a reason: \"%2\" (failure \"%3\", status %4)"_s
        .arg(what, reply.text, reply.failure)
        .arg(reply.errorStatus);
}

// Uploads with `upAct`, then downloads with `downAct` and takes the one line that must come
// back. The problem found, if any; `line` is set when the upload was accepted and came back.
QString upAndDown(const Exchange& exchange, const CloudApi::Account& account, const QString& what,
                  const QString& upAct, const CloudApi::FormFields& fields, const QString& downAct,
                  bool& accepted, QString& line) {
    const CloudApi::Reply stored = exchange(upAct, CloudApi::accountBody(account, fields));
    accepted = CloudApi::succeeded(stored);
    if (!accepted)
        return refusalProblem(stored, what);
    const CloudApi::Reply down = exchange(downAct, CloudApi::accountBody(account));
    if (!CloudApi::blockAccepted(down))
        return u"%1 download refused: \"%2\""_s.arg(what, down.text);
    const QStringList lines = blockLines(down);
    if (lines.size() != 1)
        return u"one %1 came back as %2 lines: %3"_s.arg(what).arg(lines.size()).arg(down.text);
    line = lines[0];
    return {};
}

QString serverRoundTrip(const Exchange& exchange, const CloudApi::Account& account,
                        const ServerRecord& row, bool& accepted) {
    // Up exactly as "上传到云端" sends a list row: the secret fields sealed.
    const ServerRecord sent = CloudUpload::serverForUpload(row);
    QString line;
    const QString problem = upAndDown(exchange, account, u"server"_s, u"update"_s,
                                      CloudApi::serverFields(sent), u"down"_s, accepted, line);
    if (!problem.isEmpty() || !accepted)
        return problem;
    const auto back = CloudDownload::parseServerLine(line);
    if (!back)
        return u"the server line came back too short: %1"_s.arg(line);
    return serverDifference(row, back->server);
}

QString groupRoundTrip(const Exchange& exchange, const CloudApi::Account& account,
                       const GroupRecord& group, bool& accepted) {
    QString line;
    const QString problem = upAndDown(exchange, account, u"group"_s, u"update_class"_s,
                                      {{u"server_class"_s, group.name}, {u"sort"_s, group.sort}},
                                      u"down_class"_s, accepted, line);
    if (!problem.isEmpty() || !accepted)
        return problem;
    const QStringList fields = GroupLine::fields(line);
    if (fields.size() < 2)
        return u"the group line came back too short: %1"_s.arg(line);
    const QString name = compared(u"group name"_s, group.name, fields[0]);
    return name.isEmpty() ? compared(u"group sort"_s, group.sort, fields[1]) : name;
}

} // namespace

Rows rowsFromBytes(QByteArrayView bytes) {
    Rows rows;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        QString* text = fieldAt(rows, int(static_cast<unsigned char>(bytes[i])) % kFieldCount);
        const int piece = int(static_cast<unsigned char>(bytes[i + 1])) % kPieceRange;
        const int rare = piece - (kPieceRange - int(kRarePieces.size()));
        *text += rare >= 0 ? kRarePieces[size_t(rare)]
                           : kCommonPieces[size_t(piece) % kCommonPieces.size()];
    }
    return rows;
}

Outcome check(const Exchange& exchange, const CloudApi::Account& account, const Rows& rows) {
    Outcome outcome;
    if (StorableText::inServer(rows.server) ||
        StorableText::inGroup(rows.group.name, rows.group.sort)) {
        outcome.refusedByClient = true;
        return outcome;
    }
    if (!CloudApi::succeededUnlessFalse(exchange(u"del_data"_s, CloudApi::accountBody(account)))) {
        outcome.broken = u"the cloud copy could not be emptied"_s;
        return outcome;
    }
    bool accepted = false;
    outcome.broken = serverRoundTrip(exchange, account, rows.server, accepted);
    outcome.serversAccepted = accepted ? 1 : 0;
    if (!outcome.broken.isEmpty())
        return outcome;
    outcome.broken = groupRoundTrip(exchange, account, rows.group, accepted);
    outcome.groupsAccepted = accepted ? 1 : 0;
    return outcome;
}

} // namespace CloudRoundTrip
