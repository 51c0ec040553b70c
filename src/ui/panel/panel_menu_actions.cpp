#include "ui/panel/panel_menu_actions.h"

#include "core/panel/panel_api.h"
#include "core/support/log_sink.h"
#include "core/support/run_then_deliver.h"
#include "ui/app/prompt.h"
#include "ui/app/server_list_view.h"
#include "ui/app/web_page.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>

using namespace Qt::StringLiterals;

namespace {

// The actions take the selected row's server when they run.
class PanelMenuActions : public QObject {
public:
    PanelMenuActions(QWidget* window, ServerListView* list, const LogSink& log)
        : QObject(window), window_(window), list_(list), log_(log),
          login_(list_->menuAction(ServerListView::MenuItem::PanelLogin)),
          copy_(list_->menuAction(ServerListView::MenuItem::PanelCopy)) {
        connect(login_, &QAction::triggered, this, &PanelMenuActions::openPanel);
        connect(copy_, &QAction::triggered, this, &PanelMenuActions::copyPanelInfo);
    }

private:
    // The token request runs on a worker; the item waits disabled until its answer is shown.
    void openPanel() {
        const ServerRecord server = list_->selectedServer();
        const QString address = server.panelUrl;
        const QString key = server.panelKey;
        if (!PanelApi::parseAddress(address).isComplete()) {
            Prompt::inform(window_, PanelApi::incompleteAddressMessage());
            return;
        }
        login_->setEnabled(false);
        runThenDeliver(
            *QThreadPool::globalInstance(), this,
            [address, key] { return PanelApi::setTempLogin(address, key); },
            [address](PanelMenuActions* self, const QString& reply) {
                self->showPanel(address, reply);
            });
    }

    void showPanel(const QString& address, const QString& reply) {
        login_->setEnabled(true);
        const PanelApi::Outcome outcome = PanelApi::judgeReply(reply);
        if (!outcome.succeeded) {
            Prompt::inform(window_, outcome.message);
            return;
        }
        openWebPage(PanelApi::loginAddress(address, outcome.token), &log_);
    }

    void copyPanelInfo() {
        const ServerRecord server = list_->selectedServer();
        const auto copy =
            PanelApi::copyPanelInfo(server.panelUrl, server.panelUser, server.panelPassword);
        QGuiApplication::clipboard()->setText(copy.clipboard);
        log_.append(copy.logLine);
    }

    QWidget* window_;
    ServerListView* list_;
    const LogSink& log_;
    QAction* login_;
    QAction* copy_;
};

} // namespace

void installPanelMenuActions(QWidget* window, ServerListView* list, const LogSink& log) {
    new PanelMenuActions(window, list, log);
}
