#pragma once

#include "core/store/batch_import.h"
#include "core/support/paced_steps.h"
#include "ui/app/server_list_model.h"

#include <QDialog>
#include <QStringList>
#include <QTextBlock>
#include <QTimer>

#include <memory>

class AppContext;
class ServerListView;
namespace Ui {
class BatchWindow;
}

// The batch window: server lines typed, pasted or loaded from a file, added by "开始添加".
// Lines are added a slice at a time on the store's thread, one slice after the other with a
// short gap between them, so neither a long batch nor a lock held by another Torvane freezes
// the window; the progress shows beside the buttons.
class BatchWindow : public QDialog {
    Q_OBJECT
public:
    static inline const QString kHint =
        QStringLiteral("批量添加格式如下：一行一个\r\n"
                       "分组名称----服务器名称----服务器IP----用户名----密码----端口----系统----"
                       "备注----开始时间----到期时间----排序");

    BatchWindow(ServerListView* list, AppContext& context, QWidget* parent = nullptr);
    ~BatchWindow() override;

    // "开始添加": trims the text, writes it back, and adds every line as a server.
    void addLines();
    // "从文件导入" with a chosen file: its text replaces the box's, then every line is added,
    // then "从文件导入成功". False when the file could not be read or is far too large.
    bool importFile(const QString& path);
    // Also while a stopped batch waits for its last slice, after the window has closed.
    bool isAdding() const { return adder_ != nullptr || reading_; }
    QString text() const;
    void setText(QString text);

    // Esc and the close button: while lines are being added, asks first; stopping says in the
    // log how many lines were added and how many were left, once the slice under way is done
    // (the window closes at once).
    void reject() override;

Q_SIGNALS:
    void addingFinished();

private:
    void chooseAndImportFile();
    // A slice as the store's thread wrote it, with the list's rows for what it added.
    struct WrittenSlice {
        SlicedLines::Slice slice;
        ListRows rows;
    };

    bool readBoxBlocks();
    void onLinesRead(BatchImport::BoxLines read);
    void startSlice();
    void onSliceWritten(WrittenSlice written);
    void finishAdding();
    void stopAdding();

    std::unique_ptr<Ui::BatchWindow> ui_;
    ServerListView* list_;
    AppContext& context_;
    // Shared with the slice under way on the store's thread, which may outlive the window.
    std::shared_ptr<BatchImport::BatchAdder> adder_;
    QTimer gap_;
    // Work per step of reading the box.
    static constexpr int kReadStepMs = 5;
    // A batch of this many lines frees megabytes of text, which are given back to the system.
    static constexpr qsizetype kLongBatchLines = 10000;

    // From the press until the box's lines are made (read here, cut on the store's thread).
    bool reading_ = false;
    PacedSteps boxReader_{std::chrono::milliseconds(0), this};
    QTextBlock nextBlock_;
    QStringList boxBlocks_;
    bool sliceUnderWay_ = false;
    // The question whether to stop is open: no slice starts meanwhile.
    bool paused_ = false;
    // Stopped while a slice was under way: the batch ends when that slice is back.
    bool stopping_ = false;
    bool announceImport_ = false;
};
