#pragma once

#include "cloud_service/sql_session.h"
#include "cloud_service/throttle_book.h"

class GroupCommit;
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

// One server of an account as the cloud keeps it: the fields of a server line, in UTF-8.
// The password, panel password and API key are kept exactly as the client sealed them.
struct CloudServer {
    std::string group;
    std::string name;
    std::string address;
    std::string user;
    std::string password;
    std::string port;
    std::string system;
    std::string remark;
    std::string startTime;
    std::string endTime;
    std::string sort;
    std::string panelUrl;
    std::string panelUser;
    std::string panelPassword;
    std::string panelKey;
};

// A server's values as its download line holds them, valid only while they are handed over: the
// eleven fields of CloudServer from `group` to `sort`, then the four panel fields.
using CloudServerLine = std::span<const std::string_view>;

struct CloudGroup {
    std::string name;
    std::string sort;
};

struct CloudAccountRow {
    std::int64_t id = 0;
    std::string passwordHash;
    // The mark of the account's groups and servers, new with each change to them; 0 while
    // none has been given (an account unchanged since before marks were kept).
    std::int64_t dataMark = 0;
};

// One account as the operator's list shows it.
struct CloudAccountSummary {
    std::string username;
    std::string phone;
    std::int64_t servers = 0;
    std::int64_t groups = 0;
    std::string created; // local time, "YYYY-MM-DD HH:MM:SS"
};

struct NewAccount {
    std::string username;
    std::string passwordHash;
    std::string phone;
    std::string qq;
    std::string mail;
};

// Where the store keeps its rows: cloud.db (SQLite) in the data folder, or, when `database` is
// a "postgresql://" address, that PostgreSQL database, which several instances of the service
// may share.
struct StoreLocation {
    std::string dataFolder;
    std::string database;
};

// Every access to the service's rows: accounts, their groups and servers, and the pending SMS
// codes. Every operation that takes an account id touches only that account's rows. Callable
// from many threads: each call borrows a connection of its own from a small pool. The
// database's own error texts go to the service log where they happen.
class CloudStore {
public:
    CloudStore();
    ~CloudStore();
    CloudStore(const CloudStore&) = delete;
    CloudStore& operator=(const CloudStore&) = delete;

    enum class Opening { CreateWhenMissing, ExistingOnly };
    // Opens the database (creating it, or its tables, when missing and allowed).
    bool open(const StoreLocation& location, std::string& error,
              Opening opening = Opening::CreateWhenMissing);
    // Which database it is, for log lines.
    std::string description() const;
    // Where the service counts failed log ins and SMS codes: shared with the other instances
    // on the same PostgreSQL database, in this process's memory with SQLite.
    std::unique_ptr<ThrottleBook> throttleBook();
    // True when the store answers a query (the service's health).
    bool reachable();

    std::optional<CloudAccountRow> findAccount(const std::string& username);

    enum class SmsIssue { Issued, TooSoon, Failed };
    // Stores `code` for `phone`, replacing an older one, unless the last code for that phone
    // was issued less than `minimumGap` seconds before `now`.
    SmsIssue issueSmsCode(const std::string& phone, const std::string& code, std::int64_t now,
                          std::int64_t minimumGap);
    // Forgets the code just issued (when it could not be handed on).
    void dropSmsCode(const std::string& phone);
    // True when `code` is the current code of `phone`, issued at most `lifetime` seconds ago
    // and not used up by too many wrong guesses. A wrong guess counts against the code.
    bool smsCodeMatches(const std::string& phone, const std::string& code, std::int64_t now,
                        std::int64_t lifetime);

    enum class Registration { Registered, NameTaken, CodeGone, Failed };
    // In one transaction: uses up the phone's code (which must still match) and adds the
    // account.
    Registration registerAccount(const NewAccount& account, const std::string& code,
                                 std::int64_t now, std::int64_t lifetime);

    // Replaces the password hash only while it is still `oldHash`, so two changes at once
    // cannot both win on the same old password.
    bool replacePasswordHash(std::int64_t accountId, const std::string& oldHash,
                             const std::string& newHash);

    // Insert or update by name within the account. Writes of several requests at once may
    // share a transaction; each still succeeds or fails on its own.
    bool putGroup(std::int64_t accountId, const CloudGroup& group);
    // Insert or update by (address, port) within the account.
    bool putServer(std::int64_t accountId, const CloudServer& server);
    // In the order they were first stored; nothing when the database cannot be read.
    std::optional<std::vector<CloudGroup>> groups(std::int64_t accountId);
    // The servers likewise, each handed to `take` as it is read (a download reads many); false
    // when the database cannot be read.
    bool forEachServer(std::int64_t accountId, const std::function<void(CloudServerLine)>& take);
    // Removes the account's groups and servers (the account stays).
    bool clearData(std::int64_t accountId);

    // For the operator: every account by name, with the count of its servers and groups.
    std::optional<std::vector<CloudAccountSummary>> accounts();
    enum class AccountChange { Done, NoSuchAccount, Failed };
    // Replaces the named account's password hash whatever it was.
    AccountChange setPasswordHash(const std::string& username, const std::string& hash);
    // Removes the named account with its groups and servers, in one transaction.
    AccountChange deleteAccount(const std::string& username);
    // SQLite: writes a consistent copy of the whole file to `path` while requests go on,
    // through a file beside it that takes the name only once complete. PostgreSQL databases
    // are backed up with their own tools; this says so in `error`.
    bool backUpTo(const std::string& path, std::string& error);

private:
    std::unique_ptr<SqlDatabase> database_;
    std::unique_ptr<SessionPool> pool_;
    // The writes of uploads, committed together when they arrive together.
    std::unique_ptr<GroupCommit> writes_;
};
