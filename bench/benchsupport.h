#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <algorithm>

#include <time.h>

// Times every event the main thread handles; nested dispatches count in their outer one. Events
// of other threads pass untimed (the depth is the main thread's own).
class TimedApp : public QCoreApplication {
public:
    using QCoreApplication::QCoreApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        if (QThread::currentThread() != thread())
            return QCoreApplication::notify(receiver, event);
        if (m_depth++ > 0) {
            const bool handled = QCoreApplication::notify(receiver, event);
            --m_depth;
            return handled;
        }
        QElapsedTimer timer;
        timer.start();
        const qint64 cpuStart = threadCpuNs();
        const char* what = receiver->metaObject()->className(); // the receiver may be gone after
        const QEvent::Type type = event->type();
        const bool handled = QCoreApplication::notify(receiver, event);
        if (timer.nsecsElapsed() > m_longestNs) {
            m_longestNs = timer.nsecsElapsed();
            m_longestWhat = QStringLiteral("%1 (event %2)").arg(QLatin1String(what)).arg(int(type));
        }
        m_longestCpuNs = std::max(m_longestCpuNs, threadCpuNs() - cpuStart);
        --m_depth;
        return handled;
    }
    void resetLongest()
    {
        m_longestNs = 0;
        m_longestCpuNs = 0;
    }
    double longestMs() const { return m_longestNs / 1e6; }
    // The main thread's own CPU in its longest event by that measure: the wall time also holds
    // what other processes of the machine took from it.
    double longestCpuMs() const { return m_longestCpuNs / 1e6; }
    // The receiver of the longest event and its type.
    QString longestWhat() const { return m_longestWhat; }

private:
    static qint64 threadCpuNs()
    {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
    }

    int m_depth = 0;
    qint64 m_longestNs = 0;
    qint64 m_longestCpuNs = 0;
    QString m_longestWhat;
};

// Handles events until done() holds, blocking for each next event rather than polling: the
// overload of processEvents with a time limit never blocks, so the main thread would spin on a
// core the work under measure needs. A timer wakes it to look at the deadline.
template <class Done> bool waitUntil(Done done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QTimer wake;
    wake.start(50);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

// Handles events until the signal.
template <class Sender, class Signal> bool waitFor(Sender* sender, Signal signal, int timeoutMs)
{
    bool fired = false;
    const QMetaObject::Connection connection = QObject::connect(sender, signal, [&fired] { fired = true; });
    const bool ok = waitUntil([&fired] { return fired; }, timeoutMs);
    QObject::disconnect(connection);
    return ok;
}
