#include "host/accountmanager.h"

AccountManager* AccountManager::getInstance()
{
    static AccountManager instance;
    return &instance;
}

void AccountManager::error(int code, const QString& text, int command)
{
    m_errors.append({code, text, command, m_source});
    emit errorReported(code, text, command, m_source);
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
