#include "ui/store/batch_window.h"

#include "core/app_context.h"
#include "core/store/store_actions.h"
#include "core/store/store_changes.h"
#include "core/store/store_queue.h"
#include "core/support/log_sink.h"
#include "platform/platform.h"
#include "ui/app/prompt.h"
#include "ui/app/server_list_view.h"

#include "ui_batch_window.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>

#include <utility>

using namespace Qt::StringLiterals;

BatchWindow::BatchWindow(ServerListView* list, AppContext& context, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::BatchWindow>()), list_(list), context_(context) {
    ui_->setupUi(this);
    setModal(true);
    setFixedSize(size());
    setWindowTitle(QString());
    setText(kHint);
    // The gap between slices, in which another writer of the file (a second Torvane) gets the
    // write lock.
    gap_.setSingleShot(true);
    gap_.setInterval(BatchImport::BatchAdder::kGap);
    connect(&gap_, &QTimer::timeout, this, &BatchWindow::startSlice);
    connect(ui_->按钮1, &QPushButton::clicked, this, &BatchWindow::addLines);
    connect(ui_->按钮2, &QPushButton::clicked, this, &BatchWindow::chooseAndImportFile);
}

BatchWindow::~BatchWindow() = default;

QString BatchWindow::text() const {
    // The box keeps "\n" between lines; server lines are separated by CR LF.
    return ui_->编辑框1->toPlainText().replace(u'\n', u"\r\n"_s);
}

// Taken by value and changed in place: a long batch's text is not copied again on its way in.
void BatchWindow::setText(QString text) {
    ui_->编辑框1->setPlainText(text.replace(u"\r\n"_s, u"\n"_s));
}

// The box is read a few milliseconds at a time, so a box of tens of thousands of lines never
// holds the window up; trimming it and cutting it into lines happen on the store's thread,
// before the batch's first slice. Reading counts as work under way: a close meanwhile ends the
// batch once the lines are back.
void BatchWindow::addLines() {
    if (isAdding())
        return;
    ui_->按钮1->setEnabled(false);
    ui_->按钮2->setEnabled(false);
    ui_->编辑框1->setReadOnly(true);
    reading_ = true;
    sliceUnderWay_ = true;
    boxBlocks_.clear();
    nextBlock_ = ui_->编辑框1->document()->begin();
    boxReader_.start([this] { return readBoxBlocks(); });
}

bool BatchWindow::readBoxBlocks() {
    QElapsedTimer spent;
    spent.start();
    while (nextBlock_.isValid() && spent.elapsed() < kReadStepMs) {
        boxBlocks_ << nextBlock_.text();
        nextBlock_ = nextBlock_.next();
    }
    if (nextBlock_.isValid())
        return true;
    ui_->编辑框1->setReadOnly(false);
    StoreQueue::run(
        this,
        [blocks = std::exchange(boxBlocks_, {})]() mutable {
            return BatchImport::boxLines(std::move(blocks));
        },
        [](BatchWindow* self, BatchImport::BoxLines read) { self->onLinesRead(std::move(read)); });
    return false;
}

void BatchWindow::onLinesRead(BatchImport::BoxLines read) {
    reading_ = false;
    sliceUnderWay_ = false;
    // Writing back an unchanged text would only lay out a long box again.
    if (read.trimmed)
        setText(*std::move(read.trimmed));
    adder_ = std::make_shared<BatchImport::BatchAdder>(std::move(read.lines));
    if (stopping_)
        stopAdding();
    else if (!paused_)
        gap_.start();
}

// One slice: as many lines as fit in BatchAdder::kSlice, in one transaction. Its rows are made
// on the store's thread too, their rentals read at one moment.
void BatchWindow::startSlice() {
    if (!adder_ || paused_ || stopping_)
        return;
    sliceUnderWay_ = true;
    StoreQueue::run(
        this,
        [adder = adder_, path = context_.databasePath(), log = context_.log()] {
            WrittenSlice written;
            written.slice =
                StoreActions::writeSlice(path, *adder, BatchImport::BatchAdder::kSlice, *log);
            written.rows = ServerListModel::rowsOf(std::move(written.slice.added),
                                                   ServerListView::kWaitingForProbe,
                                                   QDateTime::currentDateTime());
            return written;
        },
        [](BatchWindow* self, WrittenSlice written) { self->onSliceWritten(std::move(written)); });
}

