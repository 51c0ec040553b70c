#include "ui/remote/session_actions.h"

#include "core/remote/embedded_tools.h"
#include "core/remote/server_diagnostics.h"
#include "core/store/server_queries.h"
#include "core/support/log_sink.h"
#include "platform/platform.h"
#include "ui/app/main_window.h"
#include "ui/app/prompt.h"
#include "ui/app/server_list_view.h"
#include "ui/app/web_page.h"
#include "ui/remote/rdp_launcher.h"
#include "ui/remote/ssh_launcher.h"

#include <QAction>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace {

const QString kNoPingAddress = u"请现在查询内容中输入要Ping的IP"_s;
const QString kNoPortPingAddress = u"请现在查询内容中输入要端口Ping的地址 如 127.0.0.1:80"_s;

// The actions of one main window; they read the selected row's cells when they run.
class SessionActions : public QObject {
public:
    SessionActions(MainWindow* window, ProcessLauncher launcher)
        : QObject(window), window_(window), list_(window->serverList()), launcher_(launcher),
          ssh_(new SshLauncher(launcher, window)), rdp_(new RdpLauncher(launcher, window)) {}

    void install() {
        connect(list_, &ServerListView::loginRequested, this, &SessionActions::login);
        onMenu(u"登录服务器"_s, [this] { login(list_->selectedRow()); });
        onMenu(u"Ping检测"_s, [this] { openPing(selected(ListColumn::Address)); });
        onMenu(u"TCPing检测"_s,
               [this] { openTcping(selected(ListColumn::Address), selected(ListColumn::Port)); });
        onMenu(u"全球Ping"_s, [this] {
            openWebPage(ServerDiagnostics::globalPingAddress(selected(ListColumn::Address)));
        });
        onMenu(u"全球TCPing"_s, [this] {
            openWebPage(ServerDiagnostics::globalTcpingAddress(selected(ListColumn::Address),
                                                               selected(ListColumn::Port)));
        });
        onMenu(u"复制IP"_s,
               [this] { copy(ServerDiagnostics::copyAddress(selected(ListColumn::Address))); });
        onMenu(u"复制IP+端口"_s, [this] {
            copy(ServerDiagnostics::copyAddressAndPort(selected(ListColumn::Address),
                                                       selected(ListColumn::Port)));
        });
        onMenu(u"复制IP/端口/账号/密码"_s, [this] {
            copy(ServerDiagnostics::copyLogin(
                selected(ListColumn::Address), selected(ListColumn::Port),
                selected(ListColumn::User), selected(ListColumn::Password)));
        });
        onSearchButton(u"查询按钮1"_s, kNoPingAddress,
                       [this](const QString& text) { openPing(text); });
        onSearchButton(u"查询按钮2"_s, kNoPortPingAddress, [this](const QString& text) {
            const auto target = ServerDiagnostics::splitPortPing(text);
            openTcping(target.host, target.port);
        });
        onSearchButton(u"查询按钮3"_s, kNoPingAddress, [this](const QString& text) {
            openWebPage(ServerDiagnostics::globalPingAddress(text));
        });
    }

private:
    template <typename Action> void onMenu(const QString& text, Action action) {
        QAction* item = list_->menuAction(text);
        item->setEnabled(true);
        connect(item, &QAction::triggered, this, action);
    }

    // The search bar's buttons act on the search text and refuse an empty one.
    template <typename Action>
    void onSearchButton(const QString& name, const QString& whenEmpty, Action action) {
        auto* button = window_->findChild<QPushButton*>(name);
        const auto* edit = window_->findChild<QLineEdit*>(u"查询内容编辑框"_s);
        button->setEnabled(true);
        connect(button, &QPushButton::clicked, this, [this, edit, whenEmpty, action] {
            const QString text = edit->text();
            if (text.isEmpty())
                Prompt::inform(window_, whenEmpty);
            else
                action(text);
        });
    }

    QString selected(int column) const { return list_->cell(list_->selectedRow(), column); }

    // "windows" exactly goes to Remote Desktop; every other system, "Windows" included, to SSH.
    void login(int row) {
        const SessionTarget server{
            list_->cell(row, ListColumn::Name), list_->cell(row, ListColumn::Address),
            list_->cell(row, ListColumn::Port), list_->cell(row, ListColumn::User),
            list_->cell(row, ListColumn::Password)};
        if (list_->cell(row, ListColumn::System) == u"windows")
            rdp_->launch(server);
        else
            ssh_->launch(server);
    }

    void openPing(const QString& address) {
        openConsole(u"ping"_s, Platform::continuousPingArguments(address));
    }

    void openTcping(const QString& host, const QString& port) {
        openConsole(EmbeddedTools::tcpingPath(), ServerDiagnostics::tcpingArguments(host, port));
    }

    // The console shows what the program says. A program that is not there opens no window
    // (a terminal would only show its own error), and that is logged, as is a terminal that
    // cannot start.
    void openConsole(const QString& program, const QStringList& arguments) {
        const QString path = executablePath(program);
        if (path.isEmpty()) {
            LogSink::logLine(u"-无法打开控制台窗口："_s + program + u": 找不到程序"_s);
            return;
        }
        const LaunchOutcome outcome = launcher_(Platform::consoleWindow(path, arguments));
        if (!outcome.started)
            LogSink::logLine(u"-无法打开控制台窗口："_s + outcome.error);
    }

    static QString executablePath(const QString& program) {
        if (QFileInfo(program).isAbsolute())
            return QFileInfo(program).isExecutable() ? program : QString();
        return QStandardPaths::findExecutable(program);
    }

    void copy(const ServerDiagnostics::ClipboardCopy& copy) {
        QGuiApplication::clipboard()->setText(copy.clipboard);
        LogSink::append(copy.logLine);
    }

    MainWindow* window_;
    ServerListView* list_;
    ProcessLauncher launcher_;
    SshLauncher* ssh_;
    RdpLauncher* rdp_;
};

} // namespace

void installSessionActions(MainWindow* window) {
    installSessionActions(window, &Platform::startDetached);
}

void installSessionActions(MainWindow* window, ProcessLauncher launcher) {
    auto* actions = new SessionActions(window, std::move(launcher));
    actions->install();
}
