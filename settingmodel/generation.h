#pragma once

#include "host/modelbase.h"

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <functional>

// Counts a model's sign-outs. Work that a task or an answer posts back for an earlier one is
// dropped, so nothing of a cleared account reaches the next.
class Generation {
public:
    quint64 current() const { return m_value.load(); }
    bool isCurrent(quint64 generation) const { return generation == m_value.load(); }
    void advance() { ++m_value; }

    // Runs step on model's thread, unless a sign-out began meanwhile. Callable from any thread;
    // model must outlive the tasks that call it (it waits for them when it is cleared).
    template <class Model> void post(Model* model, std::function<void()> step) const
    {
        post(model, current(), std::move(step));
    }

    // The same for a task: generation is the one it took when it started, so that nothing it
    // posts reaches an account signed in after it began.
    template <class Model> void post(Model* model, quint64 generation, std::function<void()> step) const
    {
        QMetaObject::invokeMethod(
            model,
            [this, model, generation, step = std::move(step)] {
                if (isCurrent(generation) && !static_cast<const ModelBase*>(model)->isClearing())
                    step();
            },
            Qt::QueuedConnection);
    }

private:
    std::atomic<quint64> m_value{0};
};
