#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class ThrottleBook;

// A value bound to one "?" of a statement: UTF-8 text or a whole number.
struct SqlValue {
    SqlValue(std::string value) : text(std::move(value)) {}
    SqlValue(const char* value) : text(value) {}
    SqlValue(std::int64_t value) : number(value), isNumber(true) {}
    std::string text;
    std::int64_t number = 0;
    bool isNumber = false;
};

// A row read as text; NULL reads as empty text.
using SqlRow = std::vector<std::string>;
using SqlRows = std::vector<SqlRow>;
// The columns of one row as text (NULL reads as empty), valid only until the next row.
using SqlColumns = std::vector<std::string_view>;

// One connection to the cloud store's database, used by one thread at a time. The store's
// statements are written once, in the SQL that SQLite and PostgreSQL both speak, with "?" for
// each value.
class SqlSession {
public:
    virtual ~SqlSession() = default;

    // Runs one statement with its "?" bound to `values` in order; the rows it returns, or
    // nothing when it failed (and the log says why).
    std::optional<SqlRows> run(const std::string& sql, const std::vector<SqlValue>& values = {}) {
        SqlRows rows;
        if (!forEachRow(sql, values, [&rows](const SqlColumns& row) {
                rows.emplace_back(row.begin(), row.end());
            }))
            return std::nullopt;
        return rows;
    }
    // The same, handing each row to `take` as it is read instead of keeping them all: a
    // download reads many rows. False when it failed (and the log says why).
    virtual bool forEachRow(const std::string& sql, const std::vector<SqlValue>& values,
                            const std::function<void(const SqlColumns&)>& take) = 0;

    // Begins a transaction whose reads decide its writes: such transactions run one at a time
    // across every connection, and every instance of the service, on this database.
    virtual bool beginExclusive() = 0;
    virtual bool commit() = 0;
    virtual void rollback() = 0;

    // False once the connection is lost; it is then dropped instead of used again.
    virtual bool usable() = 0;
};

// A transaction of one session, rolled back when the scope ends without commit(). Exclusive:
// beginExclusive(); otherwise a plain BEGIN, for statements that lock the rows they need.
class SqlTransaction {
public:
    enum class Kind { Exclusive, Plain };

    explicit SqlTransaction(SqlSession& session, Kind kind = Kind::Exclusive)
        : session_(session), began_(kind == Kind::Exclusive ? session.beginExclusive()
                                                            : session.run("BEGIN").has_value()) {}
    ~SqlTransaction() {
        if (began_ && !done_)
            session_.rollback();
    }
    SqlTransaction(const SqlTransaction&) = delete;
    SqlTransaction& operator=(const SqlTransaction&) = delete;

    bool began() const { return began_; }
    bool commit() {
        if (!began_ || done_)
            return false;
        done_ = session_.commit();
        return done_;
    }

private:
    SqlSession& session_;
    bool began_ = false;
    bool done_ = false;
};

class SessionPool;

// Where the cloud store keeps its rows: SQLite's cloud.db in the data folder, or a PostgreSQL
// database that several instances of the service share.
class SqlDatabase {
public:
    virtual ~SqlDatabase() = default;

    // Makes the database ready: creates its tables when `create` is true, and otherwise only
    // checks that they are there. False with `error` set when it cannot be used.
    virtual bool prepare(bool create, std::string& error) = 0;
    // A new connection; nothing (and the log says why) when none can be made.
    virtual std::unique_ptr<SqlSession> connect() = 0;
    // Where the failed log ins and SMS codes are counted: in this process for SQLite, in
    // the database for PostgreSQL, so that all instances count together.
    virtual std::unique_ptr<ThrottleBook> throttleBook(SessionPool& pool) = 0;
    // Writes a consistent copy of the whole database to `path` while requests go on.
    virtual bool backUpTo(const std::string& path, std::string& error) = 0;
    // For log lines: which database this is.
    virtual std::string description() const = 0;
};

// Connections to one database for many threads: each operation borrows one and gives it back,
// so connections are made only when more operations run at once than there are idle ones.
class SessionPool {
public:
    explicit SessionPool(SqlDatabase& database) : database_(database) {}
    SessionPool(const SessionPool&) = delete;
    SessionPool& operator=(const SessionPool&) = delete;

    // A connection borrowed for one operation, given back when it goes away. One lost meanwhile
    // is dropped by the next take(), which checks every idle connection before handing it out:
    // checking here too would cost a PostgreSQL connection a second system call per operation.
    class Lease {
    public:
        explicit Lease(SessionPool& pool) : pool_(pool), session_(pool.take()) {}
        ~Lease() {
            if (session_)
                pool_.giveBack(std::move(session_));
        }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;

        explicit operator bool() const { return session_ != nullptr; }
        SqlSession& operator*() { return *session_; }
        SqlSession* operator->() { return session_.get(); }

    private:
        SessionPool& pool_;
        std::unique_ptr<SqlSession> session_;
    };

private:
    // An idle connection that still works, or a new one.
    std::unique_ptr<SqlSession> take() {
        for (;;) {
            std::unique_ptr<SqlSession> session;
            {
                std::lock_guard guard(lock_);
                if (idle_.empty())
                    break;
                session = std::move(idle_.back());
                idle_.pop_back();
            }
            if (session->usable())
                return session;
        }
        return database_.connect();
    }

    void giveBack(std::unique_ptr<SqlSession> session) {
        std::lock_guard guard(lock_);
        idle_.push_back(std::move(session));
    }

    SqlDatabase& database_;
    std::mutex lock_;
    std::vector<std::unique_ptr<SqlSession>> idle_;
};
