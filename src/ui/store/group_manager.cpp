#include "ui/store/group_manager.h"

#include "core/app_context.h"
#include "core/store/local_store.h"
#include "core/store/storable_text.h"
#include "core/store/store_changes.h"
#include "core/store/store_queue.h"
#include "core/support/log_sink.h"
#include "core/support/run_then_deliver.h"
#include "ui/app/prompt.h"
#include "ui/store/group_windows.h"

#include <QComboBox>

using namespace Qt::StringLiterals;

bool GroupManager::refuseUnstorable(const QString& name, const QString& sort) {
    const auto unstorable = StorableText::inGroup(name, sort);
    if (unstorable)
        Prompt::inform(dialogParent(), unstorable->boxText());
    return unstorable.has_value();
}

GroupManager::GroupManager(QComboBox* groupFilter, AppContext& context, QWidget* window)
    : QObject(window), groupFilter_(groupFilter), context_(context), window_(window) {}

QWidget* GroupManager::dialogParent() const {
    return manager_ ? static_cast<QWidget*>(manager_.data()) : window_;
}

void GroupManager::openAddGroup(bool fromManager) {
    groupEditorOrigin_ = fromManager;
    GroupEditWindow editor(GroupEditWindow::Mode::Add, dialogParent());
    connect(&editor, &GroupEditWindow::submitted, this,
            [&] { addGroup(editor.name(), editor.sort(), &editor); });
    editor.exec();
}

void GroupManager::addGroup(const QString& name, const QString& sort, GroupEditWindow* editor) {
    if (refuseUnstorable(name, sort))
        return;
    if (editor)
        editor->setWaiting(true);
    StoreQueue::run(
        this,
        [path = context_.databasePath(), name, sort] {
            return StoreActions::insertGroup(path, name, sort);
        },
        [editor = QPointer(editor),
         fromManager = groupEditorOrigin_](GroupManager* self, const StoreActions::Outcome& added) {
            if (editor)
                editor->setWaiting(false);
            Prompt::inform(self->dialogParent(),
                           added.done ? u"添加成功"_s
                                      : StoreActions::failureText(u"添加失败"_s, added));
            if (added.done)
                self->context_.storeChanges().report(StoreChanges::Groups);
            if (fromManager)
                self->fillGroupManagerList();
        });
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

// The list fills when the store has been read; until then the pointer over it says busy.
void GroupManager::fillGroupManagerList() {
    if (!manager_)
        return;
    manager_->setCursor(Qt::BusyCursor);
    StoreQueue::run(
        manager_.data(),
        [path = context_.databasePath()] { return StoreActions::readGroups(path); },
        [](GroupManagerWindow* manager, const StoreActions::Groups& read) {
            manager->unsetCursor();
            manager->setGroups(read.groups);
            if (read.outcome.busy)
                Prompt::inform(manager, StoreActions::failureText(u"读取分组失败"_s, read.outcome));
        });
}

void GroupManager::openModifyGroup() {
    if (!manager_)
        return;
    editedGroup_ = manager_->group(manager_->selectedRow());
    GroupEditWindow editor(GroupEditWindow::Mode::Modify, manager_);
    editor.setGroup(editedGroup_.name, editedGroup_.sort);
    connect(&editor, &GroupEditWindow::submitted, this,
            [&] { saveGroup(editor.name(), editor.sort(), &editor); });
    editor.exec();
}

void GroupManager::saveGroup(const QString& name, const QString& sort, GroupEditWindow* editor) {
    if (refuseUnstorable(name, sort))
        return;
    if (editor)
        editor->setWaiting(true);
    StoreQueue::run(
        this,
        [path = context_.databasePath(), group = editedGroup_, name, sort] {
            return StoreActions::updateGroup(path, group, name, sort);
        },
        [editor = QPointer(editor)](GroupManager* self, const StoreActions::Outcome& saved) {
            if (editor)
                editor->setWaiting(false);
            if (!saved.done) {
                Prompt::inform(self->dialogParent(),
                               StoreActions::failureText(u"修改失败"_s, saved));
                return;
            }
            // The group's servers carry its new name.
            self->context_.storeChanges().report(StoreChanges::Groups | StoreChanges::Servers);
            self->fillGroupManagerList();
            Prompt::inform(self->dialogParent(), u"修改成功"_s);
            if (editor)
                editor->accept();
        });
}

void GroupManager::deleteGroup() {
    if (!manager_)
        return;
    const int row = manager_->selectedRow();
    deleteStoredGroup(manager_->group(row).id, true);
    manager_->removeRow(row);
}

void GroupManager::deleteStoredGroup(const QString& id, bool reportChange) {
    deleteUnderWay_ = true;
    StoreQueue::run(
        this, [path = context_.databasePath(), id] { return StoreActions::deleteGroup(path, id); },
        [reportChange](GroupManager* self, const StoreActions::Outcome& deleted) {
            self->deleteUnderWay_ = false;
            if (!deleted.done)
                self->context_.log()->logLine(u"-删除分组失败：%1"_s.arg(deleted.reason()));
            if (reportChange)
                self->context_.storeChanges().report(StoreChanges::Groups);
        });
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

// One checked group per step, each waiting for the one before it to be in the store; the
// lists are refilled when all are gone.
bool GroupManager::deleteNextChecked() {
    if (deleteUnderWay_)
        return true;
    if (pendingDeletes_.isEmpty()) {
        context_.storeChanges().report(StoreChanges::Groups);
        fillGroupManagerList();
        return false;
    }
    deleteStoredGroup(pendingDeletes_.takeFirst(), false);
    return true;
}

void GroupManager::refillGroupFilter() {
    const quint64 generation = ++filterGeneration_;
    runThenDeliver(
        *QThreadPool::globalInstance(), this,
        [path = context_.databasePath()] { return StoreActions::readGroups(path); },
        [generation](GroupManager* self, const StoreActions::Groups& read) {
            // A newer refill was asked for: its result will do.
            if (generation != self->filterGeneration_)
                return;
            self->groupFilter_->clear();
            for (const GroupRecord& g : read.groups)
                self->groupFilter_->addItem(g.name, g.id.toLongLong());
            self->groupFilter_->setCurrentIndex(self->groupFilter_->count() > 0 ? 0 : -1);
            Q_EMIT self->groupFilterRefilled();
        });
}
