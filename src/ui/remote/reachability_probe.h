#pragma once

#include "core/support/background_jobs.h"
#include "core/support/paced_steps.h"

#include <QObject>

class ServerListModel;

// The green and grey dots of the 状态 column. A pass starts one tcping probe per row, 100 ms
// apart, without waiting for them; each result lands on the row of the same server (found by
// its id, address and port), wherever a refill has moved it, and is dropped when that server
// is no longer listed.
class ReachabilityProbe : public QObject {
    Q_OBJECT
public:
    static constexpr int kStartPaceMs = 100;
    // tcping gives up after 2 s, so at ten starts a second about twenty run at once; the
    // bound only matters when probes hang.
    static constexpr int kMaxRunningProbes = 32;
    static constexpr int kOnlineImage = 0;
    static constexpr int kOfflineImage = 1;

    explicit ReachabilityProbe(ServerListModel* model, QObject* parent = nullptr);

    // 0: a pass over every row present now (so row 0 alone cannot be asked for); any other
    // number: that row alone.
    void start(int row);
    void probeAll();
    void probeRow(int row);

Q_SIGNALS:
    // A pass has started all its probes, or a single row's probe has ended.
    void passEnded(int rowCount);

private:
    void launch(int row, bool endsPass);
    bool startNextOfPass();

    ServerListModel* model_;
    BackgroundJobs probes_{kMaxRunningProbes};
    PacedSteps pass_{std::chrono::milliseconds(kStartPaceMs), this};
    int passNext_ = 0;
    int passCount_ = 0;
};
