#include "core/store/sliced_lines.h"

#include "core/support/log_sink.h"

#include <utility>

SlicedLines::Slice SlicedLines::nextSlice(LocalStore& store, std::chrono::milliseconds budget,
                                          const LogSink& log) {
    Slice slice;
    QList<LineWrite> lines;
    // A line's text is let go once written: a long list's lines are megabytes.
    const SliceOutcome outcome = writeSlice(store, budget, [&] {
        lines << write_(store, std::exchange(lines_[next_++], QString()));
        return !isDone();
    });
    if (!outcome.began) {
        log.logLine(outcome.failureMessage());
        slice.written = false;
        slice.busy = outcome.busy;
        return slice;
    }
    slice.written = outcome.committed;
    QStringList messages;
    messages.reserve(lines.size() * 2 + 1);
    for (LineWrite& line : lines) {
        if (line.wrote && !slice.written)
            line.log.last() = line.uncommittedMessage();
        messages << line.log;
        if (line.wrote && slice.written && line.added)
            slice.added << std::move(*line.added);
    }
    added_ += slice.added.size();
    if (!slice.written)
        messages << outcome.failureMessage();
    log.logLines(messages);
    return slice;
}
