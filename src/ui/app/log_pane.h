#pragma once

#include <QObject>
#include <QString>

class LogSink;
class QPlainTextEdit;

// The log pane 编辑框1. Lines are appended at the end and scrolled into view; when the pane
// holds more than 30 lines it empties itself, so the 31st line clears it.
class LogPane : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 30;

    explicit LogPane(QPlainTextEdit* edit);

    // Appends whole lines; callers include the trailing "\r\n" of each. Each line counts as
    // if appended on its own, so the pane empties itself whenever a line takes it past
    // kMaxLines. Costs the length of the lines, never the length of the pane. UI thread only.
    void append(const QString& lines);

    // Routes the lines logged to `sink` (from any thread) into this pane.
    void connectLogSink(LogSink& sink);

    // Lines of a pane text: pieces between line breaks, a final empty piece not counted.
    static int lineCount(const QString& text);

private:
    void trimWhenFull();
    // lineCount() of the pane's text, from its blocks rather than its text.
    int shownLineCount() const;
    bool endsWithLineBreak() const;

    QPlainTextEdit* edit_;
};
