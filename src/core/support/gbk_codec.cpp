#include "core/support/gbk_codec.h"

#include <QStringDecoder>
#include <QStringEncoder>

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

} // namespace

namespace Gbk {

QByteArray encode(const QString& text) {
    QStringEncoder& e = encoder();
    QByteArray bytes = e.encode(text);
    e.resetState();
    return bytes;
}

QString decode(const char* bytes, qsizetype size) {
    QStringDecoder& d = decoder();
    QString text = d.decode(QByteArrayView(bytes, size));
    d.resetState();
    return text;
}

QString decode(const QByteArray& bytes) {
    return decode(bytes.constData(), bytes.size());
}

} // namespace Gbk
