#pragma once

#include <QString>

// One row of server_data. Every value is the text of its column as stored (NULL reads as
// empty); `group` holds the group's name, not an id.
struct ServerRecord {
    QString id;
    QString ip;
    QString user;
    QString password;
    QString port;
    QString sort;
    QString group;
    QString remark;
    QString startTime;
    QString endTime;
    QString name;
    QString system;
    QString panelUrl;
    QString panelUser;
    QString panelPassword;
    QString panelKey;

    bool operator==(const ServerRecord&) const = default;
};

// One row of server_class.
struct GroupRecord {
    QString id;
    QString name;
    QString sort;
};

// The cloud account kept in server_user row id=1; both texts are empty when there is none.
struct StoredAccount {
    QString username;
    QString password;
};
