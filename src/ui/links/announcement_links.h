#pragma once

#include "core/cloud/cloud_actions.h"
#include "core/links/announcement_loader.h"
#include "core/support/background_jobs.h"

#include <QList>
#include <QObject>

#include <functional>

class LinkLabel;
class LogSink;

// Fills the eight link labels (广告1-广告8) with the rows of AnnouncementLoader: each start
// asks the cloud service on a worker and hands the eight rows to the UI thread as one whole.
// Runs may overlap when the service is slow; the newest started run wins, and an older run
// that answers later is dropped, so a label never mixes two runs.
class AnnouncementLinks : public QObject {
    Q_OBJECT
public:
    // Asks the service; a raised stop (the links going away) ends the request.
    using Fetch = std::function<CloudApi::Reply(const JobStop* stop)>;

    // A request ends within two minutes, so with a start every minute a few runs at most
    // wait at once; their own threads keep them from holding up the other workers.
    static constexpr int kMaxRunningFetches = 4;

    // `labels` in the order 广告1 to 广告8; they show the built-in rows at once. `fetch`
    // asks the service (tests pass one they control).
    AnnouncementLinks(const QList<LinkLabel*>& labels, Fetch fetch, QObject* parent = nullptr);

    // AnnouncementLoader: one run, started at start-up and on every tick of 时钟2. Returns
    // the run's number.
    quint64 start();

Q_SIGNALS:
    // Run `run` has ended: its rows are on the labels, unless a newer run's rows are.
    void runEnded(quint64 run);

private:
    void show(quint64 run, const AnnouncementLoader::LinkRows& rows);

    QList<LinkLabel*> labels_;
    Fetch fetch_;
    BackgroundJobs fetches_{kMaxRunningFetches};
    quint64 startedRuns_ = 0;
    quint64 shownRun_ = 0;
};

// The click handler of 按钮17 "下载最新版": our download page in the browser.
void openDownloadPage(const LogSink& log);
