#pragma once

#include "core/store/records.h"

#include <QDialog>
#include <QStandardItemModel>

#include <memory>

class QMenu;
namespace Ui {
class GroupEditWindow;
class GroupManagerWindow;
} // namespace Ui

// "添加分组" and "修改分组": a name and a sort key.
class GroupEditWindow : public QDialog {
    Q_OBJECT
public:
    enum class Mode { Add, Modify };
    GroupEditWindow(Mode mode, QWidget* parent = nullptr);
    ~GroupEditWindow() override;

    QString name() const;
    QString sort() const;
    void setGroup(const QString& name, const QString& sort);
    // While the store writes for the window: "添加" / "修改" is disabled and the pointer says
    // busy.
    void setWaiting(bool waiting);
    bool isWaiting() const { return waiting_; }

Q_SIGNALS:
    void submitted();

private:
    std::unique_ptr<Ui::GroupEditWindow> ui_;
    bool waiting_ = false;
};

// "分组管理": the checkable list of groups (ID, 分组名称, 排序) and its buttons and menu.
class GroupManagerWindow : public QDialog {
    Q_OBJECT
public:
    explicit GroupManagerWindow(QWidget* parent = nullptr);
    ~GroupManagerWindow() override;

    void setGroups(const QList<GroupRecord>& groups);
    int rowCount() const;
    int selectedRow() const;
    GroupRecord group(int row) const;
    bool isChecked(int row) const;
    void removeRow(int row);
    void checkAll();
    void invertChecks();
    // Ascending by `column` with the server list's keys; check marks are cleared.
    void sortByColumn(int column);
    QMenu* menu() const { return menu_; }

Q_SIGNALS:
    void addRequested();
    void modifyRequested();
    void deleteRequested();
    void deleteCheckedRequested();

private:
    std::unique_ptr<Ui::GroupManagerWindow> ui_;
    QStandardItemModel model_;
    QMenu* menu_ = nullptr;
};
