#include "host/threadmanager.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMutex>
#include <QPromise>
#include <QThread>
#include <QWaitCondition>

#include <deque>

// One thread that runs posted work in order. A plain queue rather than an event loop, so
// that waiting for idle needs no event processing on either side.
struct ThreadManager::Private {
    QMutex mutex;
    QWaitCondition workAvailable;
    QWaitCondition idle;
    std::deque<std::function<void()>> queue;
    int running = 0;
    bool stopping = false;
    QThread* thread = nullptr;

    void run()
    {
        for (;;) {
            std::function<void()> work;
            {
                QMutexLocker lock(&mutex);
                while (queue.empty() && !stopping)
                    workAvailable.wait(&mutex);
                if (queue.empty())
                    return;
                work = std::move(queue.front());
                queue.pop_front();
                running = 1;
            }
            work();
            // What the task captured goes before the thread counts as idle: a database it
            // held may close here.
            work = nullptr;
            QMutexLocker lock(&mutex);
            running = 0;
            if (queue.empty())
                idle.wakeAll();
        }
    }
};

ThreadManager::ThreadManager() : d(std::make_unique<Private>())
{
    d->thread = QThread::create([p = d.get()] { p->run(); });
    d->thread->setObjectName(QStringLiteral("storage"));
    d->thread->start();
}

ThreadManager::~ThreadManager()
{
    {
        QMutexLocker lock(&d->mutex);
        d->stopping = true;
        d->workAvailable.wakeAll();
    }
    d->thread->wait();
    delete d->thread;
}

ThreadManager* ThreadManager::getInstance()
{
    static ThreadManager instance;
    return &instance;
}

void ThreadManager::invoke(std::function<void()> work, bool fromMainThread)
{
    Q_UNUSED(fromMainThread)
    if (!work)
        return;
    QMutexLocker lock(&d->mutex);
    d->queue.push_back(std::move(work));
    d->workAvailable.wakeOne();
}

QFuture<void> ThreadManager::run(std::function<void()> work)
{
    auto promise = std::make_shared<QPromise<void>>();
    QFuture<void> future = promise->future();
    promise->start();
    invoke(
        [promise, work = std::move(work)] {
            if (work && !promise->isCanceled())
                work();
            promise->finish();
        },
        onMainThread());
    return future;
}

bool ThreadManager::waitForIdle(int timeoutMs)
{
    if (isStorageThread())
        return false; // the storage thread cannot wait for itself
    QDeadlineTimer deadline(timeoutMs);
    QMutexLocker lock(&d->mutex);
    while (!d->queue.empty() || d->running) {
        if (!d->idle.wait(&d->mutex, deadline))
            return false;
    }
    return true;
}

bool ThreadManager::isIdle() const
{
    QMutexLocker lock(&d->mutex);
    return d->queue.empty() && !d->running;
}

bool ThreadManager::isStorageThread() const
{
    return QThread::currentThread() == d->thread;
}

bool ThreadManager::onMainThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}
