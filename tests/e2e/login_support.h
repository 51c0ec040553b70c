#pragma once

// What the end-to-end login tests share: running administration commands, finding and ending
// processes by their /proc entries, and watching every process's command line for a secret.

#include <QByteArray>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QList>
#include <QMutex>
#include <QProcess>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <csignal>
#include <pwd.h>
#include <thread>

namespace LoginSupport {

inline QString randomHex() {
    return QString::number(QRandomGenerator::global()->generate(), 16);
}

inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs a short administration command; its output when it fails.
inline bool runCommand(const QString& program, const QStringList& arguments, QString* output,
                       const QByteArray& input = {}) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(5000))
        return false;
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(20'000);
    *output = QString::fromLocal8Bit(process.readAll());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// The ids of every running process.
inline QList<qint64> allProcesses() {
    QList<qint64> found;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isNumber = false;
        const qint64 pid = entry.toLongLong(&isNumber);
        if (isNumber)
            found << pid;
    }
    return found;
}

// The processes whose /proc status line `key` (such as "PPid:" or "Uid:") has `value` as
// its first field.
inline QList<qint64> processesWith(const QByteArray& key, const QByteArray& value) {
    QList<qint64> found;
    for (qint64 pid : allProcesses())
        for (const QByteArray& line :
             readFile(QStringLiteral("/proc/%1/status").arg(pid)).split('\n'))
            if (line.startsWith(key) &&
                line.mid(key.size()).simplified().split(' ').value(0) == value)
                found << pid;
    return found;
}

inline void endProcess(qint64 pid) {
    ::kill(static_cast<pid_t>(pid), SIGKILL);
}

// Ends every process of the throw-away account `user`, then removes the account and its home.
inline void removeThrowawayAccount(const QString& user) {
    if (const passwd* account = ::getpwnam(user.toLocal8Bit().constData()))
        for (qint64 pid : processesWith("Uid:", QByteArray::number(account->pw_uid)))
            endProcess(pid);
    QString output;
    if (!runCommand(QStringLiteral("userdel"), {QStringLiteral("-f"), user}, &output))
        qWarning() << "userdel:" << output;
}

// Reads every process's command line over and over until stopped, noting each one that holds
// one of the needles.
class CommandLineWatch {
public:
    explicit CommandLineWatch(QList<QByteArray> needles)
        : needles_(std::move(needles)), thread_([this] { watch(); }) {}
    ~CommandLineWatch() { stop(); }

    void stop() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    QStringList hits() {
        QMutexLocker lock(&mutex_);
        return hits_;
    }

private:
    void watch() {
        while (!stop_) {
            for (qint64 pid : allProcesses()) {
                const QByteArray line = readFile(QStringLiteral("/proc/%1/cmdline").arg(pid));
                for (const QByteArray& needle : needles_)
                    if (line.contains(needle)) {
                        const QString hit =
                            QString::fromLocal8Bit(QByteArray(line).replace('\0', ' '));
                        QMutexLocker lock(&mutex_);
                        if (!hits_.contains(hit))
                            hits_ << hit;
                    }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    QList<QByteArray> needles_;
    std::atomic<bool> stop_{false};
    QMutex mutex_;
    QStringList hits_;
    std::thread thread_;
};

} // namespace LoginSupport
