#pragma once

#include <array>

// The columns of the store's server table after its id and account, the same in SQLite and
// PostgreSQL; each database's schema puts its own types for the ids around them.
inline constexpr const char* kServerColumns = R"sql(
    address TEXT NOT NULL,
    port TEXT NOT NULL,
    group_name TEXT NOT NULL,
    name TEXT NOT NULL,
    user_name TEXT NOT NULL,
    password TEXT NOT NULL,
    system TEXT NOT NULL,
    remark TEXT NOT NULL,
    start_time TEXT NOT NULL,
    end_time TEXT NOT NULL,
    sort TEXT NOT NULL,
    panel_url TEXT NOT NULL,
    panel_user TEXT NOT NULL,
    panel_password TEXT NOT NULL,
    panel_key TEXT NOT NULL,
    UNIQUE (account_id, address, port))sql";

// An account's groups and servers found without reading the whole table when it downloads
// them; in SQLite the index entries of one account follow its row ids, so its rows need no
// sorting either. The same in both databases.
inline constexpr std::array<const char*, 2> kAccountIndexes = {
    "CREATE INDEX IF NOT EXISTS server_by_account ON server (account_id)",
    "CREATE INDEX IF NOT EXISTS server_group_by_account ON server_group (account_id)"};
