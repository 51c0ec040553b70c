#pragma once

class LogSink;
class QWidget;
class ServerListView;

// The server list menu's panel items: "登录宝塔面板" (a temporary login token, then the
// panel in the browser) and "复制宝塔面板信息". Messages open over `window`; what they do is
// logged to `log`.
void installPanelMenuActions(QWidget* window, ServerListView* list, const LogSink& log);
