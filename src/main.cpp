#include "core/app_context.h"
#include "ui/app/application.h"
#include "ui/app/main_window.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kHelp =
    "用法: torvane [--help] [--version]\n"
    "Usage: torvane [--help] [--version]\n"
    "\n"
    "Torvane-服务器管理工具: 管理远程 Windows 与 Linux 服务器，一键登录远程桌面或 SSH。\n"
    "Keeps a list of rented Windows and Linux servers and opens their sessions.\n"
    "\n"
    "  -h, --help      显示本说明并退出 / show this text and exit\n"
    "  -v, --version   显示版本并退出 / show the version and exit\n"
    "\n"
    "环境变量 / Environment:\n"
    "  TORVANE_HOME        数据文件夹 (myserver.db) / the data folder\n"
    "  TORVANE_CLOUD_URL   云端服务地址 / the cloud service's address\n";

// --help and --version are answered before any window exists, so they work on a terminal
// without a display. Returns the exit code when the command line was one of them.
int answerCommandLine(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
            std::fputs("torvane " TORVANE_VERSION "\n", stdout);
            return 0;
        }
    }
    return -1;
}

} // namespace

int main(int argc, char* argv[]) {
    if (const int answered = answerCommandLine(argc, argv); answered >= 0)
        return answered;
    QApplication app(argc, argv);
    setUpApplication(app);
    AppContext context(AppContext::settingsFromEnvironment());
    MainWindow window(context);
    window.show();
    return app.exec();
}
