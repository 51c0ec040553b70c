#pragma once

#include "core/store/server_queries.h"
#include "core/store/store_actions.h"
#include "stall_pinger.h"
#include "ui/app/list_columns.h"
#include "ui/app/server_list_model.h"
#include "ui/app/server_list_view.h"

#include <QDateTime>
#include <QSignalSpy>

#include <thread>

// Fills the list at once with the rows a reload reads, instead of at the reload's pace (500 s
// at 50,000): the paced fill is superseded by a sort, then the list's rows are replaced by
// rows made on another thread, as a reload makes them on a worker.
inline bool fillDirectly(ServerListView& list, const QString& path, qint64 limitMs) {
    QSignalSpy progress(&list, &ServerListView::reloadProgress);
    if (!waitFor([&] { return !progress.isEmpty(); }, limitMs))
        return false;
    QSignalSpy sorted(&list, &ServerListView::fillFinished);
    list.sortByColumn(ListColumn::Id);
    if (!waitFor([&] { return !sorted.isEmpty(); }, limitMs))
        return false;
    ListRows rows;
    std::thread reader([&] {
        if (auto servers = StoreActions::readServers(path, reloadQuery()))
            rows = ServerListModel::rowsOf(std::move(*servers), {}, QDateTime::currentDateTime());
    });
    reader.join();
    list.model()->replaceRows(std::move(rows));
    return true;
}
