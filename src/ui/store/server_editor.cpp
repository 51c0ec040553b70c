#include "ui/store/server_editor.h"

#include "core/app_context.h"
#include "core/store/local_store.h"
#include "core/store/server_editing.h"
#include "core/store/storable_text.h"
#include "core/store/store_changes.h"
#include "core/store/store_queue.h"
#include "core/support/log_sink.h"
#include "ui/app/prompt.h"
#include "ui/app/server_list_view.h"
#include "ui/remote/reachability_probe.h"
#include "ui/store/server_editor_window.h"

#include <QDateTime>

using namespace Qt::StringLiterals;

ServerEditor::ServerEditor(ServerListView* list, ReachabilityProbe* probe, AppContext& context,
                           QWidget* window)
    : QObject(window), list_(list), probe_(probe), context_(context), window_(window) {}

void ServerEditor::openAddWindow() {
    ServerEditorWindow window(ServerEditorWindow::Mode::Add, context_, window_);
    prepareAddWindow(window);
    connect(&window, &ServerEditorWindow::submitted, this, [&] { addServer(window); });
    window.exec();
}

void ServerEditor::openModifyWindow() {
    ServerEditorWindow window(ServerEditorWindow::Mode::Modify, context_, window_);
    prepareModifyWindow(window);
    connect(&window, &ServerEditorWindow::submitted, this, [&] { saveServer(window); });
    window.exec();
}

void ServerEditor::prepareAddWindow(ServerEditorWindow& window) {
    const auto [start, end] = ServerEditing::defaultRentalTimes(QDateTime::currentDateTime());
    window.setRentalTimes(start, end);
    window.showGroupsLoading();
    window.setWaiting(true);
    StoreQueue::run(
        &window, [path = context_.databasePath()] { return StoreActions::readGroups(path); },
        [](ServerEditorWindow* target, const StoreActions::Groups& read) {
            target->setGroups(read.groups);
            target->setWaiting(false);
            if (read.outcome.busy)
                Prompt::inform(target, StoreActions::failureText(u"读取分组失败"_s, read.outcome));
        });
}

// A field the store cannot keep is named in a box; nothing is written and the window stays
// open for the user to change it.
bool ServerEditor::refuseUnstorable(ServerEditorWindow& window, const ServerRecord& server) {
    const auto unstorable = StorableText::inServer(server);
    if (unstorable)
        Prompt::inform(&window, unstorable->boxText());
    return unstorable.has_value();
}

QWidget* ServerEditor::boxParent(ServerEditorWindow* window) const {
    return window ? static_cast<QWidget*>(window) : window_;
}

void ServerEditor::addServer(ServerEditorWindow& window) {
    const ServerRecord server = window.fields();
    if (refuseUnstorable(window, server))
        return;
    const bool groupSelected = window.hasSelectedGroup();
    window.setWaiting(true);
    StoreQueue::run(
        this,
        [path = context_.databasePath(), log = context_.log(), server] {
            return StoreActions::addServer(path, server, *log);
        },
        [target = QPointer(&window), server,
         groupSelected](ServerEditor* self, const StoreActions::AddedServer& added) {
            self->onServerAdded(target, server, groupSelected, added);
        });
}

// The window may have been closed while the store worked: the boxes then stand over the main
// window, and the list still gets the new server.
void ServerEditor::onServerAdded(const QPointer<ServerEditorWindow>& window, ServerRecord server,
                                 bool groupSelected, const StoreActions::AddedServer& added) {
    if (window)
        window->setWaiting(false);
    if (added.duplicate) {
        context_.log()->logLine(u"-指定服务器IP已经存在 添加失败"_s);
        return;
    }
    QWidget* parent = boxParent(window);
    if (!groupSelected)
        Prompt::inform(parent, u"请选择服务器分组"_s);
    if (!added.outcome.done) {
        const QString failed = StoreActions::failureText(u"添加失败"_s, added.outcome);
        Prompt::inform(parent, failed);
        context_.log()->logLine(u"-%1 %2"_s.arg(server.ip, failed));
        return;
    }
    server.id = QString::number(added.id);
    Prompt::inform(parent, u"添加成功"_s);
    context_.log()->logLine(u"-%1 添加成功"_s.arg(server.ip));
    const QDateTime now = QDateTime::currentDateTime();
    auto rows = ServerListModel::rowsOf({server}, ServerListView::kWaitingForProbe, now);
    const int row = list_->model()->appendRow(std::move(rows.front()));
    probe_->start(row);
}

