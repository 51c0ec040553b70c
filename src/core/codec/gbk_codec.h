#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The byte form of text at the program's edges: code page 936 (GBK). Database text columns,
// the import and export files, cloud form bodies and the MD5 inputs all use it.
namespace Gbk {

// Characters that GBK cannot hold become "?", as the Windows ANSI code page does.
QByteArray encode(const QString& text);
QString decode(const QByteArray& bytes);
QString decode(const char* bytes, qsizetype size);

// The characters of `text` that do not come back from encode() then decode() as they were:
// those GBK lacks, and those the converter only approximates. Each appears once, in the
// order of the text; a character of two UTF-16 units is one entry.
QStringList unrepresentable(const QString& text);

// True for a byte that starts a double-byte GBK character.
constexpr bool isLeadByte(char byte) {
    return (static_cast<unsigned char>(byte) & 0x80) != 0;
}

} // namespace Gbk
