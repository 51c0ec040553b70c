#include "core/store/store_actions.h"

#include "core/store/local_store.h"
#include "core/support/log_sink.h"

using namespace Qt::StringLiterals;

namespace StoreActions {

namespace {

// The outcome of the store's last statement: `done`, or why not.
Outcome outcomeOf(const LocalStore& store, bool done) {
    if (done)
        return {true, false, {}};
    return {false, store.isBusy(), store.lastError()};
}

// Opens a connection on `path` and runs `write` on it.
template <typename Write> Outcome onStore(const QString& path, Write write) {
    LocalStore store;
    if (!store.open(path))
        return outcomeOf(store, false);
    const bool done = write(store);
    return outcomeOf(store, done);
}

} // namespace

QString failureText(const QString& failed, const Outcome& outcome) {
    return outcome.busy ? u"%1：%2"_s.arg(failed, kBusyReason) : failed;
}

std::optional<QList<ServerRecord>> readServers(const QString& path, const ServerQuery& query) {
    LocalStore store;
    if (!store.open(path))
        return std::nullopt;
    return ::readServers(store, query);
}

bool forEachServer(const QString& path, const ServerQuery& query,
                   const std::function<void(ServerRecord&& server)>& take) {
    LocalStore store;
    return store.open(path) && ::forEachServer(store, query, take);
}

Groups readGroups(const QString& path) {
    Groups result;
    result.outcome = onStore(path, [&](LocalStore& store) {
        const auto groups = store.groups();
        result.groups = groups.value_or(QList<GroupRecord>());
        return groups.has_value();
    });
    return result;
}

AddedServer addServer(const QString& path, const ServerRecord& server, const LogSink& log) {
    AddedServer result;
    result.outcome = onStore(path, [&](LocalStore& store) {
        result.duplicate = !findServerByAddress(store, server.ip, server.port, log).isEmpty();
        // A duplicate test that met the lock says nothing; the insert would only wait again.
        if (result.duplicate || store.isBusy())
            return false;
        const auto id = store.insertServer(server);
        result.id = id.value_or(0);
        return id.has_value();
    });
    if (result.duplicate)
        result.outcome = {};
    return result;
}

StoredServer loadServer(const QString& path, const QString& id) {
    StoredServer result;
    LocalStore store;
    result.opened = store.open(path);
    if (!result.opened) {
        result.outcome = outcomeOf(store, false);
        return result;
    }
    result.server = store.loadServer(id);
    if (!result.server) {
        result.outcome = outcomeOf(store, false);
        return result;
    }
    const auto groups = store.groups();
    result.groups = groups.value_or(QList<GroupRecord>());
    result.outcome = outcomeOf(store, groups.has_value());
    return result;
}

Outcome updateServer(const QString& path, const ServerRecord& server) {
    return onStore(path, [&](LocalStore& store) { return store.updateServer(server); });
}

Outcome deleteServer(const QString& path, const QString& id) {
    return onStore(path, [&](LocalStore& store) { return store.deleteServer(id); });
}

Outcome insertGroup(const QString& path, const QString& name, const QString& sort) {
    return onStore(path, [&](LocalStore& store) { return store.insertGroup(name, sort); });
}

Outcome updateGroup(const QString& path, const GroupRecord& group, const QString& name,
                    const QString& sort) {
    return onStore(path, [&](LocalStore& store) { return store.updateGroup(group, name, sort); });
}

Outcome deleteGroup(const QString& path, const QString& id) {
    return onStore(path, [&](LocalStore& store) { return store.deleteGroup(id); });
}

SlicedLines::Slice writeSlice(const QString& path, SlicedLines& lines,
                              std::chrono::milliseconds budget, const LogSink& log) {
    LocalStore store;
    if (!store.open(path)) {
        log.logLine(u"-连接数据库失败：%1"_s.arg(path));
        SlicedLines::Slice slice;
        slice.written = false;
        return slice;
    }
    return lines.nextSlice(store, budget, log);
}

} // namespace StoreActions
