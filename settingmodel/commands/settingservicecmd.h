#pragma once

#include "settingmodel_global.h"

#include <QMap>
#include <QObject>
#include <QSet>
#include <QVariant>
#include <QtQml/qqmlregistration.h>

#include <functional>

class AccountBase;
namespace im {
namespace user {
class UpdatePrivacySettingReq;
}
namespace misc {
class UpdateSharedPreferencesV2Req;
}
namespace chat {
class UpdateThemeReq;
}
} // namespace im

// The account's sender of account-level setting commands: devices, privacy, verification,
// features, shared preferences and chat themes. List and query commands are not sent again
// while one of them is still unanswered.
class SETTINGMODEL_EXPORT SettingServiceCmd : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("SettingServiceCmd is made by the module")
public:
    enum Command : quint16 {
        ListDevices = 46,
        UnlinkDevices = 47,
        ListPrivacySettings = 121,
        UpdatePrivacySetting = 122,
        ResetVerification = 139,
        GetVerificationSetting = 151,
        VerifyEmail = 152,
        VerifyPassword = 153,
        UpdateVerificationSetting = 154,
        VerifyEmailByPhone = 155,
        EvalPrivacySetting = 156,
        UpdateUserPrivacy = 157,
        EnableFeature = 172,
        DisableFeature = 173,
        ListFeatures = 174,
        ListSharedPreferences = 178,
        UpdateSharedPreferences = 180,
        UpdateDeviceDeleteTimer = 274,
        UpdateTheme = 373,
    };
    Q_ENUM(Command)

    using ThemeCallback = std::function<void(int code, const QByteArray& body)>;

    explicit SettingServiceCmd(AccountBase* account);
    ~SettingServiceCmd() override;

    void updatePrivacySetting(const im::user::UpdatePrivacySettingReq& req);
    void listSharedPreferences(qint64 offset);
    qint64 updateSharedPreferences(const im::misc::UpdateSharedPreferencesV2Req& req, bool flag,
                                   const QMap<QString, QVariant>& context);
    qint64 updateSharedPreference(const QString& key, const QString& value, int type, qint64 version,
                                  const QMap<QString, QVariant>& context, bool flag,
                                  const QByteArray& valueKey);
    void updateThemeReq(const im::chat::UpdateThemeReq& req, ThemeCallback callback);

    // Commands that are waiting for their answer and are not sent again meanwhile.
    bool isInFlight(quint16 command) const { return m_inFlight.contains(command); }

public slots:
    void listDevices();
    void unlinkDevices(const QVariantList& deviceIds, const QString& password = QString());
    void listPrivacySettings();
    void resetVerification(bool cancel);
    void getVerificationSetting();
    void verifyEmail(const QString& email);
    void verifyPassword(const QString& password);
    void updateVerificationSetting(int action, const QString& password, const QString& email,
                                   const QString& verifyCode, const QString& newPassword);
    void verifyEmailByPhone(const QString& phone, const QString& code);
    void evalPrivacySetting(qint64 userId, int overrideRole);
    void updateUserPrivacy(qint64 userId, int permission, int length);
    void enableFeature(int featureId);
    void disableFeature(int featureId);
    void listFeatures();
    void updateDeviceDeleteTimer(int timerType);

signals:
    void listDevicesFinished(bool succ);
    void unlinkDeviceFinished(int code);
    void getVerificationSettingFinished(int code, bool enabled, const QString& email);
    void verifyEmailFinished(int code, bool succ, const QString& tip);
    void verifyPasswordFinished(int code, bool succ, bool valid, const QString& error);
    void updateVerificationSettingFinished(int code, const QVariantMap& reqParams, const QString& error);
    void verifyEmailByPhoneFinished(bool succ);

private:
    using Handler = std::function<void(int code, const QByteArray& body)>;

    bool enterFlight(quint16 command);
    void leaveFlight(quint16 command) { m_inFlight.remove(command); }
    qint64 send(quint16 command, const QByteArray& body, Handler handler, bool flag = false,
                const QMap<QString, QVariant>& context = {});
    void reportError(int code, const char* textId, quint16 command) const;

    AccountBase* m_account;
    QSet<quint16> m_inFlight;
};
