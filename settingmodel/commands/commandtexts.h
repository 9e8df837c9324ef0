#pragma once

#include "settingmodel_global.h"

#include <QByteArray>
#include <QString>

// Result codes the settings commands tell apart, and the messages built from their bodies.
inline constexpr int kUnauthorized = 401;
inline constexpr int kTooFrequent = 429;
inline constexpr int kPasswordLocked = 2119;
inline constexpr int kWrongCode = 2102;
inline constexpr int kCodeExpired = 2103;
inline constexpr int kResetAlreadyPending = 13901;
inline constexpr int kInvalidEmail = 15201;

inline constexpr int kFeatureEnabled = 1;
inline constexpr int kFeatureDisabled = 2;

// "pwd_error_tip" with the lock-until time of an im::PasswordLockedErrorData body, in the
// system language's short format. A body that does not parse gives "general_fail": a date
// we do not know is better left out than shown as the epoch.
SETTINGMODEL_EXPORT QString lockedMessage(const QByteArray& body);

// "setting_password_reset_failed_content" with the pending reset's time as dd/MM/yyyy hh:mm.
SETTINGMODEL_EXPORT QString resetPendingMessage(qint64 resetAtMs);
