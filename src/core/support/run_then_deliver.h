#pragma once

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

// Runs `work` on `pool` and hands its result to `deliver(receiver, result)` on the UI thread,
// unless the receiver is gone by then. Workers never touch a widget; this is how their
// results reach the window.
template <typename Receiver, typename Work, typename Deliver>
void runThenDeliver(QThreadPool& pool, Receiver* receiver, Work work, Deliver deliver) {
    QPointer<Receiver> guard(receiver);
    pool.start([guard, work = std::move(work), deliver = std::move(deliver)]() mutable {
        auto result = work();
        QMetaObject::invokeMethod(
            qApp,
            [guard, deliver = std::move(deliver), result = std::move(result)]() mutable {
                if (guard)
                    deliver(guard.data(), std::move(result));
            },
            Qt::QueuedConnection);
    });
}
