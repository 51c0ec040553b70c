#include "ui/panel/panel_window_actions.h"

#include "core/app_context.h"
#include "core/panel/panel_api.h"
#include "core/panel/whitelist_ip.h"
#include "core/support/run_then_deliver.h"
#include "ui/app/prompt.h"
#include "ui/app/web_page.h"

#include <QClipboard>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>

using namespace Qt::StringLiterals;

PanelWindowActions::PanelWindowActions(QDialog* window, const Controls& controls,
                                       bool copiesWhitelist, AppContext& context)
    : QObject(window), window_(window), context_(context), address_(controls.address),
      key_(controls.key), whitelist_(controls.whitelist), test_(controls.test) {
    connect(test_, &QPushButton::clicked, this, &PanelWindowActions::testPanelApi);
    connect(controls.help, &QPushButton::clicked, this,
            [this] { openWebPage(kHelpPage, context_.log().get()); });
    if (copiesWhitelist)
        whitelist_->installEventFilter(this);
}

void PanelWindowActions::startWhitelistFetch() {
    runThenDeliver(
        *QThreadPool::globalInstance(), this,
        [service = CloudApi::Service{context_.cloudAddress()}] {
            return WhitelistIp::fetch(service);
        },
        [](PanelWindowActions* self, const QString& ip) {
            self->context_.setWhitelistAddress(ip);
            self->whitelist_->setText(WhitelistIp::caption(ip));
        });
}

void PanelWindowActions::testPanelApi() {
    const QString address = address_->text();
    const QString key = key_->text();
    if (!PanelApi::parseAddress(address).isComplete()) {
        Prompt::inform(window_, PanelApi::incompleteAddressMessage());
        return;
    }
    test_->setEnabled(false);
    runThenDeliver(
        *QThreadPool::globalInstance(), this,
        [address, key] { return PanelApi::getUserInfo(address, key); },
        [](PanelWindowActions* self, const QString& reply) { self->showTestOutcome(reply); });
}

void PanelWindowActions::showTestOutcome(const QString& reply) {
    test_->setEnabled(true);
    Prompt::inform(window_, PanelApi::judgeReply(reply).message);
}

// Either mouse button pressed on the label copies the addresses the whitelist needs.
bool PanelWindowActions::eventFilter(QObject* watched, QEvent* event) {
    if (watched == whitelist_ && event->type() == QEvent::MouseButtonPress) {
        const auto button = static_cast<QMouseEvent*>(event)->button();
        if (button == Qt::LeftButton || button == Qt::RightButton) {
            copyWhitelist();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void PanelWindowActions::copyWhitelist() {
    QGuiApplication::clipboard()->setText(WhitelistIp::clipboardText(context_.whitelistAddress()));
    Prompt::inform(window_, u"IP已经复制，请直接暂停使用"_s);
}
