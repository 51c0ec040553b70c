#include "core/store/store_changes.h"

StoreChanges::StoreChanges() = default;

void StoreChanges::report(Changes changes) {
    {
        QMutexLocker lock(&lock_);
        const bool deliveryQueued = pending_ != Changes();
        pending_ |= changes;
        if (deliveryQueued)
            return;
    }
    QMetaObject::invokeMethod(this, &StoreChanges::deliver, Qt::QueuedConnection);
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