void ServerEditor::prepareModifyWindow(ServerEditorWindow& window) {
    const QString id = list_->selectedServer().id;
    window.showGroupsLoading();
    window.setWaiting(true);
    StoreQueue::run(
        &window,
        [path = context_.databasePath(), id] { return StoreActions::loadServer(path, id); },
        [](ServerEditorWindow* target, const StoreActions::StoredServer& stored) {
            target->setWaiting(false);
            if (!stored.server) {
                target->setGroups({});
                if (!stored.opened)
                    Prompt::inform(target, u"连接数据库失败"_s);
                else if (stored.outcome.busy)
                    Prompt::inform(target,
                                   StoreActions::failureText(u"读取服务器失败"_s, stored.outcome));
                return;
            }
            target->setFields(*stored.server);
            // The server's own group comes first and selected, then every group in creation
            // order.
            target->setGroups(stored.groups, &stored.server->group);
            target->startWhitelistFetch();
            if (stored.outcome.busy)
                Prompt::inform(target,
                               StoreActions::failureText(u"读取分组失败"_s, stored.outcome));
        });
}

// Saves to the server the window was opened for: the list may have been reloaded since (the
// refresh timer, a batch delete), so the selection of the moment says nothing.
void ServerEditor::saveServer(ServerEditorWindow& window) {
    const ServerRecord server = window.fields();
    if (refuseUnstorable(window, server))
        return;
    if (!window.hasSelectedGroup())
        Prompt::inform(&window, u"请选择服务器分组"_s);
    window.setWaiting(true);
    StoreQueue::run(
        this,
        [path = context_.databasePath(), server] {
            return StoreActions::updateServer(path, server);
        },
        [target = QPointer(&window), server](ServerEditor* self,
                                             const StoreActions::Outcome& saved) {
            self->onServerSaved(target, server, saved);
        });
}

void ServerEditor::onServerSaved(const QPointer<ServerEditorWindow>& window,
                                 const ServerRecord& server, const StoreActions::Outcome& saved) {
    const int row = list_->model()->rowOfId(server.id);
    if (saved.done && row >= 0) {
        list_->model()->updateServer(row, server, QDateTime::currentDateTime());
        probe_->start(row);
    }
    Prompt::inform(boxParent(window),
                   saved.done ? u"修改成功"_s : StoreActions::failureText(u"修改失败"_s, saved));
    if (window) {
        window->setWaiting(false);
        window->accept();
    }
}

// The row goes at once; the store follows on its thread, and a failure is logged.
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
    StoreQueue::run(
        this, [path = context_.databasePath(), id] { return StoreActions::deleteServer(path, id); },
        [name](ServerEditor* self, const StoreActions::Outcome& deleted) {
            self->logDeleteFailure(name, deleted);
        });
}

void ServerEditor::logDeleteFailure(const QString& name, const StoreActions::Outcome& deleted) {
    if (!deleted.done)
        context_.log()->logLine(u"-删除失败：%1 %2"_s.arg(name, deleted.reason()));
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

// One checked server per step, each step waiting for the one before it to be in the store;
// the list is read again when all are gone.
bool ServerEditor::deleteNextChecked() {
    if (deleteUnderWay_)
        return true;
    if (pendingDeletes_.isEmpty()) {
        context_.storeChanges().report(StoreChanges::Servers);
        return false;
    }
    const QString id = pendingDeletes_.first().first;
    const QString name = pendingDeletes_.takeFirst().second;
    deleteUnderWay_ = true;
    StoreQueue::run(
        this, [path = context_.databasePath(), id] { return StoreActions::deleteServer(path, id); },
        [name](ServerEditor* self, const StoreActions::Outcome& deleted) {
            self->deleteUnderWay_ = false;
            self->logDeleteFailure(name, deleted);
            self->context_.log()->logLine(u"-正在删除：%1"_s.arg(name));
        });
    return true;
}
