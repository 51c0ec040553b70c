#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#ifndef TORVANE_POSTGRESQL_BINDIR
#error "link the test with torvane_use_cloud_service() so it knows PostgreSQL's programs"
#endif

extern char** environ;

// A PostgreSQL server of the test program's own: initdb into a temporary folder, started
// with pg_ctl, listening on a Unix socket in that folder only (no TCP port), with the
// superuser "torvane" trusted on that socket; stopped and removed when the program ends.
// initdb refuses to run as root, so as root the server's programs run as the system user
// "postgres", which then owns the folder. A watchdog process of its own session stops the
// server and removes the folder once the test program is gone, however it ended (a crash, or
// CTest killing it at its time limit). Use from one thread.
//
//     PrivatePostgres* postgres = PrivatePostgres::shared();
//     const QString address = postgres->createDatabase();   // postgresql:///...
class PrivatePostgres {
public:
    // The program's server, started on first use; nullptr (and a message on stderr) when it
    // cannot be.
    static PrivatePostgres* shared() {
        static const std::unique_ptr<PrivatePostgres> server = [] {
            auto made = std::unique_ptr<PrivatePostgres>(new PrivatePostgres);
            if (!made->initialise() || !made->watch() || !made->start())
                made.reset();
            return made;
        }();
        return server.get();
    }

    ~PrivatePostgres() { stop(); }

    PrivatePostgres(const PrivatePostgres&) = delete;
    PrivatePostgres& operator=(const PrivatePostgres&) = delete;

    // A new, empty UTF-8 database; its address for torvane-cloud's --database, or empty.
    QString createDatabase() {
        const QString name = QStringLiteral("cloud_%1").arg(++databases_);
        if (!run({program("createdb"), "-h", socketFolder(), "-p", kPort, "-U", kUser,
                  name.toLocal8Bit()}))
            return {};
        return address(name);
    }

    // The address of a database named `name`, which need not exist.
    QString address(const QString& name) const {
        return QStringLiteral("postgresql:///%1?host=%2&port=%3&user=%4")
            .arg(name, QString::fromLocal8Bit(socketFolder()), QString::fromLatin1(kPort),
                 QString::fromLatin1(kUser));
    }

    // Runs psql's `sql` on database `name`; its output, or nothing when it failed.
    std::optional<QByteArray> query(const QString& name, const QByteArray& sql) {
        const QByteArray output = QDir(dir_.path()).filePath(QStringLiteral("query")).toLocal8Bit();
        if (!run({program("psql"), "-X", "-q", "-A", "-t", "-h", socketFolder(), "-p", kPort, "-U",
                  kUser, "-d", name.toLocal8Bit(), "-c", sql, "-o", output}))
            return std::nullopt;
        QFile file(QString::fromLocal8Bit(output));
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return file.readAll();
    }

    // Starts the server (again); waits until it takes connections.
    bool start() {
        return run(asServerUser(
            {program("pg_ctl"), "-D", dataFolder(), "-l", logFile(), "-w", "-t", "60", "-o",
             "-h '' -k " + socketFolder() + " -p " + kPort + " -F -c max_connections=300",
             "start"}));
    }

    // Stops the server, ending its connections at once; the databases stay.
    bool stop() {
        if (!QFile::exists(QString::fromLocal8Bit(dataFolder() + "/postmaster.pid")))
            return true;
        return run(asServerUser(
            {program("pg_ctl"), "-D", dataFolder(), "-m", "fast", "-w", "-t", "60", "stop"}));
    }

private:
    static constexpr const char* kPort = "5432";
    static constexpr const char* kUser = "torvane";

    PrivatePostgres() = default;

    bool initialise() {
        if (!dir_.isValid())
            return false;
        if (::geteuid() == 0) {
            const passwd* postgres = ::getpwnam("postgres");
            if (postgres == nullptr) {
                // CTest takes this line as the run's verdict: skipped, not failed.
                std::fprintf(stderr, "PrivatePostgres: skipped: initdb refuses to run as root, "
                                     "and there is no system user \"postgres\" to run it as\n");
                return false;
            }
            if (::chown(dir_.path().toLocal8Bit().constData(), postgres->pw_uid,
                        postgres->pw_gid) != 0)
                return false;
            runAs_ = true;
        }
        return run(asServerUser({program("initdb"), "-D", dataFolder(), "-U", kUser, "--auth=trust",
                                 "--encoding=UTF8", "--locale=C", "-N"}));
    }

    // Starts the watchdog: a shell in a session of its own that reads its standard input, a
    // pipe whose other end only this program holds, until the program is gone, then stops the
    // server at once and removes the folder.
    bool watch() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return false;
        const QByteArray runAs = runAs_ ? "runuser -u postgres -- " : "";
        const QByteArray script = "cat >/dev/null; if [ -f \"$1/data/postmaster.pid\" ]; then " +
                                  runAs + "\"$2\" -D \"$1/data\" -m immediate -w -t 30 stop; fi; " +
                                  "rm -rf \"$1\"";
        const QByteArray folder = socketFolder();
        const QByteArray pgCtl = program("pg_ctl");
        const char* argv[] = {
            "/bin/sh",         "-c",   script.constData(), "sh", folder.constData(),
            pgCtl.constData(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[0], STDIN_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
        pid_t watchdog = 0;
        const int spawned = posix_spawn(&watchdog, argv[0], &actions, &attributes,
                                        const_cast<char**>(argv), environ);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        ::close(ends[0]);
        if (spawned != 0) {
            ::close(ends[1]);
            std::fprintf(stderr, "PrivatePostgres: cannot start the watchdog\n");
            return false;
        }
        // Held until the program ends; never waited for, as it outlives the program.
        watchdogPipe_ = ends[1];
        return true;
    }

    static QByteArray program(const char* name) {
        return QByteArray(TORVANE_POSTGRESQL_BINDIR) + "/" + name;
    }

    QByteArray socketFolder() const { return dir_.path().toLocal8Bit(); }
    QByteArray dataFolder() const { return socketFolder() + "/data"; }
    QByteArray logFile() const { return socketFolder() + "/server.log"; }

    std::vector<QByteArray> asServerUser(std::vector<QByteArray> command) const {
        if (runAs_)
            command.insert(command.begin(), {"runuser", "-u", "postgres", "--"});
        return command;
    }

    // Runs `command` with the program's output going to the server's log file; true when it
    // ended with status 0.
    bool run(const std::vector<QByteArray>& command) const {
        std::vector<char*> argv;
        for (const QByteArray& word : command)
            argv.push_back(const_cast<char*>(word.constData()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO,
                                         (socketFolder() + "/programs.log").constData(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        pid_t child = 0;
        const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        const bool succeeded = spawned == 0 && ::waitpid(child, &status, 0) == child &&
                               WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (!succeeded) {
            QFile log(QString::fromLocal8Bit(socketFolder() + "/programs.log"));
            log.open(QIODevice::ReadOnly);
            std::fprintf(stderr, "PrivatePostgres: %s failed:\n%s\n", argv[0],
                         log.readAll().right(2000).constData());
        }
        return succeeded;
    }

    QTemporaryDir dir_{QDir::tempPath() + QStringLiteral("/torvane-pg-XXXXXX")};
    bool runAs_ = false;
    int watchdogPipe_ = -1;
    int databases_ = 0;
};
