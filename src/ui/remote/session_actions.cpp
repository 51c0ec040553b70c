#include "ui/remote/session_actions.h"

#include "core/remote/embedded_tools.h"
#include "core/remote/server_diagnostics.h"
#include "core/support/log_sink.h"
#include "platform/platform.h"
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

// The actions of one main window; they take the selected row's server when they run.
class SessionActions : public QObject {
public:
    SessionActions(QWidget* window, ServerListView* list, const SearchBar& searchBar,
                   const ProcessLauncher& launcher, const LogSink& log)
        : QObject(window), window_(window), list_(list), searchBar_(searchBar), launcher_(launcher),
          log_(log), ssh_(new SshLauncher(launcher, log, window)),
          rdp_(new RdpLauncher(launcher, log, window)) {}

    void install() {
        connect(list_, &ServerListView::loginRequested, this, &SessionActions::login);
        onMenu(Item::Login, [this] { login(list_->selectedRow()); });
        onMenu(Item::Ping, [this] { openPing(selected().ip); });
        onMenu(Item::Tcping, [this] {
            const ServerRecord s = selected();
            openTcping(s.ip, s.port);
        });
        onMenu(Item::GlobalPing,
               [this] { openWebPage(ServerDiagnostics::globalPingAddress(selected().ip), &log_); });
        onMenu(Item::GlobalTcping, [this] {
            const ServerRecord s = selected();
            openWebPage(ServerDiagnostics::globalTcpingAddress(s.ip, s.port), &log_);
        });
        onMenu(Item::CopyAddress, [this] { copy(ServerDiagnostics::copyAddress(selected().ip)); });
        onMenu(Item::CopyAddressAndPort, [this] {
            const ServerRecord s = selected();
            copy(ServerDiagnostics::copyAddressAndPort(s.ip, s.port));
        });
        onMenu(Item::CopyLogin, [this] {
            const ServerRecord s = selected();
            copy(ServerDiagnostics::copyLogin(s.ip, s.port, s.user, s.password));
        });
        onSearchButton(searchBar_.ping, kNoPingAddress,
                       [this](const QString& text) { openPing(text); });
        onSearchButton(searchBar_.portPing, kNoPortPingAddress, [this](const QString& text) {
            const auto target = ServerDiagnostics::splitPortPing(text);
            openTcping(target.host, target.port);
        });
        onSearchButton(searchBar_.globalPing, kNoPingAddress, [this](const QString& text) {
            openWebPage(ServerDiagnostics::globalPingAddress(text), &log_);
        });
    }

private:
    using Item = ServerListView::MenuItem;

    template <typename Action> void onMenu(Item menuItem, Action action) {
        connect(list_->menuAction(menuItem), &QAction::triggered, this, action);
    }

    // The search bar's buttons act on the search text and refuse an empty one.
    template <typename Action>
    void onSearchButton(QPushButton* button, const QString& whenEmpty, Action action) {
        const QLineEdit* edit = searchBar_.text;
        connect(button, &QPushButton::clicked, this, [this, edit, whenEmpty, action] {
            const QString text = edit->text();
            if (text.isEmpty())
                Prompt::inform(window_, whenEmpty);
            else
                action(text);
        });
    }

    ServerRecord selected() const { return list_->selectedServer(); }

    // "windows" exactly goes to Remote Desktop; every other system, "Windows" included, to SSH.
    void login(int row) {
        const ServerRecord s = list_->server(row);
        const SessionTarget target{s.name, s.ip, s.port, s.user, s.password};
        if (s.system == u"windows")
            rdp_->launch(target);
        else
            ssh_->launch(target);
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
            log_.logLine(u"-无法打开控制台窗口："_s + program + u": 找不到程序"_s);
            return;
        }
        const LaunchOutcome outcome = launcher_(Platform::consoleWindow(path, arguments));
        if (!outcome.started)
            log_.logLine(u"-无法打开控制台窗口："_s + outcome.error);
    }

    static QString executablePath(const QString& program) {
        if (QFileInfo(program).isAbsolute())
            return QFileInfo(program).isExecutable() ? program : QString();
        return QStandardPaths::findExecutable(program);
    }

    void copy(const ServerDiagnostics::ClipboardCopy& copy) {
        QGuiApplication::clipboard()->setText(copy.clipboard);
        log_.append(copy.logLine);
    }

    QWidget* window_;
    ServerListView* list_;
    SearchBar searchBar_;
    ProcessLauncher launcher_;
    const LogSink& log_;
    SshLauncher* ssh_;
    RdpLauncher* rdp_;
};

} // namespace

void installSessionActions(QWidget* window, ServerListView* list, const SearchBar& searchBar,
                           const ProcessLauncher& launcher, const LogSink& log) {
    auto* actions = new SessionActions(window, list, searchBar, launcher, log);
    actions->install();
}
