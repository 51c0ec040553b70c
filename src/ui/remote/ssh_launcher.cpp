#include "ui/remote/ssh_launcher.h"

#include "core/remote/session_fields.h"
#include "core/remote/tool_folder.h"
#include "core/support/log_sink.h"
#include "platform/platform.h"
#include "ui/app/prompt.h"
#include "ui/remote/dialog_press_watch.h"

#include <QDir>
#include <QTemporaryFile>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace {

// A private file holding the password for PuTTY's -pwfile; removed when `owner` goes.
QTemporaryFile* writePasswordFile(const QString& password, QObject* owner) {
    const QString folder = toolFolder();
    if (folder.isEmpty())
        return nullptr;
    auto* file = new QTemporaryFile(
        QDir(folder).filePath(SshLauncher::kPasswordFilePrefix + u"XXXXXX"_s), owner);
    const QByteArray content = SessionCommands::puttyPasswordFileContent(password);
    if (!file->open() || file->write(content) != content.size() || !file->flush()) {
        delete file;
        return nullptr;
    }
    file->close();
    return file;
}

} // namespace

SshLauncher::SshLauncher(ProcessLauncher launcher, const LogSink& log, QWidget* window)
    : QObject(window), launcher_(std::move(launcher)), log_(log), window_(window) {}

void SshLauncher::launch(const SessionTarget& server) {
    if (server.user.isEmpty())
        return;
    if (const auto refusal = SessionFields::lineBreakRefusal(server)) {
        report(refusal->message, refusal->logMessage);
        return;
    }
    const QString program = Platform::puttyProgram();
    if (program.isEmpty()) {
        report(u"未找到PuTTY，无法打开SSH会话。请先安装PuTTY。"_s,
               u"-未找到PuTTY，无法登录服务器 "_s + server.address);
        return;
    }

    DialogPressWatch::Phase hostKeyWarning{
        Platform::puttyHostKeyDialog(), kDialogTries, kButtonTries, false, {}};
    if (Platform::puttyHasHostKey(server.address, server.port))
        hostKeyWarning.leaveToUser = kChangedHostKeyLog;
    auto* watch = new DialogPressWatch({hostKeyWarning}, log_, this);
    connect(watch, &DialogPressWatch::finished, watch, &QObject::deleteLater);
    QTemporaryFile* passwordFile = writePasswordFile(server.password, watch);
    if (!passwordFile) {
        delete watch;
        report(u"无法在工具目录中写入PuTTY的密码文件，未能打开SSH会话。"_s,
               u"-无法写入PuTTY密码文件，无法登录服务器 "_s + server.address);
        return;
    }

    const LaunchOutcome outcome =
        launcher_(SessionCommands::putty(program, server, passwordFile->fileName()));
    if (!outcome.started) {
        delete watch;
        report(u"无法启动PuTTY："_s + outcome.error, u"-无法启动PuTTY："_s + outcome.error);
        return;
    }
    watch->start();
}

void SshLauncher::report(const QString& message, const QString& logMessage) {
    log_.logLine(logMessage);
    Prompt::inform(window_, message);
}
