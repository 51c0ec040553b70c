#pragma once

#include "core/store/batch_import.h"
#include "core/support/paced_steps.h"

#include <QDialog>
#include <QStringList>

#include <memory>
#include <optional>

class ServerListView;
namespace Ui {
class BatchWindow;
}

// The batch window: server lines typed, pasted or loaded from a file, added by "开始添加".
// Lines are added a slice at a time between window events, so a long batch never freezes
// the window; the progress shows beside the buttons.
class BatchWindow : public QDialog {
    Q_OBJECT
public:
    static inline const QString kHint =
        QStringLiteral("批量添加格式如下：一行一个\r\n"
                       "分组名称----服务器名称----服务器IP----用户名----密码----端口----系统----"
                       "备注----开始时间----到期时间----排序");

    BatchWindow(ServerListView* list, QWidget* parent = nullptr);
    ~BatchWindow() override;

    // "开始添加": trims the text, writes it back, and adds every line as a server.
    void addLines();
    // "从文件导入" with a chosen file: its text replaces the box's, then every line is added,
    // then "从文件导入成功". False when the file could not be read or is far too large.
    bool importFile(const QString& path);
    bool isAdding() const { return adder_.has_value(); }
    QString text() const;
    void setText(const QString& text);

    // Esc and the close button: while lines are being added, asks first; stopping says in the
    // log how many lines were added and how many were left.
    void reject() override;

Q_SIGNALS:
    void addingFinished();

private:
    void chooseAndImportFile();
    bool addSlice();
    void finishAdding();
    void stopAdding();

    std::unique_ptr<Ui::BatchWindow> ui_;
    ServerListView* list_;
    PacedSteps slices_{BatchImport::BatchAdder::kGap, this};
    std::optional<BatchImport::BatchAdder> adder_;
    bool announceImport_ = false;
};
