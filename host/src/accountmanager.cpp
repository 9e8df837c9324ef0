#include "host/accountmanager.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QThread>

Q_LOGGING_CATEGORY(lcHostManager, "im.host.manager")

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
    const Error failure{code, text, command, m_source, Failure};
    if (!closed(failure))
        record(failure);
}

void AccountManager::report(const QString& accountId, Severity severity, int code, const QString& text,
                            int command)
{
    const Error error{code, text, command, accountId, severity};
    if (closed(error))
        return;
    if (QThread::currentThread() == thread()) {
        record(error);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, error] { record(error); }, Qt::QueuedConnection);
}

void AccountManager::setAccountClosed(const QString& accountId, bool closed)
{
    QMutexLocker lock(&m_closedMutex);
    if (closed)
        m_closed.insert(accountId);
    else
        m_closed.remove(accountId);
}

bool AccountManager::closed(const Error& error) const
{
    QMutexLocker lock(&m_closedMutex);
    if (!m_closed.contains(error.source))
        return false;
    qCDebug(lcHostManager) << "dropped a report of closed account" << error.source << error.text;
    return true;
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
