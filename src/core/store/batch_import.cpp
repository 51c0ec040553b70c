#include "core/store/batch_import.h"

#include "core/codec/gbk_codec.h"
#include "core/store/line_formats.h"
#include "core/store/storable_text.h"

#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

// How the box gives a character of its whole text: a no-break space as a space, a line or
// paragraph separator (and a frame's mark) as a line break.
QChar boxReading(QChar c) {
    switch (c.unicode()) {
    case 0x00A0:
        return u' ';
    case 0x2028:
    case 0x2029:
    case 0xFDD0:
    case 0xFDD1:
        return u'\n';
    default:
        return c;
    }
}

// A character of the box's whole text, with the block and position it stands at; no block
// for one the reading made (a line break's CR and LF, a no-break space's space).
struct BoxChar {
    QChar c;
    qsizetype block = -1;
    qsizetype pos = 0;
};

// The box's whole text, a character at a time, without making it: the blocks joined by line
// breaks and read as the box gives them, every line break as CR LF. Looks a few characters
// ahead.
class BoxText {
public:
    static constexpr int kAhead = 4;

    explicit BoxText(const QStringList& blocks) : blocks_(blocks) {
        while (count_ < kAhead && read(ahead_[size_t(count_)]))
            ++count_;
    }

    bool has(int i) const { return i < count_; }
    bool is(int i, QChar c) const { return has(i) && ahead_[size_t(i)].c == c; }
    QChar charAt(int i) const { return ahead_[size_t(i)].c; }
    const BoxChar& front() const { return ahead_[0]; }
    void drop(int n) {
        for (int k = 0; k < n && count_ > 0; ++k) {
            std::shift_left(ahead_.begin(), ahead_.begin() + count_, 1);
            --count_;
            if (read(ahead_[size_t(count_)]))
                ++count_;
        }
    }

private:
    bool read(BoxChar& out) {
        if (lf_) {
            lf_ = false;
            out = {u'\n'};
            return true;
        }
        if (block_ >= blocks_.size())
            return false;
        const QString& text = blocks_[block_];
        if (pos_ < text.size()) {
            const QChar c = text[pos_];
            const QChar read = boxReading(c);
            lf_ = read == u'\n';
            out = lf_ ? BoxChar{u'\r'} : read == c ? BoxChar{c, block_, pos_} : BoxChar{read};
            ++pos_;
            return true;
        }
        // The end of a block: a line break before the next one.
        ++block_;
        pos_ = 0;
        if (block_ >= blocks_.size())
            return false;
        lf_ = true;
        out = {u'\r'};
        return true;
    }

    const QStringList& blocks_;
    qsizetype block_ = 0;
    qsizetype pos_ = 0;
    // The LF of a line break whose CR was read.
    bool lf_ = false;
    std::array<BoxChar, kAhead> ahead_;
    int count_ = 0;
};

// Cuts characters of the box's text into lines at each CR LF. A line that is a block's text
// as it stands is that block's string, shared rather than copied: a long batch's lines cost
// nothing beyond its blocks.
class LineCutter {
public:
    explicit LineCutter(const QStringList& blocks) : blocks_(blocks) {}

    void add(const BoxChar& c) {
        if (cr_) {
            const BoxChar cr = *std::exchange(cr_, std::nullopt);
            if (c.c == u'\n') {
                endLine();
                return;
            }
            append(cr);
        }
        if (c.c == u'\r')
            cr_ = c;
        else
            append(c);
    }

    // The lines; a last line without characters is none.
    QStringList finish() {
        if (cr_)
            append(*std::exchange(cr_, std::nullopt));
        if (copied_ || length_ > 0)
            endLine();
        return std::move(lines_);
    }

private:
    void append(const BoxChar& c) {
        if (!copied_) {
            if (length_ == 0 && c.block >= 0) {
                block_ = c.block;
                start_ = c.pos;
                length_ = 1;
                return;
            }
            if (c.block == block_ && c.block >= 0 && c.pos == start_ + length_) {
                ++length_;
                return;
            }
            text_ = length_ > 0 ? blocks_[block_].mid(start_, length_) : QString();
            copied_ = true;
        }
        text_ += c.c;
    }

    void endLine() {
        if (copied_)
            lines_ << std::exchange(text_, QString());
        else if (length_ == 0)
            lines_ << QString();
        else if (start_ == 0 && length_ == blocks_[block_].size())
            lines_ << blocks_[block_];
        else
            lines_ << blocks_[block_].mid(start_, length_);
        copied_ = false;
        length_ = 0;
    }

    const QStringList& blocks_;
    QStringList lines_;
    // The line so far: a stretch of one block while it is one, else its own text.
    qsizetype block_ = -1;
    qsizetype start_ = 0;
    qsizetype length_ = 0;
    bool copied_ = false;
    QString text_;
    // A CR that ends the line if an LF follows.
    std::optional<BoxChar> cr_;
};

} // namespace

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

// The box's text trimmed as trimLineBreaks trims it and cut at CR LF as blockLines cuts it,
// read a character at a time instead of made whole and copied at each step.
BoxLines boxLines(QStringList blocks) {
    BoxText text(blocks);
    LineCutter cutter(blocks);
    const bool trimmed = trimLineBreaksAhead(text, [&](const BoxChar& c) { cutter.add(c); });
    BoxLines result;
    result.lines = cutter.finish();
    // The lines hold no CR LF and the trimmed text none at its end: joined, they are that text.
    if (trimmed)
        result.trimmed = result.lines.join(u"\r\n"_s);
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
