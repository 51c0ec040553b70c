#pragma once

#include <QString>

#include <functional>

// Where core code sends its log lines. The window connects the log pane here; until then
// lines go nowhere. Callable from any thread: the receiver must bring the line to its own
// thread.
namespace LogSink {

using Receiver = std::function<void(const QString& line)>;

void setReceiver(Receiver receiver);

// Appends a whole line as given; callers include the trailing "\r\n".
void append(const QString& line);

// timeText() of now, then the message (which begins with "-"), then "\r\n".
void logLine(const QString& message);

} // namespace LogSink
