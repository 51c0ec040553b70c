#include "core/store/batch_import.h"

#include "core/codec/gbk_codec.h"
#include "core/store/line_formats.h"
#include "core/store/storable_text.h"

#include <QStringDecoder>

using namespace Qt::StringLiterals;

namespace BatchImport {

std::optional<BatchServer> parseLine(const QString& line) {
    const QStringList f = ServerLine::fields(line);
    if (f.size() < ServerLine::PanelUrl)
        return std::nullopt;
    BatchServer b{ServerLine::record(f), f.size() > ServerLine::PanelUrl};
    if (!b.withPanelFields) {
        ServerRecord& s = b.server;
        s.panelUrl = s.panelUser = s.panelPassword = s.panelKey = u"0"_s;
    }
    return b;
}

LineWrite addLine(LocalStore& store, const QString& line) {
    const auto parsed = parseLine(line);
    if (!parsed)
        return {};
    const ServerRecord& s = parsed->server;
    LineWrite write;
    if (const auto unstorable = StorableText::inServer(s)) {
        write.log << u"-%1 添加失败 %2"_s.arg(s.ip, unstorable->describeForLog());
        return write;
    }
    const QString existing = store.serverIdByAddress(s.ip, s.port);
    write.log << u"-S_ID "_s + existing;
    if (!existing.isEmpty()) {
        write.log << u"-"_s + s.ip + u" 添加失败 指定服务器IP已经存在"_s;
        return write;
    }
    write.wrote = store.insertBatchServer(s, parsed->withPanelFields);
    if (!write.wrote) {
        write.log << u"-"_s + s.ip + u" 添加失败"_s;
        return write;
    }
    write.uncommittedForm = u"-%1 添加失败";
    write.subject = s.ip;
    write.log << u"-"_s + s.ip + u" 添加成功"_s;
    write.added = s;
    if (!parsed->withPanelFields)
        write.added->panelUrl = write.added->panelUser = write.added->panelPassword =
            write.added->panelKey = QString();
    return write;
}

QStringList blockLines(const QString& block) {
    return splitFields(block, u"\r\n"_s);
}

BoxLines boxLines(QStringList blocks) {
    // The text is copied a few times on its way to lines; each copy goes once the next is made.
    QString box = blocks.join(u'\n');
    blocks = QStringList();
    for (QChar& c : box) {
        switch (c.unicode()) {
        case 0x00A0:
            c = u' ';
            break;
        case 0x2028:
        case 0x2029:
        case 0xFDD0:
        case 0xFDD1:
            c = u'\n';
            break;
        default:
            break;
        }
    }
    box.replace(u'\n', u"\r\n"_s);
    QString trimmed = trimLineBreaks(box);
    BoxLines result;
    if (trimmed != box)
        result.trimmed = trimmed;
    box = QString();
    result.lines = blockLines(trimmed);
    return result;
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
