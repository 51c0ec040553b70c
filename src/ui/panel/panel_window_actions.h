#pragma once

#include <QObject>

class AppContext;
class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;

// The panel controls of the windows "添加服务器" and "修改服务器": 测试宝塔接口 on the
// window's current panel address and API key, 宝塔接口配置说明, the whitelist label and,
// in the add window, copying the whitelist addresses by pressing that label.
class PanelWindowActions : public QObject {
    Q_OBJECT
public:
    // The page that explains how to open the panel's API to Torvane.
    static inline const QString kHelpPage =
        QStringLiteral("https://www.torvane.net/help/panel-api.html");

    struct Controls {
        QLineEdit* address;
        QLineEdit* key;
        QLabel* whitelist;
        QPushButton* test;
        QPushButton* help;
    };

    // `copiesWhitelist` for the add window.
    PanelWindowActions(QDialog* window, const Controls& controls, bool copiesWhitelist,
                       AppContext& context);

    // Asks the cloud service for the public address on a worker, keeps it in the context and
    // shows it in the whitelist label, unless the window has closed by then.
    void startWhitelistFetch();

    // "测试宝塔接口": the request runs on a worker; the button waits disabled meanwhile.
    void testPanelApi();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void copyWhitelist();
    void showTestOutcome(const QString& reply);

    QDialog* window_;
    AppContext& context_;
    QLineEdit* address_;
    QLineEdit* key_;
    QLabel* whitelist_;
    QPushButton* test_;
};
