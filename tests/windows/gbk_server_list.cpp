#include "gbk_server_list.h"

#include "core/store/store_template.h"

#include <QFile>

#include <sqlite3.h>

#include <memory>

namespace {

using Database = std::unique_ptr<sqlite3, decltype(&sqlite3_close)>;
using Statement = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

bool run(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool insert(sqlite3* db, const char* sql, const QList<QByteArray>& values) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK)
        return false;
    const Statement statement(raw, &sqlite3_finalize);
    for (int i = 0; i < values.size(); ++i)
        sqlite3_bind_text(raw, i + 1, values[i].constData(), int(values[i].size()),
                          SQLITE_TRANSIENT);
    return sqlite3_step(raw) == SQLITE_DONE;
}

} // namespace

namespace GbkServerList {

bool write(const QString& path, int count) {
    QFile::remove(path);
    if (!StoreTemplate::write(path))
        return false;
    sqlite3* raw = nullptr;
    const int opened =
        sqlite3_open_v2(QFile::encodeName(path).constData(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    const Database db(raw, &sqlite3_close);
    if (opened != SQLITE_OK || !run(raw, "BEGIN") ||
        !insert(raw, "INSERT INTO server_class (server_class, sort) VALUES (?, '60')",
                {kProductionGroup}))
        return false;
    for (int n = 1; n <= count; ++n) {
        const bool windows = n % 2 == 1;
        if (!insert(raw,
                    "INSERT INTO server_data (server_ip, server_user, server_pass, server_port, "
                    "sort, server_class, remark, start_time, end_time, server_name, "
                    "server_system) VALUES (?, ?, ?, ?, '50', ?, ?, '2024-6-6 9:5:7', "
                    "'2030-6-6 9:5:7', ?, ?)",
                    {"127.0.0." + QByteArray::number(n % 250 + 1),
                     windows ? "administrator" : "root",
                     windows ? kWindowsPassword : kLinuxPassword, windows ? "3389" : "22",
                     kProductionGroup, kRemark, kTestServer + QByteArray::number(n),
                     windows ? "windows" : "linux"}))
            return false;
    }
    return run(raw, "COMMIT");
}

} // namespace GbkServerList
