#pragma once

#include "core/support/background_jobs.h"

#include <QObject>

class CloudAccountActions;
class ServerListView;
class QWidget;

// The main window's 上传到云端, 从云端下载 and 清空云端. Requests and the merge run as
// background jobs, so the window never waits for the service; their log lines keep their
// order. When the window closes, shutDown() ends the running work and waits for it.
class CloudSyncActions : public QObject {
    Q_OBJECT
public:
    static inline const QString kDownloadRunning =
        QStringLiteral("正在从云端下载数据，请等本次下载结束后再下载");

    CloudSyncActions(QWidget* window, CloudAccountActions* account, ServerListView* list);
    ~CloudSyncActions() override;

    // 按钮1: the question, the account window when not connected, the connection check,
    // then the groups and the rows the list shows now on two workers.
    void upload();
    // 按钮12: groups then servers, merged into the store, each merge reported as a change of
    // the stored data (the group filter and the list are read again).
    void download();
    // 按钮16: the question, then "del_data".
    void clear();

    bool isUploading() const { return uploadBusy_; }
    bool isDownloading() const { return downloadBusy_; }

    // Ends the running uploads and downloads (each stops before its next request or slice)
    // and waits for them. Nothing starts afterwards.
    void shutDown();

Q_SIGNALS:
    void uploadFinished();
    void downloadFinished();
    void clearFinished();

private:
    void startUploadWorkers();
    void onUploadWorkerEnded();

    QWidget* window_;
    CloudAccountActions* account_;
    ServerListView* list_;
    BackgroundJobs jobs_;
    bool uploadBusy_ = false;
    int uploadWorkers_ = 0;
    bool downloadBusy_ = false;
};
