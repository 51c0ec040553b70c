#include "core/support/log_sink.h"

#include "core/support/time_text.h"

using namespace Qt::StringLiterals;

void LogSink::setReceiver(Receiver receiver) {
    QMutexLocker lock(&lock_);
    receiver_ = std::move(receiver);
}

void LogSink::append(const QString& lines) const {
    Receiver receiver;
    {
        QMutexLocker lock(&lock_);
        receiver = receiver_;
    }
    if (receiver)
        receiver(lines);
}

void LogSink::logLine(const QString& message) const {
    append(timeText() + message + u"\r\n"_s);
}

void LogSink::logLines(const QStringList& messages) const {
    if (messages.isEmpty())
        return;
    const QString time = timeText();
    QString text;
    text.reserve(messages.size() * (time.size() + 40));
    for (const QString& message : messages)
        text += time + message + u"\r\n"_s;
    append(text);
}
