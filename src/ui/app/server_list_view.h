#pragma once

#include "core/store/rental_expiry.h"
#include "core/store/server_queries.h"
#include "core/support/paced_steps.h"
#include "ui/app/server_list_model.h"

#include <QObject>

#include <array>
#include <memory>
#include <optional>

class AppContext;
class QMenu;
class QAction;
class QTableView;

// The server list 超级列表框1: filled from the database (reload), filtered (search), sorted
// by a clicked header, checked, and the source of the selected server for every action.
//
// Only one fill writes the list at a time: starting a reload, search or sort supersedes the
// one in progress. Rows appear one at a time (10 ms apart after a reload, 100 ms after a
// search) so a long list fills visibly while the window stays usable.
class ServerListView : public QObject {
    Q_OBJECT
public:
    static constexpr int kReloadPaceMs = 10;
    static constexpr int kSearchPaceMs = 100;
    static inline const QString kQueryFailed = QStringLiteral("查询失败，指定的数据未能打开！");
    static inline const QString kSearchTextTooLong = QStringLiteral("查询内容过长，请缩短后再查询");
    static inline const QString kWaitingForProbe = QStringLiteral("等待检测");

    // The list of the store in `context`'s data folder.
    ServerListView(QTableView* view, const AppContext& context);

    ServerListModel* model() const { return model_; }
    QTableView* view() const { return view_; }

    // Reads every server on a worker, then fills the list; ends by asking for a probe pass.
    // Requests that arrive while a read is running are served by one more read.
    void reload();
    // Reads the servers that match on a worker, then fills the list; asks for a probe of each
    // row as it appears.
    void search(const QString& mode, const QString& text, const QString& group);
    // Sorts the rows ascending by `column`; check marks and status images are cleared.
    void sortByColumn(int column);

    // "即将到期": the servers whose rental ends within a week or has ended, the earliest end
    // first, filled and probed as a search's rows are.
    void listExpiring();

    void checkAll();
    void uncheckAll();
    void invertChecks();

    int selectedRow() const;
    QString cell(int row, int column) const { return model_->cell(row, column); }
    // The server of a row, and of the selected row; an empty record when there is none.
    ServerRecord server(int row) const { return model_->server(row); }
    ServerRecord selectedServer() const { return server(selectedRow()); }
    // True from the start of a reload, search or sort until its rows are all in the list.
    bool isFilling() const;
    // True when the rows are a search's or the "即将到期" list's rather than every server's.
    bool showsSearchResult() const { return fillKind_ == FillKind::Search; }
    // How many of the last reload's servers end their rental soon and how many have ended,
    // counted on the worker that read them.
    RentalExpiry::Tally reloadTally() const { return reloadTally_; }

    // The list's right-click menu; items are found by their text.
    // The items of the list's menu, in menu order.
    enum class MenuItem {
        Login,
        Add,
        Modify,
        Delete,
        Refresh,
        Ping,
        Tcping,
        GlobalPing,
        GlobalTcping,
        CopyAddress,
        CopyAddressAndPort,
        CopyLogin,
        PanelLogin,
        PanelCopy,
        Expiring,
        Count
    };

    QMenu* menu() const { return menu_; }
    // The list handles 刷新列表 and 即将到期 itself; the feature that handles another item
    // connects to it.
    QAction* menuAction(MenuItem item) const { return menuItems_[int(item)]; }

Q_SIGNALS:
    void probeAllRequested();
    void probeRowRequested(int row);
    void loginRequested(int row);
    void refreshRequested();
    void fillFinished();
    // The Delete key on the list, with a row selected.
    void deleteRequested();
    // A reload's fill has put `shown` of its `total` rows into the list.
    void reloadProgress(int shown, int total);
    // A reload's rows are all in the list; reloadTally() counts their rentals.
    void reloaded();

private:
    enum class FillKind { Reload, Search };

    // What a worker read for a fill: the rows, and for a reload the tally of their rentals.
    struct ReadRows {
        ListRows rows;
        RentalExpiry::Tally tally;
    };

    // Stops the fill in progress and any reload still asked for; returns the new generation.
    quint64 supersede();
    void startReloadRead();
    // The records of the rows shown and of those still to come, for a read to share.
    SharedRecords knownRecords() const;
    static ReadRows tallied(ListRows rows);
    static std::optional<ReadRows> readRows(const QString& path, const ServerQuery& query,
                                            const QString& status, SharedRecords known);
    void onRowsRead(quint64 generation, std::optional<ReadRows> read, FillKind kind);
    void startFill(ListRows rows, FillKind kind);
    bool appendNextRow();
    void stopFill();
    bool copySortKeys(quint64 generation, const std::shared_ptr<ServerListModel::SortInput>& input);
    void onSorted(quint64 generation, int column, ServerListModel::Reorder reorder);
    void reportQueryFailure();
    void setUpColumns();
    void setUpMenu();
    void setUpKeys();

    QTableView* view_;
    const AppContext& context_;
    ServerListModel* model_;
    QMenu* menu_ = nullptr;
    std::array<QAction*, int(MenuItem::Count)> menuItems_{};

    // Bumped by every reload, search and sort; a result that arrives for an older number is
    // dropped.
    quint64 generation_ = 0;
    bool reloadReading_ = false;
    bool busy_ = false;
    bool reloadAgain_ = false;

    // Rows whose sort keys are copied between looks at the clock, and the work per step.
    static constexpr qsizetype kSortKeysPerCopy = 1000;
    static constexpr qint64 kSortCopyStepMs = 5;

    // A fill's rows, or a sort's copying of keys.
    PacedSteps fill_{std::chrono::milliseconds(kReloadPaceMs), this};
    ListRows pending_;
    qsizetype nextPending_ = 0;
    FillKind fillKind_ = FillKind::Reload;
    RentalExpiry::Tally readTally_;
    RentalExpiry::Tally reloadTally_;
};
