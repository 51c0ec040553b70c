#pragma once

#include <QString>
#include <QStringList>

namespace CommandRunner {

// Runs `program` with `arguments` (no shell: an argument is never read as a command), without
// a window, and returns everything it wrote to standard output and standard error in the
// order read. Returns when the program has ended; the empty text when it cannot start. A zero
// byte ends the text of the chunk it arrives in.
QString run(const QString& program, const QStringList& arguments);

} // namespace CommandRunner
