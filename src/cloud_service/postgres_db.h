#pragma once

#include "cloud_service/sql_session.h"

#include <string>
#include <unordered_map>

struct pg_conn;

// True for a PostgreSQL connection address ("postgresql://..." or "postgres://...").
bool isPostgresAddress(const std::string& text);

// Why libpq would not take `address`, or what would make it unwise to: nothing when it is
// fine; `holdsPassword` is set when the address carries a password.
std::optional<std::string> postgresAddressProblem(const std::string& address, bool& holdsPassword);

// One libpq connection: every statement is prepared once per connection (its "?" numbered as
// PostgreSQL's "$1", "$2" ...) and run with its values as text.
class PostgresSession final : public SqlSession {
public:
    explicit PostgresSession(pg_conn* connection) : connection_(connection) {}
    ~PostgresSession() override;
    PostgresSession(const PostgresSession&) = delete;
    PostgresSession& operator=(const PostgresSession&) = delete;

    std::optional<SqlRows> run(const std::string& sql,
                               const std::vector<SqlValue>& values = {}) override;
    // BEGIN, then the database-wide advisory lock that such transactions take in turn.
    bool beginExclusive() override;
    bool commit() override;
    void rollback() override;
    // Also notices a connection the server has closed meanwhile (a restart, say).
    bool usable() override;

private:
    // The name of the statement prepared for `sql`; empty when it cannot be prepared.
    std::string prepared(const std::string& sql);

    pg_conn* connection_;
    std::unordered_map<std::string, std::string> statements_;
};

// A PostgreSQL database that several instances of the service share: the accounts, their
// groups and servers, the SMS codes, and the counts of failed log ins and SMS codes.
class PostgresDatabase final : public SqlDatabase {
public:
    explicit PostgresDatabase(std::string address) : address_(std::move(address)) {}

    // Also refuses a database whose text is not UTF-8, which could not hold every value.
    bool prepare(bool create, std::string& error) override;
    std::unique_ptr<SqlSession> connect() override;
    std::unique_ptr<ThrottleBook> throttleBook(SessionPool& pool) override;
    // Says to use pg_dump: the service cannot copy a database it does not own.
    bool backUpTo(const std::string& path, std::string& error) override;
    // The database's name and host, never a password.
    std::string description() const override;

private:
    std::unique_ptr<PostgresSession> connectOrSay(std::string& error);

    std::string address_;
};