// The slice's rows go into the list at once, as provisional rows. The change is reported once,
// when the batch ends: a reload per slice would read the whole file again every few
// milliseconds.
void BatchWindow::onSliceWritten(WrittenSlice written) {
    sliceUnderWay_ = false;
    list_->model()->appendRows(std::move(written.rows));
    const SlicedLines::Slice& slice = written.slice;
    if (stopping_ || !slice.written) {
        // A batch the user stopped needs no box; one the lock stopped does.
        const bool sayBusy = slice.busy && !stopping_;
        stopAdding();
        if (sayBusy)
            Prompt::inform(this, u"批量添加已停止：%1"_s.arg(StoreActions::kBusyReason));
        return;
    }
    ui_->进度标签->setText(u"正在添加 %1 / %2"_s.arg(adder_->processed()).arg(adder_->total()));
    if (adder_->isDone())
        finishAdding();
    else if (!paused_)
        gap_.start();
}

void BatchWindow::finishAdding() {
    gap_.stop();
    if (adder_->added() > 0)
        context_.storeChanges().report(StoreChanges::Servers);
    const bool longBatch = adder_->total() >= kLongBatchLines;
    adder_.reset();
    // A long batch's lines were made on this thread and freed on the store's as they were
    // written. glibc keeps such pages in this thread's arena, where the reload the batch asks
    // for never uses them (16 MB at 50,000 lines); they are given back on the store's thread
    // while the reload reads.
    if (longBatch)
        StoreQueue::pool().start([] { Platform::releaseFreeMemory(); });
    stopping_ = false;
    ui_->进度标签->clear();
    ui_->按钮1->setEnabled(true);
    ui_->按钮2->setEnabled(true);
    if (announceImport_) {
        announceImport_ = false;
        Prompt::inform(this, u"从文件导入成功"_s);
    }
    Q_EMIT addingFinished();
}

// Ends a batch before its last line; the log tells what is in the file and what is not.
void BatchWindow::stopAdding() {
    context_.log()->logLine(u"-批量添加已停止：已添加 %1 行，%2 行未处理"_s.arg(adder_->added())
                                .arg(adder_->total() - adder_->processed()));
    announceImport_ = false;
    finishAdding();
}

void BatchWindow::reject() {
    if (isAdding() && !stopping_) {
        // No slice starts while the question is open; one under way may come back meanwhile.
        gap_.stop();
        paused_ = true;
        const bool stop =
            Prompt::confirm(this, u"正在批量添加服务器，确定要停止吗？未处理的行不会被添加。"_s,
                            QMessageBox::Yes | QMessageBox::No);
        paused_ = false;
        if (!stop) {
            if (isAdding() && !sliceUnderWay_)
                gap_.start();
            return;
        }
        if (sliceUnderWay_)
            stopping_ = true;
        else if (isAdding())
            stopAdding();
    }
    QDialog::reject();
}

void BatchWindow::chooseAndImportFile() {
    const QString path = QFileDialog::getOpenFileName(this, QString(), context_.dataFolder());
    if (!path.isEmpty())
        importFile(path);
}

bool BatchWindow::importFile(const QString& path) {
    if (isAdding())
        return false;
    QFile file(path);
    if (file.size() > BatchImport::kMaxFileBytes) {
        Prompt::inform(this, u"文件太大（超过 8 MB），请选择服务器列表的文本文件"_s);
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        Prompt::inform(this, u"无法读取文件：%1"_s.arg(file.errorString()));
        return false;
    }
    setText(BatchImport::decodeFile(file.readAll()));
    announceImport_ = true;
    addLines();
    return true;
}
