#pragma once

#include "core/cloud/cloud_api.h"
#include "core/store/records.h"

#include <QByteArrayView>
#include <QString>

#include <functional>

// The promise of the cloud copy: a server or group the service accepts comes back from a
// download field-equal to what went up. Rows are made from bytes (a fuzzer's input, or
// random bytes), sent the way the upload sends them, and read back the way the download
// reads them.
namespace CloudRoundTrip {

// A server and a group as the store could hold them.
struct Rows {
    ServerRecord server;
    GroupRecord group;
};

// Every two bytes add one piece of text ("中文", "-", "?", a blank, quotes, form characters;
// now and then "----", a line break or an emoji) to one of the seventeen fields, which the
// first byte picks. Fields no pair picks stay empty.
Rows rowsFromBytes(QByteArrayView bytes);

// One action and its form, answered as CloudApi::request answers: over HTTP, or straight
// from a service object in the same process.
using Exchange =
    std::function<CloudApi::Reply(const QString& act, const CloudApi::FormFields& fields)>;

struct Outcome {
    // The rows hold a character the store cannot keep: the client refuses them before any
    // upload, so they never reach the service.
    bool refusedByClient = false;
    int serversAccepted = 0;
    int groupsAccepted = 0;
    // Empty when the promise held; otherwise what broke it.
    QString broken;
};

// Empties the account's cloud copy, uploads the server and the group, and downloads both
// back. A refusal must give its reason after "False:"; an accepted row must come back alone
// and field-equal.
Outcome check(const Exchange& exchange, const CloudApi::Account& account, const Rows& rows);

} // namespace CloudRoundTrip
