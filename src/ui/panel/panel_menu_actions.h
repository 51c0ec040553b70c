#pragma once

class MainWindow;

// The server list menu's panel items: "登录宝塔面板" (a temporary login token, then the
// panel in the browser) and "复制宝塔面板信息".
void installPanelMenuActions(MainWindow* window);
