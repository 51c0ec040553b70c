#include "ui/app/prompt.h"

#include <QWidget>

namespace {

Prompt::Responder& responder() {
    static Prompt::Responder instance;
    return instance;
}

} // namespace

namespace Prompt {

void setResponder(Responder r) {
    responder() = std::move(r);
}

QMessageBox::StandardButton show(QWidget* parent, const PromptRequest& request) {
    if (responder())
        return responder()(request);
    QMessageBox box(request.icon, request.caption, request.text, request.buttons, parent);
    box.setWindowModality(Qt::ApplicationModal);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void inform(QWidget* parent, const QString& text, const QString& caption, QMessageBox::Icon icon) {
    show(parent, {text, caption, icon, QMessageBox::Ok});
}

bool confirm(QWidget* parent, const QString& text, QMessageBox::StandardButtons buttons,
             const QString& caption) {
    const auto answer = show(parent, {text, caption, QMessageBox::Question, buttons});
    return answer == QMessageBox::Ok || answer == QMessageBox::Yes;
}

} // namespace Prompt
