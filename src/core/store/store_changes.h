#pragma once

#include <QMutex>
#include <QObject>

// Says that stored servers or groups changed, so that the list and the group filter are read
// again from one place instead of by every writer. A writer reports when a piece of work the
// user started is in the file (a batch, a download, a group edit); a single server the editor
// adds, changes or deletes is applied to its own row instead, without reading the list again.
//
// Reports may come from any thread. They reach `changed` on the UI thread, never within the
// report call, and reports made before the UI thread gets to them arrive as one.
class StoreChanges : public QObject {
    Q_OBJECT
public:
    enum Change { Servers = 0x1, Groups = 0x2 };
    Q_DECLARE_FLAGS(Changes, Change)

    // Made on the UI thread, where `changed` is delivered.
    StoreChanges();

    void report(Changes changes);

Q_SIGNALS:
    void changed(StoreChanges::Changes changes);

private:
    void deliver();

    QMutex lock_;
    Changes pending_;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(StoreChanges::Changes)
