#pragma once

#include "core/cloud/http_client.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

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
// response, a body that broke off, or an error status from the web server) from an empty
// reply: it is empty only when the service answered, and then holds the transport error text
// or the status line.
struct Reply {
    QString text;
    QString failure;

    bool answered() const { return failure.isEmpty(); }
};

// The service Torvane ships with, or TORVANE_CLOUD_URL when that is set (tests,
// self-hosting).
QString configuredBaseAddress();

// The scheme and host of the service, without a trailing slash. Starts as
// configuredBaseAddress(); start-up sets it before any request.
QString baseAddress();
void setBaseAddress(const QString& address);

// The form body as sent: names and values percent-encoded from their GBK bytes and joined
// with "=" and "&", so a value holding "&", "=", "+" or "%" arrives intact.
QByteArray formBody(const FormFields& fields);

// "username" and "password" of the account, then the extra fields.
FormFields accountBody(const Account& account, const FormFields& extra = {});

// Sends the action (POST for the account actions, GET for the public ones) and returns the
// reply decoded from UTF-8, without the characters GBK cannot hold and without any "?".
// Blocking; callable from any thread.
Reply request(const QString& act, HttpMethod method, const FormFields& body = {});

// The service answered and its reply contains "True" (exact case, anywhere).
bool succeeded(const Reply& reply);

} // namespace CloudApi
