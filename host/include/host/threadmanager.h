#pragma once

#include "host/hostglobal.h"

#include <QFuture>
#include <QObject>

#include <functional>
#include <memory>

// Runs storage work, in order, on the one storage thread.
class HOST_EXPORT ThreadManager {
public:
    static ThreadManager* getInstance();

    // fromMainThread tells whether the caller runs on the application's main thread.
    void invoke(std::function<void()> work, bool fromMainThread);
    // Like invoke, with a future that finishes once the work ran. Cancelling the future before
    // the work starts skips it; the future still finishes, in order.
    QFuture<void> run(std::function<void()> work);

    // Blocks until every task posted so far has run; false on timeout. For tests and shutdown.
    bool waitForIdle(int timeoutMs = 30000);
    bool isIdle() const;
    bool isStorageThread() const;
    // Whether the caller runs on the application's main thread.
    static bool onMainThread();

    ~ThreadManager();

private:
    ThreadManager();
    struct Private;
    std::unique_ptr<Private> d;
};
