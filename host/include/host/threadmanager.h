#pragma once

#include "host/hostglobal.h"

#include <QObject>

#include <functional>
#include <memory>

// Runs storage work, in order, on the one storage thread.
class HOST_EXPORT ThreadManager {
public:
    static ThreadManager* getInstance();

    // fromMainThread tells whether the caller runs on the application's main thread.
    void invoke(std::function<void()> work, bool fromMainThread);

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
