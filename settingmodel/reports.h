#pragma once

#include "host/accountbase.h"
#include "host/accountmanager.h"

namespace settingmodel {

// A message for the user of the account, from whichever thread or task found it.
inline void reportFailure(const AccountBase* account, int code, const QString& text, int command = 0)
{
    AccountManager::getInstance()->report(account ? account->accountId() : QString(), AccountManager::Failure,
                                          code, text, command);
}

inline void reportTip(const AccountBase* account, const QString& text)
{
    AccountManager::getInstance()->report(account ? account->accountId() : QString(), AccountManager::Tip, 0,
                                          text, 0);
}

} // namespace settingmodel
