#pragma once

class QString;
class QWidget;
class ServerListView;

// "批量导出": every listed row, in the list's order and filter, into 导出记录.txt in
// `dataFolder`.
void exportServerList(ServerListView* list, const QString& dataFolder, QWidget* parent);
