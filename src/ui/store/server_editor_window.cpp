#include "ui/store/server_editor_window.h"

#include "core/store/server_editing.h"
#include "ui/app/waiting.h"
#include "ui/panel/panel_window_actions.h"

#include "ui_add_server_window.h"
#include "ui_modify_server_window.h"

using namespace Qt::StringLiterals;

// The controls both windows share, whichever layout holds them.
struct ServerEditorWindow::Controls {
    QComboBox* group;
    QLineEdit* name;
    QLineEdit* ip;
    QRadioButton* windows;
    QRadioButton* linux;
    QLineEdit* port;
    QLineEdit* user;
    QLineEdit* password;
    QLineEdit* sort;
    QLineEdit* start;
    QLineEdit* end;
    QLineEdit* remark;
    QLineEdit* panelUrl;
    QLineEdit* panelUser;
    QLineEdit* panelPassword;
    QLineEdit* panelKey;
    QLabel* whitelist;
    QPushButton* panelTest;
    QPushButton* panelHelp;
    QPushButton* submit;
};

namespace {

template <typename Form> void fillControls(Form* f, auto& c) {
    c.group = f->服务器分组框;
    c.name = f->服务器名称输入框;
    c.ip = f->服务器IP输入框;
    c.windows = f->单选框1;
    c.linux = f->单选框2;
    c.port = f->服务器端口输入框;
    c.user = f->服务器用户名输入框;
    c.password = f->服务器密码输入框;
    c.sort = f->排序输入框;
    c.start = f->开始时间输入框;
    c.end = f->到期时间输入框;
    c.remark = f->备注输入框;
    c.panelUrl = f->面板地址编辑框;
    c.panelUser = f->面板账号编辑框;
    c.panelPassword = f->面板密码编辑框;
    c.panelKey = f->接口密钥编辑框;
    c.whitelist = f->标签16;
    c.panelTest = f->按钮3;
    c.panelHelp = f->按钮4;
    c.submit = f->按钮1;
}

} // namespace

ServerEditorWindow::ServerEditorWindow(Mode mode, AppContext& context, QWidget* parent)
    : QDialog(parent), mode_(mode), c_(std::make_unique<Controls>()) {
    setModal(true);
    if (mode == Mode::Add) {
        addUi_ = std::make_unique<Ui::AddServerWindow>();
        addUi_->setupUi(this);
        fillControls(addUi_.get(), *c_);
        c_->port->setText(u"3389"_s);
        c_->user->setText(u"administrator"_s);
        c_->sort->setText(u"50"_s);
        c_->remark->setText(u"无"_s);
        connect(c_->windows, &QRadioButton::clicked, this, &ServerEditorWindow::onSystemChosen);
        connect(c_->linux, &QRadioButton::clicked, this, &ServerEditorWindow::onSystemChosen);
        connect(c_->ip, &QLineEdit::textChanged, this, &ServerEditorWindow::onAddressEdited);
        connect(addUi_->按钮2, &QPushButton::clicked, this, &ServerEditorWindow::showPanelFields);
        setFixedSize(kNarrowAddWidth, height());
    } else {
        modifyUi_ = std::make_unique<Ui::ModifyServerWindow>();
        modifyUi_->setupUi(this);
        fillControls(modifyUi_.get(), *c_);
        setFixedSize(size());
    }
    panel_ = new PanelWindowActions(
        this, {c_->panelUrl, c_->panelKey, c_->whitelist, c_->panelTest, c_->panelHelp},
        mode == Mode::Add, context);
    connect(c_->submit, &QPushButton::clicked, this, &ServerEditorWindow::submitted);
}

ServerEditorWindow::~ServerEditorWindow() = default;

ServerRecord ServerEditorWindow::fields() const {
    ServerRecord s;
    s.id = serverId_;
    s.group = c_->group->currentIndex() >= 0 ? c_->group->currentText() : QString();
    s.name = c_->name->text();
    s.ip = c_->ip->text();
    s.system = c_->windows->isChecked() ? u"windows"_s : u"linux"_s;
    s.port = c_->port->text();
    s.user = c_->user->text();
    s.password = c_->password->text();
    s.sort = c_->sort->text();
    s.startTime = c_->start->text();
    s.endTime = c_->end->text();
    s.remark = c_->remark->text();
    s.panelUrl = c_->panelUrl->text();
    s.panelUser = c_->panelUser->text();
    s.panelPassword = c_->panelPassword->text();
    s.panelKey = c_->panelKey->text();
    return s;
}

void ServerEditorWindow::setFields(const ServerRecord& s) {
    serverId_ = s.id;
    c_->ip->setText(s.ip);
    c_->name->setText(s.name);
    c_->port->setText(s.port);
    c_->user->setText(s.user);
    c_->password->setText(s.password);
    c_->sort->setText(s.sort);
    c_->start->setText(s.startTime);
    c_->end->setText(s.endTime);
    c_->remark->setText(s.remark);
    c_->panelUrl->setText(s.panelUrl);
    c_->panelUser->setText(s.panelUser);
    c_->panelPassword->setText(s.panelPassword);
    c_->panelKey->setText(s.panelKey);
    (s.system == u"windows" ? c_->windows : c_->linux)->setChecked(true);
}

bool ServerEditorWindow::hasSelectedGroup() const {
    return c_->group->currentIndex() >= 0;
}

void ServerEditorWindow::setGroups(const QList<GroupRecord>& groups, const QString* first) {
    c_->group->clear();
    c_->group->setPlaceholderText(QString());
    if (first)
        c_->group->addItem(*first);
    for (const GroupRecord& g : groups)
        c_->group->addItem(g.name, g.id.toLongLong());
    c_->group->setCurrentIndex(c_->group->count() > 0 ? 0 : -1);
}

void ServerEditorWindow::setRentalTimes(const QString& start, const QString& end) {
    c_->start->setText(start);
    c_->end->setText(end);
}

void ServerEditorWindow::onSystemChosen() {
    const auto next =
        ServerEditing::chooseSystem(c_->linux->isChecked(), c_->port->text(), c_->user->text());
    c_->port->setText(next.port);
    c_->user->setText(next.user);
}

// Pasting "address:port" fills both boxes. Typing it key by key splits at the first key
// after the colon; the keys that follow belong to the port, so the cursor moves there.
void ServerEditorWindow::onAddressEdited(const QString& text) {
    if (const auto split = ServerEditing::splitAddressAndPort(text)) {
        c_->ip->setText(split->first);
        c_->port->setText(split->second);
        c_->port->setFocus();
        c_->port->end(false);
    }
}

// One-way: the window stays wide until it closes.
void ServerEditorWindow::showPanelFields() {
    setFixedSize(kWideAddWidth, height());
    addUi_->按钮2->hide();
    c_->submit->move(kPanelAddButtonX, c_->submit->y());
    panel_->startWhitelistFetch();
}

void ServerEditorWindow::startWhitelistFetch() {
    panel_->startWhitelistFetch();
}

void ServerEditorWindow::setWaiting(bool waiting) {
    waiting_ = waiting;
    showWaiting(this, c_->submit, waiting);
}

void ServerEditorWindow::showGroupsLoading() {
    c_->group->setPlaceholderText(u"正在读取分组…"_s);
}
