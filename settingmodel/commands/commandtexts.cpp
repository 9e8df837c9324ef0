#include "commandtexts.h"

#include "im/common.pb.h"
#include "protobufutil.h"

#include <QDateTime>
#include <QLocale>

QString lockedMessage(const QByteArray& body)
{
    im::PasswordLockedErrorData data;
    if (!settingmodel::parseMessage(data, body))
        return qtTrId("general_fail");
    const QDateTime until = QDateTime::fromMSecsSinceEpoch(data.lock_until()).toLocalTime();
    const QLocale locale(QLocale::system().language());
    return qtTrId("pwd_error_tip").arg(locale.toString(until, QLocale::ShortFormat), 0, QLatin1Char(' '));
}

QString resetPendingMessage(qint64 resetAtMs)
{
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(resetAtMs).toLocalTime();
    return qtTrId("setting_password_reset_failed_content")
        .arg(at.toString(QStringLiteral("dd/MM/yyyy hh:mm")), 0, QLatin1Char(' '));
}
