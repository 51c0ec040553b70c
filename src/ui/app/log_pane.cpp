#include "ui/app/log_pane.h"

#include "core/support/log_sink.h"

#include <QPlainTextEdit>
#include <QPointer>
#include <QTextBlock>
#include <QTextDocument>

using namespace Qt::StringLiterals;

LogPane::LogPane(QPlainTextEdit* edit) : QObject(edit), edit_(edit) {
    connect(edit_, &QPlainTextEdit::textChanged, this, &LogPane::trimWhenFull);
}

void LogPane::append(const QString& lines) {
    // The text widget keeps "\n" between lines; CR LF is the form of the log lines.
    QString text = lines;
    text.replace(u"\r\n"_s, u"\n"_s);
    // Counts line by line what the pane would hold; only what follows the last time it would
    // have emptied itself is inserted.
    int count = shownLineCount();
    bool open = !endsWithLineBreak() && count > 0;
    bool cleared = false;
    qsizetype keepFrom = 0;
    for (qsizetype at = 0; at < text.size();) {
        const qsizetype lineBreak = text.indexOf(u'\n', at);
        const qsizetype end = lineBreak < 0 ? text.size() : lineBreak + 1;
        if (!open)
            ++count;
        open = lineBreak < 0;
        at = end;
        if (count > kMaxLines) {
            count = 0;
            open = false;
            cleared = true;
            keepFrom = end;
        }
    }
    if (cleared)
        edit_->clear();
    if (keepFrom < text.size()) {
        edit_->moveCursor(QTextCursor::End);
        edit_->insertPlainText(keepFrom == 0 ? text : text.mid(keepFrom));
    }
    edit_->ensureCursorVisible();
}

void LogPane::connectLogSink(LogSink& sink) {
    QPointer<LogPane> pane(this);
    sink.setReceiver([pane](const QString& line) {
        if (!pane)
            return;
        QMetaObject::invokeMethod(
            pane.data(),
            [pane, line] {
                if (pane)
                    pane->append(line);
            },
            Qt::QueuedConnection);
    });
}

int LogPane::lineCount(const QString& text) {
    if (text.isEmpty())
        return 0;
    const auto pieces = text.count(u'\n') + 1;
    return int(text.endsWith(u'\n') ? pieces - 1 : pieces);
}

int LogPane::shownLineCount() const {
    const QTextDocument* document = edit_->document();
    if (document->isEmpty())
        return 0;
    const int blocks = document->blockCount();
    return endsWithLineBreak() ? blocks - 1 : blocks;
}

bool LogPane::endsWithLineBreak() const {
    return edit_->document()->lastBlock().length() == 1; // the last block holds no text
}

void LogPane::trimWhenFull() {
    if (shownLineCount() > kMaxLines)
        edit_->clear();
}
