#include "core/codec/gbk_codec.h"

#include <algorithm>

#ifdef Q_OS_WIN
#include "platform/windows/win32/code_page.h"
#else
#include <QStringDecoder>
#include <QStringEncoder>
#endif

#ifdef Q_OS_WIN

// Windows converts code page 936 itself; Qt there has no GBK codec without ICU.
namespace {

// GBK holds no character beyond the Basic Multilingual Plane. Windows would turn each half of
// such a character into a "?" of its own; it becomes one "?", as a character does elsewhere.
std::wstring oneUnitPerCharacter(const QString& text) {
    std::wstring units;
    units.reserve(std::size_t(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() &&
            text.at(i + 1).isLowSurrogate()) {
            units.push_back(L'?');
            ++i;
        } else {
            units.push_back(wchar_t(text.at(i).unicode()));
        }
    }
    return units;
}

QByteArray encodeCodePage(const QString& text) {
    const std::string bytes = Win32::toCodePage(oneUnitPerCharacter(text), Win32::kGbkCodePage);
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

QString decodeCodePage(const char* bytes, qsizetype size) {
    return QString::fromStdWString(
        Win32::fromCodePage(std::string_view(bytes, std::size_t(size)), Win32::kGbkCodePage));
}

} // namespace

#else // Qt's GBK codec (ICU)

namespace {

// Opening an ICU converter is far dearer than converting a short cell, so each thread keeps
// one encoder and one decoder. GBK carries no state between characters; resetting after each
// call only clears the error flag.
QStringEncoder& encoder() {
    thread_local QStringEncoder instance("GBK");
    return instance;
}

QStringDecoder& decoder() {
    thread_local QStringDecoder instance("GBK");
    return instance;
}

QByteArray encodeCodePage(const QString& text) {
    QStringEncoder& e = encoder();
    QByteArray bytes = e.encode(text);
    e.resetState();
    return bytes;
}

QString decodeCodePage(const char* bytes, qsizetype size) {
    QStringDecoder& d = decoder();
    QString text = d.decode(QByteArrayView(bytes, size));
    d.resetState();
    return text;
}

} // namespace

#endif

namespace {

bool isAscii(QStringView text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

bool isAscii(const char* bytes, qsizetype size) {
    return std::all_of(bytes, bytes + size, [](char b) { return !Gbk::isLeadByte(b); });
}

} // namespace

// GBK keeps ASCII as it is, one byte per character; most cells (addresses, ports, accounts,
// times) are ASCII and skip the converter.
QByteArray Gbk::encode(const QString& text) {
    if (isAscii(text))
        return text.toLatin1();
    return encodeCodePage(text);
}

QString Gbk::decode(const char* bytes, qsizetype size) {
    if (isAscii(bytes, size))
        return QString::fromLatin1(bytes, size);
    return decodeCodePage(bytes, size);
}

QString Gbk::decode(const QByteArray& bytes) {
    return decode(bytes.constData(), bytes.size());
}

// Whole texts nearly always survive, and one conversion tells; only then is each character
// tried on its own.
QStringList Gbk::unrepresentable(const QString& text) {
    QStringList found;
    if (isAscii(text) || decode(encode(text)) == text)
        return found;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype width = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString character = text.mid(i, width);
        i += width;
        if (!isAscii(character) && decode(encode(character)) != character &&
            !found.contains(character))
            found << character;
    }
    return found;
}
