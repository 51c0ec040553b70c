#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "common/private_postgres.h"

#include <sys/prctl.h>

#include <csignal>

#ifndef TORVANE_CLOUD_SERVICE_PATH
#error "link the test with torvane_use_cloud_service() so it knows where torvane-cloud is"
#endif

// The real torvane-cloud, started on 127.0.0.1 with a free port and a data folder of its own
// that goes away with the fixture. The service's log is kept, and the SMS codes it hands out
// (logged as "sms code for PHONE: CODE") are read from it. stop() and start() again keep
// the data folder, also when the options changed in between. With --tls-cert among the
// options it serves HTTPS.
//
// With TORVANE_TEST_CLOUD_STORE=postgresql in the environment (the "_postgresql" runs of the
// cloud tests in CTest), the service keeps its accounts in a database of its own on the
// program's private PostgreSQL server (private_postgres.h) instead of cloud.db. A fixture made
// with `sharingStoreWith` serves the same data folder and database as that other one. Use from one
// thread. Every request a test sends comes from 127.0.0.1, so the service's limits per address
// (connections, failed log ins, SMS codes; see `torvane-cloud --help`) count them all together: a
// test that sends more than a real client would lifts them with `extraArguments`.
//
//     CloudServiceFixture cloud;
//     QVERIFY(cloud.start());
//     const CloudApi::Service at{cloud.url()};   // or the address of a whole client's context
//     ... sendsms for 13800000000 ...
//     const QString code = cloud.smsCode(u"13800000000"_s);
class CloudServiceFixture {
public:
    explicit CloudServiceFixture(QStringList extraArguments = {},
                                 CloudServiceFixture* sharingStoreWith = nullptr)
        : extraArguments_(std::move(extraArguments)) {
        process_.setProcessChannelMode(QProcess::MergedChannels);
        // The service ends with the test program, also when CTest kills it at its time limit.
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        if (sharingStoreWith != nullptr) {
            dataFolder_ = sharingStoreWith->dataFolder();
            database_ = sharingStoreWith->database();
        } else {
            dataFolder_ = QDir(dir_.path()).filePath(QStringLiteral("cloud"));
        }
    }

    // True in the runs where the service keeps its accounts in PostgreSQL.
    static bool onPostgres() {
        return qgetenv("TORVANE_TEST_CLOUD_STORE") == QByteArrayLiteral("postgresql");
    }

    // The --database address of the service's PostgreSQL database, made on first use; empty
    // on SQLite or when the private server could not give one.
    QString database() {
        if (database_.isEmpty() && onPostgres()) {
            if (PrivatePostgres* postgres = PrivatePostgres::shared())
                database_ = postgres->createDatabase();
        }
        return database_;
    }

    // Where the service's data is, as torvane-cloud's commands take it: --data, and --database
    // when it is in PostgreSQL.
    QStringList storeArguments() {
        QStringList arguments{QStringLiteral("--data"), dataFolder()};
        if (onPostgres())
            arguments << QStringLiteral("--database") << database();
        return arguments;
    }

    ~CloudServiceFixture() { stop(); }

    CloudServiceFixture(const CloudServiceFixture&) = delete;
    CloudServiceFixture& operator=(const CloudServiceFixture&) = delete;

    // Starts the service and waits (up to ten seconds) until it listens.
    bool start() {
        if (!dir_.isValid() || (onPostgres() && database().isEmpty()))
            return false;
        log_.clear();
        process_.start(QStringLiteral(TORVANE_CLOUD_SERVICE_PATH),
                       QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")} +
                           storeArguments() + extraArguments_);
        if (!process_.waitForStarted(10000))
            return false;
        static const QRegularExpression listening(
            QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
        const QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired()) {
            const QRegularExpressionMatch match = listening.match(log());
            if (match.hasMatch()) {
                port_ = match.captured(1).toUShort();
                return true;
            }
            if (process_.state() != QProcess::Running)
                return false;
            process_.waitForReadyRead(50);
        }
        return false;
    }

    // Asks the service to stop (SIGTERM) and waits for it; kills it when it does not end.
    void stop() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
        readLog();
    }

    // The options of the next start() (beside --listen and --data).
    void setExtraArguments(QStringList arguments) { extraArguments_ = std::move(arguments); }

    bool isRunning() const { return process_.state() == QProcess::Running; }
    // The exit code once the service has ended.
    int exitCode() const { return process_.exitCode(); }
    quint16 port() const { return port_; }
    // The base address the client takes (CloudApi::Service, AppContext).
    QString url() const {
        const bool tls = extraArguments_.contains(QStringLiteral("--tls-cert"));
        return QStringLiteral("%1://127.0.0.1:%2")
            .arg(tls ? QStringLiteral("https") : QStringLiteral("http"))
            .arg(port_);
    }
    QString dataFolder() const { return dataFolder_; }

    // Replaces the announcements the service hands out (UTF-8 lines).
    bool writeAnnouncements(const QByteArray& utf8) const {
        QDir().mkpath(dataFolder());
        QFile file(QDir(dataFolder()).filePath(QStringLiteral("announcements.txt")));
        return file.open(QIODevice::WriteOnly) && file.write(utf8) == utf8.size();
    }

    // Everything the service has logged since it was last started.
    QString log() {
        readLog();
        return QString::fromUtf8(log_);
    }

    // The newest SMS code logged for `phone`, waiting up to `timeoutMs` for one to appear;
    // empty when none came.
    QString smsCode(const QString& phone, int timeoutMs = 5000) {
        const QRegularExpression line(
            QStringLiteral("sms code for %1: (\\d{6})").arg(QRegularExpression::escape(phone)));
        const QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            QString newest;
            auto matches = line.globalMatch(log());
            while (matches.hasNext())
                newest = matches.next().captured(1);
            if (!newest.isEmpty() || deadline.hasExpired() || !isRunning())
                return newest;
            process_.waitForReadyRead(50);
        }
    }

private:
    // Takes what the pipe holds now: the service logs an event before it answers the request,
    // so after a reply its line is already there.
    void readLog() {
        do
            log_ += process_.readAll();
        while (process_.state() == QProcess::Running && process_.waitForReadyRead(0));
    }

    QStringList extraArguments_;
    QTemporaryDir dir_;
    QString dataFolder_;
    QString database_;
    QProcess process_;
    QByteArray log_;
    quint16 port_ = 0;
};
