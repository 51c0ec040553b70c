#pragma once

#include "core/cloud/http_client.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

class JobStop;

// The request frame of the cloud web service: every action goes to one script path with its
// action name, carries an HTML-form body and gets a UTF-8 reply that is judged by the words in
// it. The actions themselves are in cloud_actions.h.
namespace CloudApi {

// name=value fields of a form body, in order.
using FormFields = QList<QPair<QString, QString>>;

// The account whose name and password go into the account actions.
struct Account {
    QString username;
    QString password;
};

// The reply of one action. `failure` tells a request the service never answered (no HTTP
// response, or a body that broke off or was cancelled) from an empty reply: it holds the
// transport error text then, and is empty whenever an HTTP answer came whole. An answer
// with an error status (a web server's 500 or 502) is a reply all the same, but never the
// service's word: `errorStatus` holds its status.
struct Reply {
    QString text;
    QString failure;
    int errorStatus = 0;

    // The service's own reply: an HTTP answer, whole, with a success status.
    bool answered() const { return failure.isEmpty() && errorStatus == 0; }
};

// The cloud service a request goes to: its scheme and host, without a trailing slash.
struct Service {
    QString baseAddress;
};

// The form body as sent: names and values percent-encoded from their GBK bytes and joined
// with "=" and "&", so a value holding "&", "=", "+" or "%" arrives intact.
QByteArray formBody(const FormFields& fields);

// "username" and "password" of the account, then the extra fields.
FormFields accountBody(const Account& account, const FormFields& extra = {});

// A reply's bytes as text: UTF-8 without a leading byte-order mark, every character kept
// ("?" and characters GBK cannot hold included; whoever stores the text judges those).
QString replyText(const QByteArray& bytes);

// Sends the action (POST for the account actions, GET for the public ones) and returns the
// decoded reply. Blocking; callable from any thread. A raised `stop` ends the request within
// HttpClient::kStopCheckMs as a failure.
Reply request(const Service& service, const QString& act, HttpMethod method,
              const FormFields& body = {}, const JobStop* stop = nullptr);

// The service answered and its reply contains "True" (exact case, anywhere).
bool succeeded(const Reply& reply);

} // namespace CloudApi
