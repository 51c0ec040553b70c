#pragma once

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
