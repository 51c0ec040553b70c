#pragma once

#include "core/remote/launch_request.h"
#include "core/store/records.h"
#include "core/store/store_changes.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace Ui {
class MainWindowForm;
}
class AppContext;
class LogPane;
class ServerListView;
class ReachabilityProbe;
class ServerEditor;
class GroupManager;
class CloudAccountActions;
class CloudSyncActions;
class AnnouncementLinks;

// What the start-up sequence leaves for the rest of the program.
struct StartupState {
    StoredAccount account;
};

// The main window "Torvane-服务器管理工具": the search bar, the server list, the action
// buttons, the log pane, and the three timers (list refresh, announcements, edge docking).
class MainWindow : public QWidget {
    Q_OBJECT
public:
    // The client area of a 1072 x 778 window under the standard Windows frame; controls sit
    // at fixed positions inside it.
    static constexpr QSize kClientSize{1056, 739};
    // The frame around it there (1072 x 778 outside): a screen that cannot hold both gets the
    // same layout inside a scroll area, in a window that fits.
    static constexpr QSize kFrameAllowance{16, 39};
    static constexpr QPoint kPosition{50, 50};
    static constexpr int kRefreshIntervalMs = 360'000;
    static constexpr int kAnnouncementIntervalMs = 60'000;

    // `context` outlives the window. `launcher` starts the session and console programs; by
    // default the platform's own (tests pass one that records what would be started).
    explicit MainWindow(AppContext& context, ProcessLauncher launcher = {},
                        QWidget* parent = nullptr);
    ~MainWindow() override;

    // Start-up, run once the window exists: the carried tools, the database on the store's
    // thread (created from its template when missing, account read,
    // columns migrated), then the cloud connection check, the list, the group filter and the
    // announcements.
    void onCreated();

    // Arms 时钟1 for the next list refresh in 6 minutes.
    void armRefreshTimer();
    // Reloads the server list from the database.
    void refreshList();

    LogPane* logPane() const { return logPane_; }
    ServerListView* serverList() const { return serverList_; }
    ReachabilityProbe* probe() const { return probe_; }
    ServerEditor* serverEditor() const { return serverEditor_; }
    GroupManager* groupManager() const { return groupManager_; }
    CloudAccountActions* cloudAccount() const { return cloudAccount_; }
    CloudSyncActions* cloudSync() const { return cloudSync_; }
    AnnouncementLinks* announcementLinks() const { return announcementLinks_; }
    const StartupState& startupState() const { return startup_; }

private:
    void onDatabaseReady(const StoredAccount& account);
    void setUpControls();
    void fitToScreen();
    void showInScrollArea(QSize room);
    void setUpTimers();
    void connectActions();
    void onSearchModeChanged(const QString& mode);
    void stopTimerAndRefresh();
    void onProbePassEnded(int rowCount);
    void openBatchWindow();
    void setUpKeys();
    void focusSearchBox();
    void connectListNotices();
    void onStoreChanged(StoreChanges::Changes changes);
    void showReloadProgress(int shown, int total);
    void logRentalExpiry();

    // The form's controls under names that say what they do; their object names stay the
    // designer names (tests and the layout find them by those).
    struct Controls;

    AppContext& context_;
    std::unique_ptr<Ui::MainWindowForm> ui_;
    std::unique_ptr<Controls> c_;
    LogPane* logPane_ = nullptr;
    ServerListView* serverList_ = nullptr;
    ReachabilityProbe* probe_ = nullptr;
    ServerEditor* serverEditor_ = nullptr;
    GroupManager* groupManager_ = nullptr;
    CloudAccountActions* cloudAccount_ = nullptr;
    CloudSyncActions* cloudSync_ = nullptr;
    AnnouncementLinks* announcementLinks_ = nullptr;
    StartupState startup_;
    QTimer refreshTimer_{this};      // 时钟1
    QTimer announcementTimer_{this}; // 时钟2
    QTimer dockingTimer_{this};      // 时钟4, the edge docking's slow check
    // When the count line last showed a fill's progress.
    QElapsedTimer progressShown_;
};
