#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>

#include <functional>

// Where log lines go. The window connects its log pane here; until then lines go nowhere.
// Callable from any thread: the receiver must bring the line to its own thread.
class LogSink {
public:
    using Receiver = std::function<void(const QString& line)>;

    void setReceiver(Receiver receiver);

    // Appends whole lines as given; callers include the trailing "\r\n" of each.
    void append(const QString& lines) const;

    // timeText() of now, then the message (which begins with "-"), then "\r\n".
    void logLine(const QString& message) const;

    // logLine for each message, with one time text and one delivery for them all (the lines
    // of a batch slice, written together once the slice is committed).
    void logLines(const QStringList& messages) const;

private:
    mutable QMutex lock_;
    Receiver receiver_;
};
