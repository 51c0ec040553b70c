#include "ui/remote/rdp_launcher.h"

#include "core/remote/rdp_file.h"
#include "core/remote/session_fields.h"
#include "core/remote/tool_folder.h"
#include "core/support/log_sink.h"
#include "platform/platform.h"
#include "ui/app/prompt.h"
#include "ui/remote/dialog_press_watch.h"

#include <QWidget>

using namespace Qt::StringLiterals;

RdpLauncher::RdpLauncher(ProcessLauncher launcher, const LogSink& log, QWidget* window)
    : QObject(window), launcher_(std::move(launcher)), log_(log), window_(window) {}

void RdpLauncher::launch(const SessionTarget& server) {
    if (const auto refusal = SessionFields::lineBreakRefusal(server)) {
        report(refusal->message, refusal->logMessage);
        return;
    }
    const QString program = Platform::remoteDesktopProgram();
    if (program.isEmpty()) {
        report(u"未找到远程桌面程序（xfreerdp），无法打开远程桌面。请先安装FreeRDP。"_s,
               u"-未找到远程桌面程序，无法登录服务器 "_s + server.address);
        return;
    }
    const QString text = RdpFile::text(server.address, server.port, server.user,
                                       Platform::rdpPasswordField(server.password));
    const QString file = RdpFile::write(toolFolder(), server.name, text);
    if (file.isEmpty()) {
        report(u"无法在工具目录中写入远程桌面文件 "_s + RdpFile::fileName(server.name),
               u"-无法写入远程桌面文件 "_s + RdpFile::fileName(server.name));
        return;
    }
    const LaunchOutcome outcome =
        launcher_(Platform::remoteDesktopRequest(program, file, server.password));
    if (!outcome.started) {
        report(u"无法启动远程桌面程序："_s + outcome.error,
               u"-无法启动远程桌面程序："_s + outcome.error);
        return;
    }
    pressDialogs();
}

void RdpLauncher::pressDialogs() {
    QList<DialogPressWatch::Phase> phases;
    for (const DialogTarget& dialog : Platform::remoteDesktopDialogs())
        phases.append({dialog, kDialogTries, kButtonTries, true, {}});
    if (phases.isEmpty())
        return;
    auto* watch = new DialogPressWatch(std::move(phases), log_, this);
    connect(watch, &DialogPressWatch::finished, watch, &QObject::deleteLater);
    watch->start();
}

void RdpLauncher::report(const QString& message, const QString& logMessage) {
    log_.logLine(logMessage);
    Prompt::inform(window_, message);
}
