#pragma once

#include "core/remote/launch_request.h"

class MainWindow;

// Makes the main window's session and server actions work: "登录服务器" (double-click and
// list menu), the list menu's Ping检测, TCPing检测, 全球Ping, 全球TCPing and the three
// copies, and the search bar's 查询按钮1/2/3.
void installSessionActions(MainWindow* window);

// The same with the program starter replaced, so tests can see what would be started.
void installSessionActions(MainWindow* window, ProcessLauncher launcher);
