#include "ui/remote/reachability_probe.h"

#include "core/remote/tcping_check.h"
#include "ui/app/server_list_model.h"

ReachabilityProbe::ReachabilityProbe(ServerListModel* model, QObject* parent)
    : QObject(parent), model_(model) {}

void ReachabilityProbe::start(int row) {
    if (row == 0)
        probeAll();
    else
        probeRow(row);
}

// A newer pass covers every row, so an older one still starting probes stops.
void ReachabilityProbe::probeAll() {
    passNext_ = 0;
    passCount_ = model_->rowCount();
    pass_.start([this] { return startNextOfPass(); });
}

// One probe per step; the step after the last one ends the pass.
bool ReachabilityProbe::startNextOfPass() {
    if (passNext_ < passCount_) {
        launch(passNext_++, false);
        return true;
    }
    Q_EMIT passEnded(model_->rowCount());
    return false;
}

void ReachabilityProbe::probeRow(int row) {
    launch(row, true);
}

void ReachabilityProbe::launch(int row, bool endsPass) {
    if (row < 0 || row >= model_->rowCount()) {
        if (endsPass)
            Q_EMIT passEnded(model_->rowCount());
        return;
    }
    const ServerRecord server = model_->server(row);
    const QString id = server.id;
    const QString host = server.ip;
    const QString port = server.port;
    probes_.run(
        this, [host, port] { return TcpingCheck::portAnswers(host, port); },
        [id, host, port, endsPass](ReachabilityProbe* self, bool open) {
            ServerListModel* model = self->model_;
            const int shownAt = model->rowOfServer(id, host, port);
            if (shownAt >= 0) {
                model->setStatus(shownAt, QString());
                model->setStatusImage(shownAt, open ? kOnlineImage : kOfflineImage);
            }
            if (endsPass)
                Q_EMIT self->passEnded(model->rowCount());
        });
}
