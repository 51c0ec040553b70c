#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

// A program to start on its own, as an argument list (never through a shell), with the bytes
// it reads from standard input.
struct LaunchRequest {
    QString program;
    QStringList arguments;
    QByteArray standardInput;
};

// What became of a start: the process id when it started, otherwise why not.
struct LaunchOutcome {
    bool started = false;
    qint64 processId = 0;
    QString error;
};

// Starts a program that runs on independently of Torvane. The platform's own starter is the
// default; tests put one in that records what would have been started.
using ProcessLauncher = std::function<LaunchOutcome(const LaunchRequest&)>;
