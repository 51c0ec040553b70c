#include "core/support/log_sink.h"

#include "core/support/time_text.h"

#include <QMutex>

using namespace Qt::StringLiterals;

namespace {

QMutex receiverLock;
LogSink::Receiver& receiver() {
    static LogSink::Receiver instance;
    return instance;
}

} // namespace

namespace LogSink {

void setReceiver(Receiver r) {
    QMutexLocker lock(&receiverLock);
    receiver() = std::move(r);
}

void append(const QString& lines) {
    Receiver r;
    {
        QMutexLocker lock(&receiverLock);
        r = receiver();
    }
    if (r)
        r(lines);
}

void logLine(const QString& message) {
    append(timeText() + message + u"\r\n"_s);
}

void logLines(const QStringList& messages) {
    if (messages.isEmpty())
        return;
    const QString time = timeText();
    QString text;
    text.reserve(messages.size() * (time.size() + 40));
    for (const QString& message : messages)
        text += time + message + u"\r\n"_s;
    append(text);
}

} // namespace LogSink
