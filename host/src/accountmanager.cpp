#include "host/accountmanager.h"

#include <QCoreApplication>
#include <QThread>

AccountManager* AccountManager::getInstance()
{
    static AccountManager instance;
    return &instance;
}

AccountManager::AccountManager()
{
    // Reports arrive on the application's thread, whichever thread asked first.
    if (QCoreApplication* app = QCoreApplication::instance())
        moveToThread(app->thread());
}

void AccountManager::error(int code, const QString& text, int command)
{
    record({code, text, command, m_source, Failure});
}

void AccountManager::report(const QString& accountId, Severity severity, int code, const QString& text,
                            int command)
{
    const Error error{code, text, command, accountId, severity};
    if (QThread::currentThread() == thread()) {
        record(error);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, error] { record(error); }, Qt::QueuedConnection);
}

void AccountManager::record(const Error& error)
{
    m_errors.append(error);
    emit errorReported(error.code, error.text, error.command, error.source, error.severity);
}

void AccountManager::notify(int type)
{
    m_notifications.append(type);
    emit notified(type);
}

void AccountManager::clearRecords()
{
    m_errors.clear();
    m_notifications.clear();
}
