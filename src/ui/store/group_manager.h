#pragma once

#include "core/store/records.h"
#include "core/store/store_actions.h"
#include "core/support/paced_steps.h"

#include <QObject>
#include <QPointer>

class AppContext;
class QComboBox;
class QWidget;
class GroupEditWindow;
class GroupManagerWindow;

// The group windows and the main window's group filter. A group is tied to its servers by
// name only: renaming it renames their group, deleting it leaves them as they are. The store
// is read and written on the store's thread (StoreQueue); a window shows that it waits.
class GroupManager : public QObject {
    Q_OBJECT
public:
    static constexpr int kDeletePaceMs = 200;

    GroupManager(QComboBox* groupFilter, AppContext& context, QWidget* window);

    // "添加分组" from the main window (`fromManager` false) or from "分组管理" (true); after a
    // successful add the management list is refilled only in the second case.
    void openAddGroup(bool fromManager);
    // Starts the add; `editor`, when given, waits until it is done.
    void addGroup(const QString& name, const QString& sort, GroupEditWindow* editor = nullptr);
    // "管理分组".
    void openManager();
    void fillGroupManagerList();
    void openModifyGroup();
    // Starts the change of the group "修改分组" was opened for; `editor` closes once it is
    // stored.
    void saveGroup(const QString& name, const QString& sort, GroupEditWindow* editor = nullptr);
    void deleteGroup();
    void deleteCheckedGroups();
    // Rebuilds 选择分组组合框 from the store, read on a worker. Group edits do not call it
    // themselves: they report the change (StoreChanges), and the main window refills.
    void refillGroupFilter();

    bool isDeleting() const { return deletes_.isRunning(); }

Q_SIGNALS:
    void groupFilterRefilled();

private:
    // Names the field the store cannot keep in a box; true when it did.
    bool refuseUnstorable(const QString& name, const QString& sort);
    bool deleteNextChecked();
    // Deletes the group on the store's thread; the group filter is refilled afterwards when
    // `reportChange` says so.
    void deleteStoredGroup(const QString& id, bool reportChange);
    QWidget* dialogParent() const;

    QComboBox* groupFilter_;
    AppContext& context_;
    QWidget* window_;
    QPointer<GroupManagerWindow> manager_;
    bool groupEditorOrigin_ = false;
    GroupRecord editedGroup_;
    PacedSteps deletes_{std::chrono::milliseconds(kDeletePaceMs), this};
    QStringList pendingDeletes_;
    bool deleteUnderWay_ = false;
    quint64 filterGeneration_ = 0;
};
