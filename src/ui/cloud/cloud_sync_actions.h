#pragma once

#include "core/cloud/cloud_upload.h"
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

    // 按钮1: the question (with the number of rows when the list is filtered), the account
    // window when not connected, the connection check, then the groups and the rows the list
    // showed when the question was answered, on two workers. Refused while a clearing runs.
    void upload();
    // 按钮12: groups then servers, merged into the store, each merge reported as a change of
    // the stored data (the group filter and the list are read again).
    void download();
    // 按钮16: the question, then "del_data". Refused while an upload runs.
    void clear();

    bool isUploading() const { return uploadBusy_; }
    bool isDownloading() const { return downloadBusy_; }
    bool isClearing() const { return clearBusy_; }

    // Ends the running uploads and downloads (each stops before its next request or slice)
    // and waits for them. Nothing starts afterwards.
    void shutDown();

Q_SIGNALS:
    void uploadFinished();
    void downloadFinished();
    void clearFinished();

private:
    void startUploadWorkers(QList<ServerRecord> servers);
    void onUploadWorkerEnded();

    QWidget* window_;
    CloudAccountActions* account_;
    ServerListView* list_;
    BackgroundJobs jobs_;
    bool uploadBusy_ = false;
    int uploadWorkers_ = 0;
    CloudUpload::Tally uploadedGroups_;
    CloudUpload::Tally uploadedServers_;
    bool downloadBusy_ = false;
    bool clearBusy_ = false;
};
