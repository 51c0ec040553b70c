#include "core/store/line_formats.h"

#include "core/codec/gbk_codec.h"

using namespace Qt::StringLiterals;

namespace {

bool separatorAt(const QByteArray& text, qsizetype i, const QByteArray& separator) {
    return QByteArrayView(text).sliced(i).startsWith(separator);
}

bool separatorAt(const QString& text, qsizetype i, const QString& separator) {
    return QStringView(text).sliced(i).startsWith(separator);
}

// The cutting rule, for both text forms; `width` tells how many units the character at a
// position takes.
template <typename Text, typename Width>
QList<Text> cutAt(const Text& text, const Text& separator, Width width) {
    QList<Text> pieces;
    if (text.isEmpty())
        return pieces;
    if (separator.isEmpty())
        return {text};
    qsizetype cut = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        if (separatorAt(text, i, separator)) {
            pieces << text.mid(cut, i - cut);
            i += separator.size();
            cut = i;
        } else {
            i += width(text, i);
        }
    }
    if (cut < text.size())
        pieces << text.mid(cut);
    return pieces;
}

} // namespace

QList<QByteArray> splitFields(const QByteArray& text, const QByteArray& separator) {
    return cutAt(text, separator,
                 [](const QByteArray& t, qsizetype i) { return Gbk::isLeadByte(t[i]) ? 2 : 1; });
}

// Decoded text holds whole characters, so the lead-byte rule holds by itself.
QStringList splitFields(const QString& text, const QString& separator) {
    return cutAt(text, separator, [](const QString&, qsizetype) { return 1; });
}

namespace {

// A string read a character at a time, for trimLineBreaksAhead.
class StringAhead {
public:
    explicit StringAhead(const QString& text) : text_(text) {}

    bool has(qsizetype i) const { return pos_ + i < text_.size(); }
    bool is(qsizetype i, QChar c) const { return has(i) && text_[pos_ + i] == c; }
    QChar charAt(qsizetype i) const { return text_[pos_ + i]; }
    QChar front() const { return charAt(0); }
    void drop(qsizetype n) { pos_ += n; }

private:
    const QString& text_;
    qsizetype pos_ = 0;
};

} // namespace

QString trimLineBreaks(const QString& text) {
    QString result;
    result.reserve(text.size());
    StringAhead ahead(text);
    trimLineBreaksAhead(ahead, [&](QChar c) { result += c; });
    return result;
}

namespace ServerLine {

QString format(const ServerRecord& s) {
    return QStringList{s.group, s.name,     s.ip,        s.user,          s.password,
                       s.port,  s.system,   s.remark,    s.startTime,     s.endTime,
                       s.sort,  s.panelUrl, s.panelUser, s.panelPassword, s.panelKey}
        .join(kSeparator);
}

QStringList fields(const QString& line) {
    return splitFields(line, kSeparator);
}

ServerRecord record(const QStringList& fields) {
    ServerRecord s;
    s.group = fields.value(Group);
    s.name = fields.value(Name);
    s.ip = fields.value(Address);
    s.user = fields.value(Account);
    s.password = fields.value(Password);
    s.port = fields.value(Port);
    s.system = fields.value(System);
    s.remark = fields.value(Remark);
    s.startTime = fields.value(StartTime);
    s.endTime = fields.value(EndTime);
    s.sort = fields.value(Sort);
    s.panelUrl = fields.value(PanelUrl);
    s.panelUser = fields.value(PanelUser);
    s.panelPassword = fields.value(PanelPassword);
    s.panelKey = fields.value(PanelKey);
    return s;
}

} // namespace ServerLine

namespace GroupLine {

QString format(const GroupRecord& group) {
    return group.name + ServerLine::kSeparator + group.sort;
}

QStringList fields(const QString& line) {
    return splitFields(line, ServerLine::kSeparator);
}

} // namespace GroupLine
