#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Where core code sends its log lines. The window connects the log pane here; until then
// lines go nowhere. Callable from any thread: the receiver must bring the line to its own
// thread.
namespace LogSink {

using Receiver = std::function<void(const QString& line)>;

void setReceiver(Receiver receiver);

// Appends whole lines as given; callers include the trailing "\r\n" of each.
void append(const QString& lines);

// timeText() of now, then the message (which begins with "-"), then "\r\n".
void logLine(const QString& message);

// logLine for each message, with one time text and one delivery for them all (the lines of
// a batch slice, written together once the slice is committed).
void logLines(const QStringList& messages);

} // namespace LogSink
