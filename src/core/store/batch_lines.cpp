#include "core/store/batch_lines.h"

#include "core/store/data_folder.h"
#include "core/store/line_formats.h"
#include "core/store/server_editing.h"
#include "core/support/gbk_codec.h"
#include "core/support/log_sink.h"

#include <QSaveFile>
#include <QStringDecoder>

#include <algorithm>

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
    if (!findServerByAddress(store, s.ip, s.port).isEmpty()) {
        LogSink::logLine(u"-%1 添加失败 指定服务器IP已经存在"_s.arg(s.ip));
        return {Outcome::Exists, {}};
    }
    if (!store.insertBatchServer(s, parsed->withPanelFields)) {
        LogSink::logLine(u"-%1 添加失败"_s.arg(s.ip));
        return {Outcome::Failed, {}};
    }
    LogSink::logLine(u"-%1 添加成功"_s.arg(s.ip));
    ServerRecord shown = s;
    if (!parsed->withPanelFields)
        shown.panelUrl = shown.panelUser = shown.panelPassword = shown.panelKey = QString();
    return {Outcome::Added, ServerEditing::listCells(shown, u"等待检测"_s)};
}

QStringList blockLines(const QString& block) {
    return splitFields(block, u"\r\n"_s);
}

namespace {

bool isUtf8WithNonAscii(const QByteArray& bytes) {
    const bool nonAscii =
        std::any_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) != 0; });
    if (!nonAscii)
        return false;
    QStringDecoder strict(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = strict.decode(bytes);
    return !strict.hasError();
}

} // namespace

QString decodeFile(const QByteArray& bytes) {
    QString text;
    if (auto fromMark = QStringDecoder::encodingForData(bytes)) {
        text = QStringDecoder(*fromMark).decode(bytes);
    } else if (isUtf8WithNonAscii(bytes)) {
        text = QString::fromUtf8(bytes);
    } else {
        text = Gbk::decode(bytes);
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    const qsizetype zero = text.indexOf(QChar(0));
    if (zero >= 0)
        text.truncate(zero);
    return text;
}

} // namespace BatchImport

namespace BatchExport {

QString exportText(const QList<ListCells>& rows) {
    QString text;
    for (const ListCells& c : rows) {
        text += u"\r\n"_s;
        for (int column :
             {ListColumn::Group, ListColumn::Name, ListColumn::Address, ListColumn::User,
              ListColumn::Password, ListColumn::Port, ListColumn::System, ListColumn::Remark,
              ListColumn::StartTime, ListColumn::EndTime, ListColumn::Sort})
            text += c[column] + ServerLine::kSeparator;
        text += u"0----0----0----0----"_s;
    }
    return trimLineBreaks(text);
}

bool writeExportFile(const QString& text, QString* error) {
    QSaveFile file(DataFolder::file(kFileName));
    const bool written =
        file.open(QIODevice::WriteOnly) && file.write(Gbk::encode(text)) >= 0 && file.commit();
    if (!written && error)
        *error = file.errorString();
    return written;
}

} // namespace BatchExport
