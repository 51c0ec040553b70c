#include "ui/app/log_pane.h"

#include "core/support/log_sink.h"

#include <QPlainTextEdit>
#include <QPointer>

using namespace Qt::StringLiterals;

LogPane::LogPane(QPlainTextEdit* edit) : QObject(edit), edit_(edit) {
    connect(edit_, &QPlainTextEdit::textChanged, this, &LogPane::trimWhenFull);
}

void LogPane::append(const QString& line) {
    // The text widget keeps "\n" between lines; CR LF is the form of the log lines.
    QString text = line;
    text.replace(u"\r\n"_s, u"\n"_s);
    edit_->moveCursor(QTextCursor::End);
    edit_->insertPlainText(text);
    edit_->ensureCursorVisible();
}

void LogPane::connectLogSink() {
    QPointer<LogPane> pane(this);
    LogSink::setReceiver([pane](const QString& line) {
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

void LogPane::trimWhenFull() {
    if (lineCount(edit_->toPlainText()) > kMaxLines)
        edit_->clear();
}
