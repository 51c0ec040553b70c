#include "core/store/store_changes.h"

#include <QCoreApplication>
#include <QThread>

// The first report may come from a worker; the object still belongs to the UI thread, where
// `changed` is delivered.
StoreChanges::StoreChanges() {
    if (QCoreApplication::instance())
        moveToThread(QCoreApplication::instance()->thread());
}

StoreChanges& StoreChanges::instance() {
    static StoreChanges changes;
    return changes;
}

void StoreChanges::report(Changes changes) {
    StoreChanges& self = instance();
    {
        QMutexLocker lock(&self.lock_);
        const bool deliveryQueued = self.pending_ != Changes();
        self.pending_ |= changes;
        if (deliveryQueued)
            return;
    }
    QMetaObject::invokeMethod(&self, &StoreChanges::deliver, Qt::QueuedConnection);
}

void StoreChanges::deliver() {
    Changes changes;
    {
        QMutexLocker lock(&lock_);
        changes = std::exchange(pending_, Changes());
    }
    if (changes)
        Q_EMIT changed(changes);
}
