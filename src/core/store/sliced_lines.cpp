#include "core/store/sliced_lines.h"

#include "core/store/repeated_texts.h"
#include "core/support/log_sink.h"

#include <utility>

namespace {

constexpr std::array<QString ServerRecord::*, SlicedLines::kRecordFields> kFields = {
    &ServerRecord::id,       &ServerRecord::ip,        &ServerRecord::user,
    &ServerRecord::password, &ServerRecord::port,      &ServerRecord::sort,
    &ServerRecord::group,    &ServerRecord::remark,    &ServerRecord::startTime,
    &ServerRecord::endTime,  &ServerRecord::name,      &ServerRecord::system,
    &ServerRecord::panelUrl, &ServerRecord::panelUser, &ServerRecord::panelPassword,
    &ServerRecord::panelKey};
static_assert(sizeof(ServerRecord) == SlicedLines::kRecordFields * sizeof(QString),
              "every field of ServerRecord is in kFields");

} // namespace

// The servers a long batch adds stay in the list until its next reload, each field cut from
// its line on its own: a field's text equal to one an earlier server held takes that string,
// so 50,000 rows hold their group, account, port, dates ... once rather than once per row.
void SlicedLines::shareRepeatedTexts(ServerRecord& server) {
    for (std::size_t f = 0; f < kFields.size(); ++f) {
        QString& text = server.*kFields[f];
        if (text.isEmpty() || text.size() > RepeatedTexts::kMaxLength)
            continue;
        QSet<QString>& known = repeatedTexts_[f];
        if (const auto found = known.constFind(text); found != known.cend())
            text = *found;
        else if (known.size() < RepeatedTexts::kPerColumn)
            known.insert(text);
    }
}

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
        if (line.wrote && slice.written && line.added) {
            shareRepeatedTexts(*line.added);
            slice.added << std::move(*line.added);
        }
    }
    added_ += slice.added.size();
    if (!slice.written)
        messages << outcome.failureMessage();
    log.logLines(messages);
    return slice;
}
