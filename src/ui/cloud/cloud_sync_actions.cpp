#include "ui/cloud/cloud_sync_actions.h"

#include "core/app_context.h"
#include "core/cloud/cloud_download.h"
#include "core/cloud/cloud_upload.h"
#include "core/support/log_sink.h"
#include "ui/app/prompt.h"
#include "ui/app/server_list_view.h"
#include "ui/cloud/cloud_account_actions.h"

#include <QPointer>

using namespace Qt::StringLiterals;

namespace {

// Two upload workers side by side, and a download or clearing beside them.
constexpr int kWorkers = 4;

} // namespace

CloudSyncActions::CloudSyncActions(QWidget* window, CloudAccountActions* account,
                                   ServerListView* list)
    : QObject(window), window_(window), account_(account), list_(list), jobs_(kWorkers) {}

CloudSyncActions::~CloudSyncActions() {
    shutDown();
}

void CloudSyncActions::shutDown() {
    jobs_.shutDown();
}

void CloudSyncActions::upload() {
    if (uploadBusy_ || clearBusy_) {
        Prompt::inform(window_, uploadBusy_ ? CloudUpload::kAlreadyRunning
                                            : CloudUpload::kUploadWhileClearing);
        return;
    }
    // The rows asked about are the rows sent: a refill, sort or search from now on changes
    // nothing that goes up.
    QList<ServerRecord> servers = list_->model()->servers();
    const QString question = CloudUpload::confirmText(list_->showsSearchResult(), servers.size());
    if (!Prompt::confirm(window_, question, QMessageBox::Yes | QMessageBox::No))
        return;
    if (account_->account().state() == CloudAccount::State::NotConnected) {
        account_->openWindow(CloudAccount::Origin::Upload);
        return;
    }
    uploadBusy_ = true;
    QPointer<CloudSyncActions> self(this);
    account_->checkConnection([self, servers = std::move(servers)](bool connected) mutable {
        if (!self || self->jobs_.stop().isRaised())
            return;
        if (!connected) {
            self->uploadBusy_ = false;
            Prompt::inform(self->window_, CloudUpload::kConnectionFailed);
            Q_EMIT self->uploadFinished();
            return;
        }
        self->startUploadWorkers(std::move(servers));
    });
}

void CloudSyncActions::startUploadWorkers(QList<ServerRecord> servers) {
    const AppContext* context = &account_->context();
    context->log()->logLine(u"-准备开始上传数据到云端"_s);
    const CloudAccount* account = &account_->account();
    JobStop* stop = &jobs_.stop();
    uploadWorkers_ = 2;
    uploadedGroups_ = {};
    uploadedServers_ = {};
    jobs_.run(
        this,
        [context, account, stop] { return CloudUpload::uploadGroups(*context, *account, *stop); },
        [](CloudSyncActions* self, const CloudUpload::Tally& tally) {
            self->uploadedGroups_ = tally;
            self->onUploadWorkerEnded();
        });
    jobs_.run(
        this,
        [context, account, stop, servers = std::move(servers)] {
            return CloudUpload::uploadServers(*context, *account, servers, *stop);
        },
        [](CloudSyncActions* self, const CloudUpload::Tally& tally) {
            self->uploadedServers_ = tally;
            self->onUploadWorkerEnded();
        });
}

void CloudSyncActions::onUploadWorkerEnded() {
    if (--uploadWorkers_ > 0)
        return;
    uploadBusy_ = false;
    // Workers ended by a shut-down have not finished the upload.
    if (!jobs_.stop().isRaised())
        account_->context().log()->logLine(
            CloudUpload::finishedLine(uploadedServers_, uploadedGroups_));
    Q_EMIT uploadFinished();
}

void CloudSyncActions::download() {
    if (downloadBusy_) {
        Prompt::inform(window_, kDownloadRunning);
        return;
    }
    if (account_->account().state() == CloudAccount::State::NotConnected) {
        account_->openWindow(CloudAccount::Origin::Download);
        return;
    }
    downloadBusy_ = true;
    const AppContext* context = &account_->context();
    const CloudAccount* account = &account_->account();
    JobStop* stop = &jobs_.stop();
    // Each committed slice's servers show at once, made into rows on the merging worker; the
    // reload at the end replaces them.
    auto show = BackgroundJobs::progressTo<std::shared_ptr<ListRows>>(
        list_->model(), [](ServerListModel* model, const std::shared_ptr<ListRows>& rows) {
            model->appendRows(std::move(*rows));
        });
    CloudDownload::ServersAdded showServers = [show](const QList<ServerRecord>& servers) {
        show(std::make_shared<ListRows>(
            ServerListModel::rowsOf(servers, QString(), QDateTime::currentDateTime())));
    };
    jobs_.run(
        this,
        [context, account, stop, showServers = std::move(showServers)] {
            CloudDownload::downloadGroups(*context, *account, *stop);
            if (!stop->isRaised())
                CloudDownload::downloadServers(*context, *account, *stop, showServers);
            return true;
        },
        [](CloudSyncActions* self, bool) {
            self->downloadBusy_ = false;
            Q_EMIT self->downloadFinished();
        });
}

void CloudSyncActions::clear() {
    if (uploadBusy_) {
        Prompt::inform(window_, CloudUpload::kClearWhileUploading);
        return;
    }
    if (!Prompt::confirm(window_, CloudClear::kConfirmText, QMessageBox::Ok | QMessageBox::Cancel))
        return;
    clearBusy_ = true;
    jobs_.run(
        this,
        [context = &account_->context(), account = account_->account().account(),
         stop = &jobs_.stop()] { return CloudClear::clearCloudCopy(*context, account, stop); },
        [](CloudSyncActions* self, bool) {
            self->clearBusy_ = false;
            Q_EMIT self->clearFinished();
        });
}
