// The benchmarks' clock of main-thread events: what they report as the longest event must be
// the main thread's own, whatever other threads do meanwhile.
#include "benchsupport.h"

#include <QAtomicInt>
#include <QElapsedTimer>
#include <QEvent>
#include <QTest>
#include <QThread>

namespace {

// Busy for a while in each event it gets, so that another thread is inside notify most of the
// time.
class Busy : public QObject {
public:
    bool event(QEvent* event) override
    {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        QElapsedTimer spent;
        spent.start();
        while (spent.nsecsElapsed() < 2'000'000) {
        }
        return true;
    }
};

} // namespace

class TestTimedApp : public QObject {
    Q_OBJECT

private slots:
    void aMainThreadEventIsTimedWhileOtherThreadsSendEvents()
    {
        auto* app = static_cast<TimedApp*>(QCoreApplication::instance());
        // Another thread sends events to an object of its own, and moves objects to itself, all
        // through the application's notify.
        QAtomicInt stop;
        QAtomicInt sent;
        QThread* busy = QThread::create([&stop, &sent] {
            Busy receiver;
            while (!stop.loadRelaxed()) {
                QEvent event(QEvent::User);
                QCoreApplication::sendEvent(&receiver, &event);
                sent.fetchAndAddRelaxed(1);
                QObject moved;
                moved.moveToThread(QThread::currentThread());
            }
        });
        busy->start();
        QVERIFY(QTest::qWaitFor([&sent] { return sent.loadRelaxed() > 2; }));
        app->resetLongest();
        bool ran = false;
        QTimer::singleShot(0, this, [&ran] {
            QElapsedTimer spent;
            spent.start();
            while (spent.nsecsElapsed() < 20'000'000) {
            }
            ran = true;
        });
        QVERIFY(waitUntil([&ran] { return ran; }, 5000));
        stop.storeRelaxed(1);
        busy->wait();
        delete busy;
        QVERIFY2(app->longestMs() >= 19.5 && app->longestMs() < 40,
                 qPrintable(QStringLiteral("longest %1 ms").arg(app->longestMs())));
    }
};

int main(int argc, char** argv)
{
    TimedApp app(argc, argv);
    TestTimedApp test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_timedapp.moc"
