#pragma once

#include "core/remote/launch_request.h"

class LogSink;
class QLineEdit;
class QPushButton;
class QWidget;
class ServerListView;

// The search bar's text box and the three buttons that act on its text: Ping检测, 端口Ping
// and 全球Ping (查询按钮1/2/3).
struct SearchBar {
    QLineEdit* text;
    QPushButton* ping;
    QPushButton* portPing;
    QPushButton* globalPing;
};

// Makes a window's session and server actions work: "登录服务器" (double-click and list menu),
// the list menu's Ping检测, TCPing检测, 全球Ping, 全球TCPing and the three copies, and the search
// bar's buttons. Programs are started through `launcher`, so tests can see what would start;
// what they do is logged to `log`.
void installSessionActions(QWidget* window, ServerListView* list, const SearchBar& searchBar,
                           const ProcessLauncher& launcher, const LogSink& log);
