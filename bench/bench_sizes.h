#pragma once

#include "bench_support.h"

#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <vector>

// Benchmarks that show how a figure grows with the list run once per list length, each in a
// process of its own (so its peak memory is that length's alone): 1,000, 10,000 and 50,000
// rows unless "--sizes=A,B,..." names others. "--rows=N" runs one length in this process, as
// each child and the CTest smoke run do.

// The lengths to run, or nothing when "--rows=" asks for one length in this process.
inline std::vector<int> benchSizes(int argc, char* argv[]) {
    if (intOption(argc, argv, "--rows=", 0, 0) > 0)
        return {};
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (!argument.startsWith(QStringLiteral("--sizes=")))
            continue;
        std::vector<int> sizes;
        for (const QString& size : argument.mid(8).split(u','))
            if (size.toInt() > 0)
                sizes.push_back(size.toInt());
        return sizes;
    }
    return {1000, 10000, 50000};
}

// Runs this program once per length with "--rows=<length>" and the other options it was
// given; their output goes to this process's. 0 when every run succeeded.
inline int runEachSize(int argc, char* argv[], const std::vector<int>& sizes) {
    QStringList passed;
    for (int i = 1; i < argc; ++i)
        if (!QString::fromLocal8Bit(argv[i]).startsWith(QStringLiteral("--sizes=")))
            passed << QString::fromLocal8Bit(argv[i]);
    int failed = 0;
    for (int rows : sizes) {
        std::printf("==== %d rows ====\n", rows);
        std::fflush(stdout);
        const int status =
            QProcess::execute(QCoreApplication::applicationFilePath(),
                              passed + QStringList{QStringLiteral("--rows=%1").arg(rows)});
        if (status != 0) {
            std::printf("(the run at %d rows failed: %d)\n", rows, status);
            failed = 1;
        }
    }
    return failed;
}
