#include "platform/platform.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace Qt::StringLiterals;

namespace {

// A file descriptor closed when it goes out of scope.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }

    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

LaunchOutcome failure(const QString& program, const QString& why) {
    return {false, 0, program + u": "_s + why};
}

QString resolveProgram(const QString& program) {
    if (program.contains(u'/'))
        return QFileInfo(program).isExecutable() ? program : QString();
    return QStandardPaths::findExecutable(program);
}

// Standard input for the child: a pipe already holding all of `bytes` with its writing end
// closed, so the child reads them and then the end. Nothing is written after the child
// exists, so a child that ends early can never break Torvane with SIGPIPE.
bool makeStandardInput(const QByteArray& bytes, Descriptor& readEnd) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return false;
    readEnd.reset(ends[0]);
    Descriptor writeEnd(ends[1]);
    ::fcntl(writeEnd.get(), F_SETFL, O_NONBLOCK);
    return ::write(writeEnd.get(), bytes.constData(), bytes.size()) == bytes.size();
}

// Runs in the forked child, where only async-signal-safe calls are allowed. A second fork
// hands the program to init, so it outlives Torvane and never lingers as our zombie. The
// status pipe gets the program's process id from the middle child and, when exec fails,
// the error number from the program's child.
[[noreturn]] void runDetached(const char* path, char* const* argv, int input, int status) {
    ::setsid();
    const pid_t program = ::fork();
    if (program == 0) {
        ::signal(SIGPIPE, SIG_DFL);
        ::dup2(input, STDIN_FILENO);
        ::execve(path, argv, environ);
        const int error = errno;
        (void)!::write(status, &error, sizeof error);
        ::_exit(127);
    }
    (void)!::write(status, &program, sizeof program);
    ::_exit(0);
}

// Reads the middle child's report: the program's id, then an error number if exec failed.
LaunchOutcome readStatus(int status, const QString& program) {
    pid_t id = -1;
    int error = 0;
    if (::read(status, &id, sizeof id) != sizeof id || id <= 0)
        return failure(program, u"fork failed"_s);
    if (::read(status, &error, sizeof error) == sizeof error)
        return failure(program, qt_error_string(error));
    return {true, id, {}};
}

} // namespace

namespace Platform {

LaunchOutcome startDetached(const LaunchRequest& request) {
    const QString path = resolveProgram(request.program);
    if (path.isEmpty())
        return failure(request.program, u"找不到程序"_s);

    std::vector<QByteArray> words{QFile::encodeName(path)};
    for (const QString& argument : request.arguments)
        words.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    Descriptor input;
    if (!makeStandardInput(request.standardInput, input))
        return failure(request.program, qt_error_string(errno));
    int statusEnds[2];
    if (::pipe2(statusEnds, O_CLOEXEC) != 0)
        return failure(request.program, qt_error_string(errno));
    Descriptor statusRead(statusEnds[0]);
    Descriptor statusWrite(statusEnds[1]);

    const pid_t middle = ::fork();
    if (middle < 0)
        return failure(request.program, qt_error_string(errno));
    if (middle == 0)
        runDetached(argv[0], argv.data(), input.get(), statusWrite.get());
    statusWrite.reset();
    int ignored = 0;
    while (::waitpid(middle, &ignored, 0) < 0 && errno == EINTR) {
    }
    return readStatus(statusRead.get(), request.program);
}

} // namespace Platform
