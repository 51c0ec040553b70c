#include "ui/store/group_manager.h"

#include "core/store/local_store.h"
#include "core/store/storable_text.h"
#include "core/store/store_changes.h"
#include "core/support/log_sink.h"
#include "core/support/run_then_deliver.h"
#include "ui/app/prompt.h"
#include "ui/store/group_windows.h"

#include <QComboBox>

using namespace Qt::StringLiterals;

namespace {

std::optional<QList<GroupRecord>> readGroups(const QString& path) {
    LocalStore store;
    return store.open(path) ? store.groups() : std::nullopt;
}

void deleteGroupById(const QString& id) {
    LocalStore store;
    if (!store.open() || !store.deleteGroup(id))
        LogSink::logLine(u"-删除分组失败：%1"_s.arg(store.lastError()));
}

} // namespace

bool GroupManager::refuseUnstorable(const QString& name, const QString& sort) {
    const auto unstorable = StorableText::inGroup(name, sort);
    if (unstorable)
        Prompt::inform(dialogParent(), unstorable->boxText());
    return unstorable.has_value();
}

GroupManager::GroupManager(QComboBox* groupFilter, QWidget* window)
    : QObject(window), groupFilter_(groupFilter), window_(window) {}

QWidget* GroupManager::dialogParent() const {
    return manager_ ? static_cast<QWidget*>(manager_.data()) : window_;
}

void GroupManager::openAddGroup(bool fromManager) {
    groupEditorOrigin_ = fromManager;
    GroupEditWindow editor(GroupEditWindow::Mode::Add, dialogParent());
    connect(&editor, &GroupEditWindow::submitted, this,
            [&] { addGroup(editor.name(), editor.sort()); });
    editor.exec();
}

void GroupManager::addGroup(const QString& name, const QString& sort) {
    if (refuseUnstorable(name, sort))
        return;
    bool added = false;
    {
        LocalStore store;
        added = store.open() && store.insertGroup(name, sort);
    }
    Prompt::inform(dialogParent(), added ? u"添加成功"_s : u"添加失败"_s);
    if (added)
        StoreChanges::report(StoreChanges::Groups);
    if (groupEditorOrigin_)
        fillGroupManagerList();
}

void GroupManager::openManager() {
    GroupManagerWindow manager(window_);
    manager_ = &manager;
    connect(&manager, &GroupManagerWindow::addRequested, this, [this] { openAddGroup(true); });
    connect(&manager, &GroupManagerWindow::modifyRequested, this, &GroupManager::openModifyGroup);
    connect(&manager, &GroupManagerWindow::deleteRequested, this, &GroupManager::deleteGroup);
    connect(&manager, &GroupManagerWindow::deleteCheckedRequested, this,
            &GroupManager::deleteCheckedGroups);
    fillGroupManagerList();
    manager.exec();
    deletes_.stop();
    pendingDeletes_.clear();
}

void GroupManager::fillGroupManagerList() {
    if (manager_)
        manager_->setGroups(readGroups(LocalStore::databasePath()).value_or(QList<GroupRecord>()));
}

void GroupManager::openModifyGroup() {
    if (!manager_)
        return;
    editedGroup_ = manager_->group(manager_->selectedRow());
    GroupEditWindow editor(GroupEditWindow::Mode::Modify, manager_);
    editor.setGroup(editedGroup_.name, editedGroup_.sort);
    connect(&editor, &GroupEditWindow::submitted, this, [&] {
        if (saveGroup(editor.name(), editor.sort()))
            editor.accept();
    });
    editor.exec();
}

bool GroupManager::saveGroup(const QString& name, const QString& sort) {
    if (refuseUnstorable(name, sort))
        return false;
    bool saved = false;
    {
        LocalStore store;
        saved = store.open() && store.updateGroup(editedGroup_, name, sort);
    }
    if (!saved) {
        Prompt::inform(dialogParent(), u"修改失败"_s);
        return false;
    }
    // The group's servers carry its new name.
    StoreChanges::report(StoreChanges::Groups | StoreChanges::Servers);
    fillGroupManagerList();
    Prompt::inform(dialogParent(), u"修改成功"_s);
    return true;
}

void GroupManager::deleteGroup() {
    if (!manager_)
        return;
    const int row = manager_->selectedRow();
    deleteGroupById(manager_->group(row).id);
    manager_->removeRow(row);
    StoreChanges::report(StoreChanges::Groups);
}

void GroupManager::deleteCheckedGroups() {
    if (!manager_ || isDeleting())
        return;
    pendingDeletes_.clear();
    for (int row = 0; row < manager_->rowCount(); ++row)
        if (manager_->isChecked(row))
            pendingDeletes_ << manager_->group(row).id;
    deletes_.start([this] { return deleteNextChecked(); });
}

// One checked group per step; the lists are refilled when all are gone.
bool GroupManager::deleteNextChecked() {
    if (pendingDeletes_.isEmpty()) {
        StoreChanges::report(StoreChanges::Groups);
        fillGroupManagerList();
        return false;
    }
    deleteGroupById(pendingDeletes_.takeFirst());
    return true;
}

void GroupManager::refillGroupFilter() {
    const quint64 generation = ++filterGeneration_;
    runThenDeliver(
        *QThreadPool::globalInstance(), this,
        [path = LocalStore::databasePath()] { return readGroups(path); },
        [generation](GroupManager* self, const std::optional<QList<GroupRecord>>& groups) {
            // A newer refill was asked for: its result will do.
            if (generation != self->filterGeneration_)
                return;
            self->groupFilter_->clear();
            for (const GroupRecord& g : groups.value_or(QList<GroupRecord>()))
                self->groupFilter_->addItem(g.name, g.id.toLongLong());
            self->groupFilter_->setCurrentIndex(self->groupFilter_->count() > 0 ? 0 : -1);
            Q_EMIT self->groupFilterRefilled();
        });
}
