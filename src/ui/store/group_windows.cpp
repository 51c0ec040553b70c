#include "ui/store/group_windows.h"

#include "core/support/list_sort.h"
#include "ui/app/waiting.h"

#include "ui_group_edit_window.h"
#include "ui_group_manager_window.h"

#include <QCursor>
#include <QHeaderView>
#include <QMenu>

using namespace Qt::StringLiterals;

GroupEditWindow::GroupEditWindow(Mode mode, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::GroupEditWindow>()) {
    ui_->setupUi(this);
    setModal(true);
    setFixedSize(size());
    if (mode == Mode::Modify) {
        setWindowTitle(u"修改分组"_s);
        ui_->按钮1->setText(u"修改"_s);
    } else {
        ui_->编辑框2->setText(u"50"_s);
    }
    connect(ui_->按钮1, &QPushButton::clicked, this, &GroupEditWindow::submitted);
}

GroupEditWindow::~GroupEditWindow() = default;

QString GroupEditWindow::name() const {
    return ui_->编辑框1->text();
}
QString GroupEditWindow::sort() const {
    return ui_->编辑框2->text();
}

void GroupEditWindow::setGroup(const QString& name, const QString& sort) {
    ui_->编辑框1->setText(name);
    ui_->编辑框2->setText(sort);
}

void GroupEditWindow::setWaiting(bool waiting) {
    waiting_ = waiting;
    showWaiting(this, ui_->按钮1, waiting);
}

GroupManagerWindow::GroupManagerWindow(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::GroupManagerWindow>()) {
    ui_->setupUi(this);
    setModal(true);
    setFixedSize(size());
    model_.setHorizontalHeaderLabels({u"ID"_s, u"分组名称"_s, u"排序"_s});
    QTableView* list = ui_->超级列表框1;
    list->setModel(&model_);
    list->verticalHeader()->hide();
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 6);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->horizontalHeader()->setSectionsClickable(true);
    list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list->horizontalHeader()->setStretchLastSection(false);
    for (const auto& [column, width] : {std::pair{0, 50}, std::pair{1, 100}, std::pair{2, 75}})
        list->horizontalHeader()->resizeSection(column, width);

    menu_ = new QMenu(this);
    connect(menu_->addAction(u"修改分组"_s), &QAction::triggered, this,
            &GroupManagerWindow::modifyRequested);
    connect(menu_->addAction(u"删除分组"_s), &QAction::triggered, this,
            &GroupManagerWindow::deleteRequested);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this,
            [this] { menu_->popup(QCursor::pos()); });
    connect(list->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &GroupManagerWindow::sortByColumn);
    connect(ui_->按钮2, &QPushButton::clicked, this, &GroupManagerWindow::addRequested);
    connect(ui_->按钮9, &QPushButton::clicked, this, &GroupManagerWindow::checkAll);
    connect(ui_->按钮8, &QPushButton::clicked, this, &GroupManagerWindow::invertChecks);
    connect(ui_->按钮6, &QPushButton::clicked, this, &GroupManagerWindow::deleteCheckedRequested);
}

GroupManagerWindow::~GroupManagerWindow() = default;

void GroupManagerWindow::setGroups(const QList<GroupRecord>& groups) {
    model_.removeRows(0, model_.rowCount());
    for (const GroupRecord& g : groups) {
        auto* id = new QStandardItem(g.id);
        id->setCheckable(true);
        model_.appendRow({id, new QStandardItem(g.name), new QStandardItem(g.sort)});
    }
}

int GroupManagerWindow::rowCount() const {
    return model_.rowCount();
}

int GroupManagerWindow::selectedRow() const {
    const QModelIndex current = ui_->超级列表框1->currentIndex();
    return current.isValid() ? current.row() : -1;
}

GroupRecord GroupManagerWindow::group(int row) const {
    if (row < 0 || row >= model_.rowCount())
        return {};
    return {model_.item(row, 0)->text(), model_.item(row, 1)->text(), model_.item(row, 2)->text()};
}

bool GroupManagerWindow::isChecked(int row) const {
    return row >= 0 && row < model_.rowCount() && model_.item(row, 0)->checkState() == Qt::Checked;
}

void GroupManagerWindow::removeRow(int row) {
    if (row >= 0 && row < model_.rowCount())
        model_.removeRow(row);
}

void GroupManagerWindow::checkAll() {
    ui_->超级列表框1->setFocus();
    for (int row = 0; row < model_.rowCount(); ++row)
        model_.item(row, 0)->setCheckState(Qt::Checked);
}

void GroupManagerWindow::invertChecks() {
    ui_->超级列表框1->setFocus();
    for (int row = 0; row < model_.rowCount(); ++row)
        model_.item(row, 0)->setCheckState(isChecked(row) ? Qt::Unchecked : Qt::Checked);
}

void GroupManagerWindow::sortByColumn(int column) {
    QList<GroupRecord> groups;
    QList<QString> keys;
    for (int row = 0; row < model_.rowCount(); ++row) {
        groups << group(row);
        keys << model_.item(row, column)->text();
    }
    QList<GroupRecord> sorted;
    for (qsizetype from : ListSort::sortOrder(keys, column))
        sorted << groups[from];
    setGroups(sorted);
}
