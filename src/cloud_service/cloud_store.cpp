#include "cloud_service/cloud_store.h"

#include "cloud_service/service_log.h"

#include <sodium.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {

constexpr const char* kFileName = "cloud.db";
// A code that was guessed wrong this often is void: six digits must not be guessable by
// trying them one after another.
constexpr std::int64_t kMaxWrongGuesses = 5;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS account (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    username TEXT NOT NULL UNIQUE,
    password_hash TEXT NOT NULL,
    phone TEXT NOT NULL,
    qq TEXT NOT NULL,
    mail TEXT NOT NULL,
    created INTEGER NOT NULL DEFAULT (strftime('%s', 'now'))
);
CREATE TABLE IF NOT EXISTS server_group (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    account_id INTEGER NOT NULL REFERENCES account(id),
    name TEXT NOT NULL,
    sort TEXT NOT NULL,
    UNIQUE (account_id, name)
);
CREATE TABLE IF NOT EXISTS server (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    account_id INTEGER NOT NULL REFERENCES account(id),
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
    UNIQUE (account_id, address, port)
);
CREATE TABLE IF NOT EXISTS sms_code (
    phone TEXT PRIMARY KEY,
    code TEXT NOT NULL,
    issued INTEGER NOT NULL,
    wrong_guesses INTEGER NOT NULL DEFAULT 0
);
)sql";

bool sameCode(const std::string& stored, const std::string& given) {
    return stored.size() == given.size() &&
           sodium_memcmp(stored.data(), given.data(), stored.size()) == 0;
}

// The phone's code while it is still usable at `now`.
std::optional<std::string> usableCode(SqliteDb& db, const std::string& phone, std::int64_t now,
                                      std::int64_t lifetime) {
    const auto rows = db.run("SELECT code FROM sms_code WHERE phone = ? AND issued >= ? "
                             "AND wrong_guesses < ?",
                             {phone, now - lifetime, kMaxWrongGuesses});
    if (!rows || rows->empty())
        return std::nullopt;
    return rows->front()[0];
}

} // namespace

