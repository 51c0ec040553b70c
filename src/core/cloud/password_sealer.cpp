#include "core/cloud/password_sealer.h"

#include "core/codec/gbk_codec.h"

#include <QCryptographicHash>

#include <algorithm>

namespace {

constexpr int kSealMask = 6397;
constexpr qsizetype kTagLength = 9;

unsigned char masked(unsigned int byte) {
    return static_cast<unsigned char>((byte ^ kSealMask) & 0xFF);
}

int hexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// The value of the hexadecimal digits in `pair`, other characters skipped; 0 without any.
unsigned int pairValue(QStringView pair) {
    unsigned int value = 0;
    for (const QChar c : pair) {
        const int digit = hexDigit(c);
        if (digit >= 0)
            value = value * 16 + unsigned(digit);
    }
    return value;
}

} // namespace

namespace PasswordSealer {

QString tag(const QString& key) {
    const QByteArray digest =
        QCryptographicHash::hash(Gbk::encode(key), QCryptographicHash::Md5).toHex();
    return QString::fromLatin1(digest.mid(2, kTagLength)).toUpper();
}

QString seal(const QString& plain, const QString& key) {
    QByteArray body;
    for (const char byte : Gbk::encode(plain))
        body += char(masked(static_cast<unsigned char>(byte)));
    return QString::fromLatin1(body.toHex()).toUpper() + tag(key);
}

QString unseal(const QString& sealed, const QString& key) {
    if (sealed.right(kTagLength) != tag(key))
        return {};
    const QStringView body = QStringView(sealed).chopped(std::min(sealed.size(), kTagLength));
    QByteArray bytes;
    for (qsizetype i = 0; i < body.size(); i += 2) {
        const unsigned char byte = masked(pairValue(body.mid(i, 2)));
        if (byte == 0)
            break;
        bytes += char(byte);
    }
    return Gbk::decode(bytes);
}

} // namespace PasswordSealer
