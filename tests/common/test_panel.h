#pragma once

#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <memory>

// A stand-in for a server's BaoTa panel on loopback, over HTTP or HTTPS (self-signed). Like
// the panel it checks every API request against its own key, clock and IP whitelist and
// answers refusals with its own JSON ("status": false and a "msg"); it answers GetUserInfo,
// issues temporary login tokens on set_temp_login, and logs a browser in on
// /login?tmp_token= with a token it issued that has not expired.
class TestPanel {
public:
    enum class Scheme { Http, Https };
    // How an accepted request's "status": true is written.
    enum class StatusForm { Boolean, Text };

    inline static const QString kEntrance = QStringLiteral("/tvpanel01");
    inline static const QString kLoggedInPage = QStringLiteral("已登录宝塔面板");
    inline static const QString kSessionCookie = QStringLiteral("BT_PANEL_SESSION");
    inline static const QString kWrongKeyMessage = QStringLiteral("密钥校验失败");
    inline static const QString kWrongTimeMessage =
        QStringLiteral("客户端与服务器时间不一致,请同步时间!");
    inline static const QString kNotWhitelistedPrefix = QStringLiteral("IP校验失败,您的访问IP为");

    // Whether this build serves HTTPS: the Windows test build has no TLS server.
#ifdef Q_OS_WIN
    static constexpr bool kServesHttps = false;
#else
    static constexpr bool kServesHttps = true;
#endif

    // HTTPS needs cert.pem and key.pem in `certificateFolder`.
    TestPanel(const QString& apiKey, Scheme scheme = Scheme::Http,
              const QString& certificateFolder = {});
    ~TestPanel();

    bool start();
    // Stops listening; the port is refused from then on.
    void stop();

    // The address a user enters: scheme, 127.0.0.1, the port and the entrance path.
    QString address() const;
    QString baseUrl() const;

    // Callers allowed to use the API; 127.0.0.1 alone at first.
    void setWhitelist(const QStringList& addresses);
    void setStatusForm(StatusForm form);
    // Answers every API request with an HTML error page instead of JSON.
    void setAnswersHtml(bool html);
    // Moves the panel's clock; a day ahead expires the tokens issued so far.
    void advanceClock(qint64 seconds);

    // The form fields of every API request received, in order.
    QList<QHash<QString, QString>> requests() const;

private:
    struct State;
    struct Server;
    std::unique_ptr<State> state_;
    std::unique_ptr<Server> server_;
};