// A connection borrowed from the pool for one operation, given back when it goes away.
class CloudStore::Lease {
public:
    explicit Lease(CloudStore& store) : store_(store), db_(store.borrow()) {}
    ~Lease() {
        if (db_)
            store_.giveBack(std::move(db_));
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

    explicit operator bool() const { return db_ != nullptr; }
    SqliteDb& db() { return *db_; }

private:
    CloudStore& store_;
    std::unique_ptr<SqliteDb> db_;
};

bool CloudStore::open(const std::string& dataFolder, std::string& error, Opening opening) {
    path_ = dataFolder + "/" + kFileName;
    auto db = std::make_unique<SqliteDb>();
    if (!db->open(path_, opening == Opening::CreateWhenMissing) || !createTables(*db)) {
        error = path_ + ": " + db->lastError();
        return false;
    }
    giveBack(std::move(db));
    return true;
}

bool CloudStore::createTables(SqliteDb& db) {
    return db.execute(kSchema);
}

std::unique_ptr<SqliteDb> CloudStore::borrow() {
    {
        std::lock_guard guard(lock_);
        if (!idle_.empty()) {
            auto db = std::move(idle_.back());
            idle_.pop_back();
            return db;
        }
    }
    auto db = std::make_unique<SqliteDb>();
    if (!db->open(path_)) {
        ServiceLog::line("cannot open " + path_ + ": " + db->lastError());
        return nullptr;
    }
    return db;
}

void CloudStore::giveBack(std::unique_ptr<SqliteDb> db) {
    std::lock_guard guard(lock_);
    idle_.push_back(std::move(db));
}

bool CloudStore::reachable() {
    Lease lease(*this);
    return lease && lease.db().run("SELECT 1 FROM account LIMIT 1").has_value();
}

std::optional<CloudAccountRow> CloudStore::findAccount(const std::string& username) {
    Lease lease(*this);
    if (!lease)
        return std::nullopt;
    const auto rows =
        lease.db().run("SELECT id, password_hash FROM account WHERE username = ?", {username});
    if (!rows || rows->empty())
        return std::nullopt;
    return CloudAccountRow{std::stoll(rows->front()[0]), rows->front()[1]};
}

CloudStore::SmsIssue CloudStore::issueSmsCode(const std::string& phone, const std::string& code,
                                              std::int64_t now, std::int64_t minimumGap) {
    Lease lease(*this);
    if (!lease)
        return SmsIssue::Failed;
    SqliteDb& db = lease.db();
    WriteTransaction transaction(db);
    if (!transaction.began())
        return SmsIssue::Failed;
    const auto recent =
        db.run("SELECT 1 FROM sms_code WHERE phone = ? AND issued > ?", {phone, now - minimumGap});
    if (!recent)
        return SmsIssue::Failed;
    if (!recent->empty())
        return SmsIssue::TooSoon;
    const auto stored = db.run("INSERT OR REPLACE INTO sms_code (phone, code, issued, "
                               "wrong_guesses) VALUES (?, ?, ?, 0)",
                               {phone, code, now});
    return stored && transaction.commit() ? SmsIssue::Issued : SmsIssue::Failed;
}

void CloudStore::dropSmsCode(const std::string& phone) {
    Lease lease(*this);
    if (lease)
        lease.db().run("DELETE FROM sms_code WHERE phone = ?", {phone});
}

bool CloudStore::smsCodeMatches(const std::string& phone, const std::string& code, std::int64_t now,
                                std::int64_t lifetime) {
    Lease lease(*this);
    if (!lease)
        return false;
    SqliteDb& db = lease.db();
    WriteTransaction transaction(db);
    if (!transaction.began())
        return false;
    const auto stored = usableCode(db, phone, now, lifetime);
    if (!stored)
        return false;
    if (sameCode(*stored, code))
        return true;
    db.run("UPDATE sms_code SET wrong_guesses = wrong_guesses + 1 WHERE phone = ?", {phone});
    transaction.commit();
    return false;
}

CloudStore::Registration CloudStore::registerAccount(const NewAccount& account,
                                                     const std::string& code, std::int64_t now,
                                                     std::int64_t lifetime) {
    Lease lease(*this);
    if (!lease)
        return Registration::Failed;
    SqliteDb& db = lease.db();
    WriteTransaction transaction(db);
    if (!transaction.began())
        return Registration::Failed;
    const auto stored = usableCode(db, account.phone, now, lifetime);
    if (!stored || !sameCode(*stored, code))
        return Registration::CodeGone;
    const auto taken = db.run("SELECT 1 FROM account WHERE username = ?", {account.username});
    if (!taken)
        return Registration::Failed;
    if (!taken->empty())
        return Registration::NameTaken;
    const bool added =
        db.run("INSERT INTO account (username, password_hash, phone, qq, mail) "
               "VALUES (?, ?, ?, ?, ?)",
               {account.username, account.passwordHash, account.phone, account.qq, account.mail}) &&
        db.run("DELETE FROM sms_code WHERE phone = ?", {account.phone});
    return added && transaction.commit() ? Registration::Registered : Registration::Failed;
}

bool CloudStore::replacePasswordHash(std::int64_t accountId, const std::string& oldHash,
                                     const std::string& newHash) {
    Lease lease(*this);
    if (!lease)
        return false;
    return lease.db().run("UPDATE account SET password_hash = ? WHERE id = ? "
                          "AND password_hash = ?",
                          {newHash, accountId, oldHash}) &&
           lease.db().changes() == 1;
}

bool CloudStore::putGroup(std::int64_t accountId, const CloudGroup& group) {
    Lease lease(*this);
    if (!lease)
        return false;
    return lease.db()
        .run("INSERT INTO server_group (account_id, name, sort) VALUES (?, ?, ?) "
             "ON CONFLICT (account_id, name) DO UPDATE SET sort = excluded.sort",
             {accountId, group.name, group.sort})
        .has_value();
}

bool CloudStore::putServer(std::int64_t accountId, const CloudServer& s) {
    Lease lease(*this);
    if (!lease)
        return false;
    return lease.db()
        .run("INSERT INTO server (account_id, address, port, group_name, name, user_name, "
             "password, system, remark, start_time, end_time, sort, panel_url, panel_user, "
             "panel_password, panel_key) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
             "ON CONFLICT (account_id, address, port) DO UPDATE SET "
             "group_name = excluded.group_name, name = excluded.name, "
             "user_name = excluded.user_name, password = excluded.password, "
             "system = excluded.system, remark = excluded.remark, "
             "start_time = excluded.start_time, end_time = excluded.end_time, "
             "sort = excluded.sort, panel_url = excluded.panel_url, "
             "panel_user = excluded.panel_user, panel_password = excluded.panel_password, "
             "panel_key = excluded.panel_key",
             {accountId, s.address, s.port, s.group, s.name, s.user, s.password, s.system, s.remark,
              s.startTime, s.endTime, s.sort, s.panelUrl, s.panelUser, s.panelPassword, s.panelKey})
        .has_value();
}

std::optional<std::vector<CloudGroup>> CloudStore::groups(std::int64_t accountId) {
    Lease lease(*this);
    if (!lease)
        return std::nullopt;
    const auto rows = lease.db().run(
        "SELECT name, sort FROM server_group WHERE account_id = ? ORDER BY id", {accountId});
    if (!rows)
        return std::nullopt;
    std::vector<CloudGroup> groups;
    for (const auto& row : *rows)
        groups.push_back({row[0], row[1]});
    return groups;
}

std::optional<std::vector<CloudServer>> CloudStore::servers(std::int64_t accountId) {
    Lease lease(*this);
    if (!lease)
        return std::nullopt;
    const auto rows = lease.db().run(
        "SELECT group_name, name, address, user_name, password, port, system, remark, "
        "start_time, end_time, sort, panel_url, panel_user, panel_password, panel_key "
        "FROM server WHERE account_id = ? ORDER BY id",
        {accountId});
    if (!rows)
        return std::nullopt;
    std::vector<CloudServer> servers;
    for (const auto& r : *rows)
        servers.push_back({r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7], r[8], r[9], r[10], r[11],
                           r[12], r[13], r[14]});
    return servers;
}

