#include "ui/store/server_editor.h"

#include "core/store/local_store.h"
#include "core/store/server_editing.h"
#include "core/store/storable_text.h"
#include "core/store/store_changes.h"
#include "core/support/log_sink.h"
#include "ui/app/prompt.h"
#include "ui/app/server_list_view.h"
#include "ui/remote/reachability_probe.h"
#include "ui/store/server_editor_window.h"

#include <QDateTime>

using namespace Qt::StringLiterals;

ServerEditor::ServerEditor(ServerListView* list, ReachabilityProbe* probe, QWidget* window)
    : QObject(window), list_(list), probe_(probe), window_(window) {}

void ServerEditor::openAddWindow() {
    ServerEditorWindow window(ServerEditorWindow::Mode::Add, window_);
    prepareAddWindow(window);
    connect(&window, &ServerEditorWindow::submitted, this, [&] { addServer(window); });
    window.exec();
}

void ServerEditor::openModifyWindow() {
    ServerEditorWindow window(ServerEditorWindow::Mode::Modify, window_);
    prepareModifyWindow(window);
    connect(&window, &ServerEditorWindow::submitted, this, [&] { saveServer(window); });
    window.exec();
}

void ServerEditor::prepareAddWindow(ServerEditorWindow& window) {
    const auto [start, end] = ServerEditing::defaultRentalTimes(QDateTime::currentDateTime());
    window.setRentalTimes(start, end);
    LocalStore store;
    if (store.open())
        window.setGroups(store.groups().value_or(QList<GroupRecord>()));
}

// A field the store cannot keep is named in a box; nothing is written and the window stays
// open for the user to change it.
bool ServerEditor::refuseUnstorable(ServerEditorWindow& window, const ServerRecord& server) {
    const auto unstorable = StorableText::inServer(server);
    if (unstorable)
        Prompt::inform(&window, unstorable->boxText());
    return unstorable.has_value();
}

void ServerEditor::addServer(ServerEditorWindow& window) {
    ServerRecord server = window.fields();
    if (refuseUnstorable(window, server))
        return;
    LocalStore store;
    if (!store.open()) {
        Prompt::inform(&window, u"添加失败"_s);
        LogSink::logLine(u"-%1 添加失败"_s.arg(server.ip));
        return;
    }
    if (!findServerByAddress(store, server.ip, server.port).isEmpty()) {
        LogSink::logLine(u"-指定服务器IP已经存在 添加失败"_s);
        return;
    }
    if (!window.hasSelectedGroup())
        Prompt::inform(&window, u"请选择服务器分组"_s);
    const auto id = store.insertServer(server);
    if (!id) {
        Prompt::inform(&window, u"添加失败"_s);
        LogSink::logLine(u"-%1 添加失败"_s.arg(server.ip));
        return;
    }
    server.id = QString::number(*id);
    store.close();
    Prompt::inform(&window, u"添加成功"_s);
    LogSink::logLine(u"-%1 添加成功"_s.arg(server.ip));
    const QDateTime now = QDateTime::currentDateTime();
    auto rows = ServerListModel::rowsOf({server}, ServerListView::kWaitingForProbe, now);
    const int row = list_->model()->appendRow(std::move(rows.front()));
    probe_->start(row);
}

void ServerEditor::prepareModifyWindow(ServerEditorWindow& window) {
    const QString id = list_->selectedServer().id;
    LocalStore store;
    if (!store.open()) {
        Prompt::inform(&window, u"连接数据库失败"_s);
        return;
    }
    const auto server = store.loadServer(id);
    if (!server)
        return;
    window.setFields(*server);
    // The server's own group comes first and selected, then every group in creation order.
    window.setGroups(store.groups().value_or(QList<GroupRecord>()), &server->group);
    window.startWhitelistFetch();
}

// Saves to the server the window was opened for: the list may have been reloaded since (the
// refresh timer, a batch delete), so the selection of the moment says nothing.
void ServerEditor::saveServer(ServerEditorWindow& window) {
    const ServerRecord server = window.fields();
    if (refuseUnstorable(window, server))
        return;
    if (!window.hasSelectedGroup())
        Prompt::inform(&window, u"请选择服务器分组"_s);
    LocalStore store;
    const bool saved = store.open() && store.updateServer(server);
    store.close();
    const int row = list_->model()->rowOfId(server.id);
    if (saved && row >= 0) {
        list_->model()->updateServer(row, server, QDateTime::currentDateTime());
        probe_->start(row);
    }
    Prompt::inform(&window, saved ? u"修改成功"_s : u"修改失败"_s);
    window.accept();
}

void ServerEditor::deleteServer() {
    const int row = list_->selectedRow();
    const ServerRecord server = list_->server(row);
    deleteStoredServer(server.id, server.name);
    list_->model()->deleteRow(row);
}

// The server is the one selected when the key was pressed: a reload may refill the list while
// the question is open.
void ServerEditor::confirmAndDeleteServer() {
    const int row = list_->selectedRow();
    if (row < 0 || isDeleting())
        return;
    const ServerRecord server = list_->server(row);
    if (!Prompt::confirm(window_, kDeleteConfirmation, QMessageBox::Ok | QMessageBox::Cancel))
        return;
    deleteStoredServer(server.id, server.name);
    list_->model()->deleteRow(list_->model()->rowOfId(server.id));
}

void ServerEditor::deleteStoredServer(const QString& id, const QString& name) {
    LocalStore store;
    if (!store.open() || !store.deleteServer(id))
        LogSink::logLine(u"-删除失败：%1 %2"_s.arg(name, store.lastError()));
}

void ServerEditor::deleteCheckedServers() {
    if (isDeleting())
        return;
    if (!Prompt::confirm(window_, kDeleteConfirmation, QMessageBox::Ok | QMessageBox::Cancel))
        return;
    pendingDeletes_.clear();
    ServerListModel* model = list_->model();
    for (int row = 0; row < model->rowCount(); ++row)
        if (model->isChecked(row)) {
            const ServerRecord server = model->server(row);
            pendingDeletes_.append({server.id, server.name});
        }
    deletes_.start([this] { return deleteNextChecked(); });
}

// One checked server per step; the list is read again when all are gone.
bool ServerEditor::deleteNextChecked() {
    if (pendingDeletes_.isEmpty()) {
        StoreChanges::report(StoreChanges::Servers);
        return false;
    }
    const auto [id, name] = pendingDeletes_.takeFirst();
    deleteStoredServer(id, name);
    LogSink::logLine(u"-正在删除：%1"_s.arg(name));
    return true;
}
