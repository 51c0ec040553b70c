#pragma once

#include "core/store/local_store.h"
#include "core/store/records.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// One statement with its bound values.
struct ServerQuery {
    QString sql;
    QStringList values;
};

// The list reload: every server in the order of its sort key.
ServerQuery reloadQuery();

// The search of mode `mode` (the text of the mode list) for text `text`; `group` is the
// selected group filter. Unknown or empty modes list every server.
ServerQuery searchQuery(const QString& mode, const QString& text, const QString& group);

// True when the search of mode `mode` cannot run `text` at all: SQLite refuses a LIKE pattern
// of more than 50,000 bytes, which would otherwise look like a broken database.
bool isSearchTextTooLong(const QString& mode, const QString& text);

// Runs `query` on `store`: the servers it finds, in its order. Nothing when the query fails
// (missing table, unreadable file).
std::optional<QList<ServerRecord>> readServers(LocalStore& store, const ServerQuery& query);
// Runs `query` on `store` and hands each server it finds to `take` as it is read; false when
// the query fails.
bool forEachServer(LocalStore& store, const ServerQuery& query,
                   const std::function<void(ServerRecord&& server)>& take);
