#include "core/store/batch_import.h"

#include "core/store/line_formats.h"
#include "core/store/server_editing.h"
#include "core/support/gbk_codec.h"
#include "core/support/log_sink.h"

#include <QStringDecoder>

using namespace Qt::StringLiterals;

namespace BatchImport {

std::optional<BatchServer> parseLine(const QString& line) {
    const QStringList f = ServerLine::fields(line);
    if (f.size() < ServerLine::PanelUrl)
        return std::nullopt;
    BatchServer b;
    ServerRecord& s = b.server;
    s.group = f[ServerLine::Group];
    s.name = f[ServerLine::Name];
    s.ip = f[ServerLine::Address];
    s.user = f[ServerLine::Account];
    s.password = f[ServerLine::Password];
    s.port = f[ServerLine::Port];
    s.system = f[ServerLine::System];
    s.remark = f[ServerLine::Remark];
    s.startTime = f[ServerLine::StartTime];
    s.endTime = f[ServerLine::EndTime];
    s.sort = f[ServerLine::Sort];
    b.withPanelFields = f.size() > ServerLine::PanelUrl;
    if (b.withPanelFields) {
        s.panelUrl = f.value(ServerLine::PanelUrl);
        s.panelUser = f.value(ServerLine::PanelUser);
        s.panelPassword = f.value(ServerLine::PanelPassword);
        s.panelKey = f.value(ServerLine::PanelKey);
    } else {
        s.panelUrl = s.panelUser = s.panelPassword = s.panelKey = u"0"_s;
    }
    return b;
}

LineResult addLine(LocalStore& store, const QString& line) {
    const auto parsed = parseLine(line);
    if (!parsed)
        return {};
    const ServerRecord& s = parsed->server;
    const QString existing = store.serverIdByAddress(s.ip, s.port);
    QStringList log{u"-S_ID "_s + existing};
    if (!existing.isEmpty()) {
        log << u"-"_s + s.ip + u" 添加失败 指定服务器IP已经存在"_s;
        return {Outcome::Exists, {}, log};
    }
    if (!store.insertBatchServer(s, parsed->withPanelFields)) {
        log << u"-"_s + s.ip + u" 添加失败"_s;
        return {Outcome::Failed, {}, log};
    }
    log << u"-"_s + s.ip + u" 添加成功"_s;
    ServerRecord shown = s;
    if (!parsed->withPanelFields)
        shown.panelUrl = shown.panelUser = shown.panelPassword = shown.panelKey = QString();
    return {Outcome::Added, ServerEditing::listCells(shown, u"等待检测"_s), log};
}

QStringList blockLines(const QString& block) {
    return splitFields(block, u"\r\n"_s);
}

BatchAdder::Slice BatchAdder::addSlice(LocalStore& store, std::chrono::milliseconds budget) {
    Slice slice;
    QList<LineResult> results;
    const SliceOutcome outcome = writeSlice(store, budget, [&] {
        results << addLine(store, lines_[next_++]);
        return !isDone();
    });
    if (!outcome.began) {
        LogSink::logLine(outcome.failureMessage());
        slice.written = false;
        return slice;
    }
    slice.written = outcome.committed;
    QStringList log;
    log.reserve(results.size() * 2 + 1);
    for (LineResult& r : results) {
        if (r.outcome == Outcome::Added && !slice.written) {
            r.log.last().replace(u"添加成功"_s, u"添加失败"_s);
            r.outcome = Outcome::Failed;
        }
        log << r.log;
        if (r.outcome == Outcome::Added) {
            slice.addedRows << std::move(r.provisionalRow);
            ++added_;
        }
    }
    if (!slice.written)
        log << outcome.failureMessage();
    LogSink::logLines(log);
    return slice;
}

QString decodeFile(const QByteArray& bytes) {
    QString text;
    if (auto fromMark = QStringDecoder::encodingForData(bytes))
        text = QStringDecoder(*fromMark).decode(bytes);
    else
        text = Gbk::decode(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    const qsizetype zero = text.indexOf(QChar(0));
    if (zero >= 0)
        text.truncate(zero);
    return text;
}

} // namespace BatchImport
