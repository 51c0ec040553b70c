#include "cloud_service/cloud_store.h"

#include "cloud_service/group_commit.h"
#include "cloud_service/postgres_db.h"
#include "cloud_service/sqlite_db.h"

#include <sodium.h>

#include <algorithm>
#include <ctime>
#include <random>

namespace {

constexpr const char* kFileName = "cloud.db";
// A code that was guessed wrong this often is void: six digits must not be guessable by
// trying them one after another.
constexpr std::int64_t kMaxWrongGuesses = 5;

using Lease = SessionPool::Lease;

bool sameCode(const std::string& stored, const std::string& given) {
    return stored.size() == given.size() &&
           sodium_memcmp(stored.data(), given.data(), stored.size()) == 0;
}

// Gives each account's groups and servers a new mark, in the transaction of their change: a
// download any instance made for the old mark is then known to be out of date. Random, so that
// no two changes on any instance share a mark; never 0, which stands for no mark. Each thread
// draws from a generator of its own, seeded once from the system's randomness.
bool markChanged(SqlSession& db, const std::vector<std::int64_t>& accountIds) {
    thread_local std::mt19937_64 marks = [] {
        std::seed_seq seed{randombytes_random(), randombytes_random(), randombytes_random(),
                           randombytes_random()};
        return std::mt19937_64(seed);
    }();
    for (const std::int64_t accountId : accountIds) {
        std::int64_t mark = 0;
        while (mark == 0)
            mark = std::int64_t(marks() >> 1);
        if (!db.run("INSERT INTO account_change (account_id, mark) VALUES (?, ?) "
                    "ON CONFLICT (account_id) DO UPDATE SET mark = excluded.mark",
                    {accountId, mark}))
            return false;
    }
    return true;
}

// The phone's code while it is still usable at `now`.
std::optional<std::string> usableCode(SqlSession& db, const std::string& phone, std::int64_t now,
                                      std::int64_t lifetime) {
    const auto rows = db.run("SELECT code FROM sms_code WHERE phone = ? AND issued >= ? "
                             "AND wrong_guesses < ?",
                             {phone, now - lifetime, kMaxWrongGuesses});
    if (!rows || rows->empty())
        return std::nullopt;
    return rows->front()[0];
}

// Seconds since the Unix epoch as local time, "YYYY-MM-DD HH:MM:SS".
std::string localTime(const std::string& epochSeconds) {
    const auto seconds = std::time_t(std::stoll(epochSeconds));
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// Rows changed by a statement that returns one row per changed row.
CloudStore::AccountChange changeOf(const std::optional<SqlRows>& returned) {
    if (!returned)
        return CloudStore::AccountChange::Failed;
    return returned->empty() ? CloudStore::AccountChange::NoSuchAccount
                             : CloudStore::AccountChange::Done;
}

} // namespace

CloudStore::CloudStore() = default;
CloudStore::~CloudStore() = default;

bool CloudStore::open(const StoreLocation& location, std::string& error, Opening opening) {
    if (isPostgresAddress(location.database))
        database_ = std::make_unique<PostgresDatabase>(location.database);
    else
        database_ = std::make_unique<SqliteDatabase>(location.dataFolder + "/" + kFileName);
    pool_ = std::make_unique<SessionPool>(*database_);
    writes_ = std::make_unique<GroupCommit>(*pool_, markChanged);
    return database_->prepare(opening == Opening::CreateWhenMissing, error);
}

std::string CloudStore::description() const {
    return database_->description();
}

std::unique_ptr<ThrottleBook> CloudStore::throttleBook() {
    return database_->throttleBook(*pool_);
}

bool CloudStore::reachable() {
    Lease db(*pool_);
    return db && db->run("SELECT 1 FROM account LIMIT 1").has_value();
}

std::optional<CloudAccountRow> CloudStore::findAccount(const std::string& username) {
    Lease db(*pool_);
    if (!db)
        return std::nullopt;
    const auto rows = db->run("SELECT id, password_hash, COALESCE(mark, 0) FROM account "
                              "LEFT JOIN account_change ON account_id = id WHERE username = ?",
                              {username});
    if (!rows || rows->empty())
        return std::nullopt;
    return CloudAccountRow{std::stoll(rows->front()[0]), rows->front()[1],
                           std::stoll(rows->front()[2])};
}

CloudStore::SmsIssue CloudStore::issueSmsCode(const std::string& phone, const std::string& code,
                                              std::int64_t now, std::int64_t minimumGap) {
    Lease db(*pool_);
    if (!db)
        return SmsIssue::Failed;
    SqlTransaction transaction(*db);
    if (!transaction.began())
        return SmsIssue::Failed;
    const auto recent =
        db->run("SELECT 1 FROM sms_code WHERE phone = ? AND issued > ?", {phone, now - minimumGap});
    if (!recent)
        return SmsIssue::Failed;
    if (!recent->empty())
        return SmsIssue::TooSoon;
    const auto stored = db->run("INSERT INTO sms_code (phone, code, issued, wrong_guesses) "
                                "VALUES (?, ?, ?, 0) ON CONFLICT (phone) DO UPDATE SET "
                                "code = excluded.code, issued = excluded.issued, wrong_guesses = 0",
                                {phone, code, now});
    return stored && transaction.commit() ? SmsIssue::Issued : SmsIssue::Failed;
}

void CloudStore::dropSmsCode(const std::string& phone) {
    Lease db(*pool_);
    if (db)
        db->run("DELETE FROM sms_code WHERE phone = ?", {phone});
}

bool CloudStore::smsCodeMatches(const std::string& phone, const std::string& code, std::int64_t now,
                                std::int64_t lifetime) {
    Lease db(*pool_);
    if (!db)
        return false;
    SqlTransaction transaction(*db);
    if (!transaction.began())
        return false;
    const auto stored = usableCode(*db, phone, now, lifetime);
    if (!stored)
        return false;
    if (sameCode(*stored, code))
        return true;
    db->run("UPDATE sms_code SET wrong_guesses = wrong_guesses + 1 WHERE phone = ?", {phone});
    transaction.commit();
    return false;
}

CloudStore::Registration CloudStore::registerAccount(const NewAccount& account,
                                                     const std::string& code, std::int64_t now,
                                                     std::int64_t lifetime) {
    Lease db(*pool_);
    if (!db)
        return Registration::Failed;
    SqlTransaction transaction(*db);
    if (!transaction.began())
        return Registration::Failed;
    const auto stored = usableCode(*db, account.phone, now, lifetime);
    if (!stored || !sameCode(*stored, code))
        return Registration::CodeGone;
    const auto taken = db->run("SELECT 1 FROM account WHERE username = ?", {account.username});
    if (!taken)
        return Registration::Failed;
    if (!taken->empty())
        return Registration::NameTaken;
    const bool added = db->run("INSERT INTO account (username, password_hash, phone, qq, mail) "
                               "VALUES (?, ?, ?, ?, ?)",
                               {account.username, account.passwordHash, account.phone, account.qq,
                                account.mail}) &&
                       db->run("DELETE FROM sms_code WHERE phone = ?", {account.phone});
    return added && transaction.commit() ? Registration::Registered : Registration::Failed;
}

bool CloudStore::replacePasswordHash(std::int64_t accountId, const std::string& oldHash,
                                     const std::string& newHash) {
    Lease db(*pool_);
    if (!db)
        return false;
    const auto changed = db->run("UPDATE account SET password_hash = ? WHERE id = ? "
                                 "AND password_hash = ? RETURNING id",
                                 {newHash, accountId, oldHash});
    return changed && changed->size() == 1;
}

bool CloudStore::putGroup(std::int64_t accountId, const CloudGroup& group) {
    return writes_->run(
        [&](SqlSession& db) {
            return db
                .run("INSERT INTO server_group (account_id, name, sort) VALUES (?, ?, ?) "
                     "ON CONFLICT (account_id, name) DO UPDATE SET sort = excluded.sort",
                     {accountId, group.name, group.sort})
                .has_value();
        },
        accountId);
}

bool CloudStore::putServer(std::int64_t accountId, const CloudServer& s) {
    // Uploads send one request per server: those arriving together are committed together.
    return writes_->run(
        [&](SqlSession& db) {
            return db
                .run("INSERT INTO server (account_id, address, port, group_name, name, user_name, "
                     "password, system, remark, start_time, end_time, sort, panel_url, panel_user, "
                     "panel_password, panel_key) "
                     "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                     "ON CONFLICT (account_id, address, port) DO UPDATE SET "
                     "group_name = excluded.group_name, name = excluded.name, "
                     "user_name = excluded.user_name, password = excluded.password, "
                     "system = excluded.system, remark = excluded.remark, "
                     "start_time = excluded.start_time, end_time = excluded.end_time, "
                     "sort = excluded.sort, panel_url = excluded.panel_url, "
                     "panel_user = excluded.panel_user, panel_password = excluded.panel_password, "
                     "panel_key = excluded.panel_key",
                     {accountId, s.address, s.port, s.group, s.name, s.user, s.password, s.system,
                      s.remark, s.startTime, s.endTime, s.sort, s.panelUrl, s.panelUser,
                      s.panelPassword, s.panelKey})
                .has_value();
        },
        accountId);
}

std::optional<std::vector<CloudGroup>> CloudStore::groups(std::int64_t accountId) {
    Lease db(*pool_);
    if (!db)
        return std::nullopt;
    std::vector<CloudGroup> groups;
    const bool read =
        db->forEachRow("SELECT name, sort FROM server_group WHERE account_id = ? ORDER BY id",
                       {accountId}, [&groups](const SqlColumns& r) {
                           groups.push_back({std::string(r[0]), std::string(r[1])});
                       });
    if (!read)
        return std::nullopt;
    return groups;
}

bool CloudStore::forEachServer(std::int64_t accountId,
                               const std::function<void(CloudServerLine)>& take) {
    Lease db(*pool_);
    // The columns in the order of a download line: each row goes straight into the reply.
    return db && db->forEachRow("SELECT group_name, name, address, user_name, password, port, "
                                "system, remark, start_time, end_time, sort, panel_url, "
                                "panel_user, panel_password, panel_key "
                                "FROM server WHERE account_id = ? ORDER BY id",
                                {accountId}, [&take](const SqlColumns& row) { take(row); });
}

bool CloudStore::clearData(std::int64_t accountId) {
    Lease db(*pool_);
    if (!db)
        return false;
    SqlTransaction transaction(*db);
    return transaction.began() && db->run("DELETE FROM server WHERE account_id = ?", {accountId}) &&
           db->run("DELETE FROM server_group WHERE account_id = ?", {accountId}) &&
           markChanged(*db, {accountId}) && transaction.commit();
}

std::optional<std::vector<CloudAccountSummary>> CloudStore::accounts() {
    Lease db(*pool_);
    if (!db)
        return std::nullopt;
    const auto rows = db->run("SELECT username, phone, "
                              "(SELECT count(*) FROM server WHERE account_id = account.id), "
                              "(SELECT count(*) FROM server_group WHERE account_id = account.id), "
                              "created FROM account");
    if (!rows)
        return std::nullopt;
    std::vector<CloudAccountSummary> accounts;
    for (const auto& r : *rows)
        accounts.push_back({r[0], r[1], std::stoll(r[2]), std::stoll(r[3]), localTime(r[4])});
    // By the names' bytes, whatever collation the database would sort by.
    std::sort(accounts.begin(), accounts.end(),
              [](const CloudAccountSummary& a, const CloudAccountSummary& b) {
                  return a.username < b.username;
              });
    return accounts;
}

CloudStore::AccountChange CloudStore::setPasswordHash(const std::string& username,
                                                      const std::string& hash) {
    Lease db(*pool_);
    if (!db)
        return AccountChange::Failed;
    return changeOf(db->run("UPDATE account SET password_hash = ? WHERE username = ? RETURNING id",
                            {hash, username}));
}

CloudStore::AccountChange CloudStore::deleteAccount(const std::string& username) {
    Lease db(*pool_);
    if (!db)
        return AccountChange::Failed;
    SqlTransaction transaction(*db);
    if (!transaction.began())
        return AccountChange::Failed;
    const auto found = db->run("SELECT id FROM account WHERE username = ?", {username});
    if (!found)
        return AccountChange::Failed;
    if (found->empty())
        return AccountChange::NoSuchAccount;
    const std::int64_t id = std::stoll(found->front()[0]);
    const bool deleted = db->run("DELETE FROM server WHERE account_id = ?", {id}) &&
                         db->run("DELETE FROM server_group WHERE account_id = ?", {id}) &&
                         db->run("DELETE FROM account_change WHERE account_id = ?", {id}) &&
                         db->run("DELETE FROM account WHERE id = ?", {id}) && transaction.commit();
    return deleted ? AccountChange::Done : AccountChange::Failed;
}

bool CloudStore::backUpTo(const std::string& path, std::string& error) {
    return database_->backUpTo(path, error);
}
