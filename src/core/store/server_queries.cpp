#include "core/store/server_queries.h"

#include "core/codec/gbk_codec.h"
#include "core/store/store_connection.h"

#include <algorithm>

using namespace Qt::StringLiterals;

ServerQuery reloadQuery() {
    return {uR"(select * from server_data  ORDER BY "sort")"_s, {}};
}

ServerQuery searchQuery(const QString& mode, const QString& text, const QString& group) {
    const QString contains = u'%' + text + u'%';
    if (mode == u"分组名称")
        return {u"select * from server_data where server_class=?"_s, {group}};
    if (mode == u"服务器名称")
        return {u"select * from server_data where server_name like ?"_s, {contains}};
    if (mode == u"服务器IP")
        return {u"select * from server_data where server_ip like ?"_s, {contains}};
    if (mode == u"备注")
        return {u"select * from server_data where remark like ?"_s, {contains}};
    if (mode == u"系统")
        return {u"select * from server_data where server_system like ?"_s, {contains}};
    // Only the system is matched by containment here; remark, address and name must equal
    // the text (LIKE: ASCII letters in either case).
    if (mode == u"综合查询")
        return {u"select * from server_data where server_system like ? or remark like ? or "
                u"server_ip like ? or server_name like ?"_s,
                {contains, text, text, text}};
    return {u"select * from server_data"_s, {}};
}

bool isSearchTextTooLong(const QString& mode, const QString& text) {
    // SQLite's SQLITE_MAX_LIKE_PATTERN_LENGTH; the pattern is "%" + text + "%".
    constexpr qsizetype kMaxPatternBytes = 50000;
    const ServerQuery query = searchQuery(mode, text, QString());
    return std::any_of(query.values.begin(), query.values.end(), [](const QString& value) {
        return Gbk::encode(value).size() > kMaxPatternBytes;
    });
}

std::optional<QList<ServerRecord>> readServers(LocalStore& store, const ServerQuery& query) {
    QList<ServerRecord> servers;
    if (!forEachServer(store, query, [&](ServerRecord&& server) { servers << std::move(server); }))
        return std::nullopt;
    return servers;
}

bool forEachServer(LocalStore& store, const ServerQuery& query,
                   const std::function<void(ServerRecord&& server)>& take) {
    return forEachServerRecord(store.connection(), query.sql, query.values, take);
}
