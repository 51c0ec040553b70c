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

void append(const QString& line) {
    Receiver r;
    {
        QMutexLocker lock(&receiverLock);
        r = receiver();
    }
    if (r)
        r(line);
}

void logLine(const QString& message) {
    append(timeText() + message + u"\r\n"_s);
}

} // namespace LogSink
