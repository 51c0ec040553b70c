#pragma once

#include "core/store/records.h"
#include "core/store/store_actions.h"
#include "core/support/paced_steps.h"

#include <QObject>
#include <QPointer>
#include <QString>

class AppContext;
class QWidget;
class ReachabilityProbe;
class ServerEditorWindow;
class ServerListView;

// Adding, changing and deleting servers by hand. Each action writes the store on the store's
// thread (StoreQueue), the window showing that it waits, then brings the server list up to
// date: the one row concerned, or a reload. Outcomes appear as message boxes and log lines,
// also when the window was closed meanwhile.
class ServerEditor : public QObject {
    Q_OBJECT
public:
    // Batch deletion pauses after each deleted server, so the log lines appear one by one.
    static constexpr int kDeletePaceMs = 200;
    static inline const QString kDeleteConfirmation = QStringLiteral(
        "确定要删除端数据吗？删除后无法恢复！如果有上传到云端这可以从云端再次下载数据");

    ServerEditor(ServerListView* list, ReachabilityProbe* probe, AppContext& context,
                 QWidget* window);

    // "添加服务器": the add window, which stays open for the next server.
    void openAddWindow();
    // "修改/查看服务器": the selected server in the modify window.
    void openModifyWindow();

    // Each of these starts the store's work and returns; the window waits until it is done
    // (ServerEditorWindow::isWaiting).
    void prepareAddWindow(ServerEditorWindow& window);
    void addServer(ServerEditorWindow& window);
    void prepareModifyWindow(ServerEditorWindow& window);
    void saveServer(ServerEditorWindow& window);
    // "删除服务器": the selected server, without asking.
    void deleteServer();
    // The Delete key: the selected server as "删除服务器" does, after the confirmation of
    // "批量删除", because a key is pressed by mistake far more easily than a menu item is chosen.
    void confirmAndDeleteServer();
    // "批量删除": every checked server, after a confirmation.
    void deleteCheckedServers();
    bool isDeleting() const { return deletes_.isRunning(); }

private:
    bool refuseUnstorable(ServerEditorWindow& window, const ServerRecord& server);
    void onServerAdded(const QPointer<ServerEditorWindow>& window, ServerRecord server,
                       bool groupSelected, const StoreActions::AddedServer& added);
    void onServerSaved(const QPointer<ServerEditorWindow>& window, const ServerRecord& server,
                       const StoreActions::Outcome& saved);
    QWidget* boxParent(ServerEditorWindow* window) const;
    bool deleteNextChecked();
    void deleteStoredServer(const QString& id, const QString& name);
    void logDeleteFailure(const QString& name, const StoreActions::Outcome& deleted);

    ServerListView* list_;
    ReachabilityProbe* probe_;
    AppContext& context_;
    QWidget* window_;
    PacedSteps deletes_{std::chrono::milliseconds(kDeletePaceMs), this};
    QList<QPair<QString, QString>> pendingDeletes_; // id and name of each checked server
    bool deleteUnderWay_ = false;
};