bool CloudStore::clearData(std::int64_t accountId) {
    Lease lease(*this);
    if (!lease)
        return false;
    SqliteDb& db = lease.db();
    WriteTransaction transaction(db);
    return transaction.began() && db.run("DELETE FROM server WHERE account_id = ?", {accountId}) &&
           db.run("DELETE FROM server_group WHERE account_id = ?", {accountId}) &&
           transaction.commit();
}

std::optional<std::vector<CloudAccountSummary>> CloudStore::accounts() {
    Lease lease(*this);
    if (!lease)
        return std::nullopt;
    const auto rows = lease.db().run(
        "SELECT username, phone, "
        "(SELECT count(*) FROM server WHERE account_id = account.id), "
        "(SELECT count(*) FROM server_group WHERE account_id = account.id), "
        "datetime(created, 'unixepoch', 'localtime') FROM account ORDER BY username");
    if (!rows)
        return std::nullopt;
    std::vector<CloudAccountSummary> accounts;
    for (const auto& r : *rows)
        accounts.push_back({r[0], r[1], std::stoll(r[2]), std::stoll(r[3]), r[4]});
    return accounts;
}

CloudStore::AccountChange CloudStore::setPasswordHash(const std::string& username,
                                                      const std::string& hash) {
    Lease lease(*this);
    if (!lease)
        return AccountChange::Failed;
    if (!lease.db().run("UPDATE account SET password_hash = ? WHERE username = ?",
                        {hash, username}))
        return AccountChange::Failed;
    return lease.db().changes() == 1 ? AccountChange::Done : AccountChange::NoSuchAccount;
}

CloudStore::AccountChange CloudStore::deleteAccount(const std::string& username) {
    Lease lease(*this);
    if (!lease)
        return AccountChange::Failed;
    SqliteDb& db = lease.db();
    WriteTransaction transaction(db);
    if (!transaction.began())
        return AccountChange::Failed;
    const auto found = db.run("SELECT id FROM account WHERE username = ?", {username});
    if (!found)
        return AccountChange::Failed;
    if (found->empty())
        return AccountChange::NoSuchAccount;
    const std::int64_t id = std::stoll(found->front()[0]);
    const bool deleted = db.run("DELETE FROM server WHERE account_id = ?", {id}) &&
                         db.run("DELETE FROM server_group WHERE account_id = ?", {id}) &&
                         db.run("DELETE FROM account WHERE id = ?", {id}) && transaction.commit();
    return deleted ? AccountChange::Done : AccountChange::Failed;
}

bool CloudStore::backUpTo(const std::string& path, std::string& error) {
    Lease lease(*this);
    if (!lease) {
        error = "cannot open " + path_;
        return false;
    }
    // Renaming the copy over the live file would leave the service writing to a file that is
    // gone from the folder.
    std::error_code notTheSame;
    if (std::filesystem::equivalent(path, path_, notTheSame)) {
        error = path + " is the service's own database";
        return false;
    }
    const std::string partial = path + ".partial";
    std::remove(partial.c_str());
    if (!lease.db().copyTo(partial, error)) {
        std::remove(partial.c_str());
        return false;
    }
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
        error = path + ": " + std::strerror(errno);
        std::remove(partial.c_str());
        return false;
    }
    return true;
}
