#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

// What a message box asks.
struct PromptRequest {
    QString text;
    QString caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};

// Every message box of the program goes through here: task-modal, caption "信息：" unless
// another is given. Tests install a responder that answers instead of a person.
namespace Prompt {

inline const QString kDefaultCaption = QStringLiteral("信息：");

using Responder = std::function<QMessageBox::StandardButton(const PromptRequest&)>;

// While a responder is set, no box is shown and its answer is returned.
void setResponder(Responder responder);

QMessageBox::StandardButton show(QWidget* parent, const PromptRequest& request);

// A plain message with an OK button.
void inform(QWidget* parent, const QString& text, const QString& caption = kDefaultCaption,
            QMessageBox::Icon icon = QMessageBox::NoIcon);

// A question that proceeds only on OK or Yes.
bool confirm(QWidget* parent, const QString& text, QMessageBox::StandardButtons buttons,
             const QString& caption = kDefaultCaption);

} // namespace Prompt
