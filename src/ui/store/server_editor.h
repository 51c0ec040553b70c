#pragma once

#include <QObject>
#include <QTimer>

class QWidget;
class ReachabilityProbe;
class ServerEditorWindow;
class ServerListView;

// Adding, changing and deleting servers by hand. Each action writes the store, then brings
// the server list up to date: the one row concerned, or a reload. Outcomes appear as message
// boxes and log lines.
class ServerEditor : public QObject {
    Q_OBJECT
public:
    // Batch deletion pauses after each deleted server, so the log lines appear one by one.
    static constexpr int kDeletePaceMs = 200;

    ServerEditor(ServerListView* list, ReachabilityProbe* probe, QWidget* window);

    // "添加服务器": the add window, which stays open for the next server.
    void openAddWindow();
    // "修改/查看服务器": the selected server in the modify window.
    void openModifyWindow();

    void prepareAddWindow(ServerEditorWindow& window);
    void addServer(ServerEditorWindow& window);
    void prepareModifyWindow(ServerEditorWindow& window);
    void saveServer(ServerEditorWindow& window);
    // "删除服务器": the selected server, without asking.
    void deleteServer();
    // "批量删除": every checked server, after a confirmation.
    void deleteCheckedServers();
    bool isDeleting() const { return deleteTimer_.isActive(); }

private:
    void deleteNextChecked();
    void deleteStoredServer(const QString& id, const QString& name);

    ServerListView* list_;
    ReachabilityProbe* probe_;
    QWidget* window_;
    QTimer deleteTimer_{this};
    QList<QPair<QString, QString>> pendingDeletes_; // id and name of each checked server
};
