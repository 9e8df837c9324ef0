#include "commands/settingservicecmd.h"

#include "commandtexts.h"
#include "host/accountbase.h"
#include "host/accountdevicemodel.h"
#include "host/accountmanager.h"
#include "host/contacts.h"
#include "host/sharedpreferencebase.h"
#include "im/account.pb.h"
#include "im/chat.pb.h"
#include "im/common.pb.h"
#include "im/feature.pb.h"
#include "im/misc.pb.h"
#include "im/user.pb.h"
#include "logging.h"
#include "privacy/privacymodel.h"
#include "protobufutil.h"
#include "reports.h"

#include <QJSEngine>
#include <QPointer>

using settingmodel::parseMessage;

namespace {
QString text(const char* id)
{
    return qtTrId(id);
}
} // namespace

SettingServiceCmd::SettingServiceCmd(AccountBase* account) : QObject(account), m_account(account)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

SettingServiceCmd::~SettingServiceCmd() = default;

bool SettingServiceCmd::enterFlight(quint16 command)
{
    if (m_inFlight.contains(command))
        return false;
    m_inFlight.insert(command);
    return true;
}

qint64 SettingServiceCmd::send(quint16 command, const QByteArray& body, Handler handler, bool flag,
                               const QMap<QString, QVariant>& context)
{
    // The transport holds the callback; it must not reach a command object that is gone.
    QPointer<SettingServiceCmd> self(this);
    return m_account->sendRequest(
        command, body,
        [self, handler = std::move(handler)](int code, const QByteArray& reply) {
            if (self)
                handler(code, reply);
        },
        flag, context);
}

void SettingServiceCmd::reportError(int code, const char* textId, quint16 command) const
{
    settingmodel::reportFailure(m_account, code, text(textId), command);
}

void SettingServiceCmd::listDevices()
{
    if (!enterFlight(ListDevices))
        return;
    send(ListDevices, {}, [this](int code, const QByteArray& body) {
        bool listed = false;
        im::user::ListDevicesResp resp;
        if (code == 0 && parseMessage(resp, body)) {
            if (AccountDeviceModel* devices = m_account->deviceModel())
                devices->setDeviceList(resp);
            if (resp.max_device_count() > 0)
                m_account->setMaxDeviceCount(resp.max_device_count());
            listed = true;
        }
        leaveFlight(ListDevices);
        emit listDevicesFinished(listed);
    });
}

void SettingServiceCmd::unlinkDevices(const QVariantList& deviceIds, const QString& password)
{
    im::user::UnlinkDevicesReq req;
    QString line = QStringLiteral("UserServiceCmd::unlinkDevices");
    for (const QVariant& id : deviceIds) {
        req.add_device_ids(id.toInt());
        line += QLatin1Char(' ') + QString::number(id.toInt());
    }
    qCDebug(lcSettingModel).noquote() << line;
    req.set_password(password.toStdString());
    send(UnlinkDevices, SM_SERIALIZE(req), [this, deviceIds](int code, const QByteArray&) {
        if (code == 0) {
            if (AccountDeviceModel* devices = m_account->deviceModel())
                devices->removeDevices(deviceIds);
        }
        emit unlinkDeviceFinished(code);
    });
}

void SettingServiceCmd::listPrivacySettings()
{
    if (!enterFlight(ListPrivacySettings))
        return;
    send(ListPrivacySettings, {}, [this](int code, const QByteArray& body) {
        leaveFlight(ListPrivacySettings);
        im::user::ListPrivacySettingsResp resp;
        if (code != 0 || !parseMessage(resp, body)) {
            reportError(code, "ab_privacy_settings_get_fail", ListPrivacySettings);
            return;
        }
        if (PrivacyModel* privacy = m_account->privacyModel())
            privacy->setPrivacySettings(resp, true);
    });
}

void SettingServiceCmd::updatePrivacySetting(const im::user::UpdatePrivacySettingReq& req)
{
    if (!enterFlight(UpdatePrivacySetting))
        return;
    send(UpdatePrivacySetting, SM_SERIALIZE(req), [this, req](int code, const QByteArray&) {
        leaveFlight(UpdatePrivacySetting);
        if (PrivacyModel* privacy = m_account->privacyModel())
            privacy->updatePrivacySettingResp(req, code);
    });
}

void SettingServiceCmd::resetVerification(bool cancel)
{
    if (!enterFlight(ResetVerification))
        return;
    im::account::ResetVerificationReq req;
    req.set_cancel(cancel);
    send(ResetVerification, SM_SERIALIZE(req), [this](int code, const QByteArray& body) {
        leaveFlight(ResetVerification);
        im::account::ResetVerificationResp resp;
        const bool parsed = parseMessage(resp, body);
        if (code == 0 && parsed) {
            m_account->setVerificationResetAt(resp.reset_at());
        } else if (code == kResetAlreadyPending && parsed) {
            settingmodel::reportFailure(m_account, code, resetPendingMessage(resp.reset_at()),
                                        ResetVerification);
        } else {
            reportError(code, "setting_password_reset_failed", ResetVerification);
        }
    });
}

void SettingServiceCmd::getVerificationSetting()
{
    if (!enterFlight(GetVerificationSetting))
        return;
    send(GetVerificationSetting, {}, [this](int code, const QByteArray& body) {
        im::user::GetVerificationSettingResp resp;
        if (code != 0 || !parseMessage(resp, body)) {
            reportError(code, "ab_verification_get_fail", GetVerificationSetting);
        } else {
            m_account->setVerificationEmail(QString::fromStdString(resp.email()));
            m_account->setVerificationEnabled(resp.enabled());
            m_account->setVerificationResetAt(resp.reset_at());
        }
        leaveFlight(GetVerificationSetting);
    });
}

void SettingServiceCmd::verifyEmail(const QString& email)
{
    im::user::VerifyEmailReq req;
    req.set_email(email.toStdString());
    send(VerifyEmail, SM_SERIALIZE(req), [this](int code, const QByteArray& body) {
        if (code == kPasswordLocked) {
            emit verifyEmailFinished(code, false, lockedMessage(body));
            return;
        }
        const char* tip = code == 0               ? "cre_email_sent"
                          : code < 0              ? "cre_network_error"
                          : code == kTooFrequent  ? "main_tip_operation_frequent"
                          : code == kInvalidEmail ? "login_invalid_email"
                                                  : "general_fail";
        emit verifyEmailFinished(code, code == 0, text(tip));
    });
}

void SettingServiceCmd::verifyPassword(const QString& password)
{
    im::user::VerifyPasswordReq req;
    req.set_password(password.toStdString());
    send(VerifyPassword, SM_SERIALIZE(req), [this](int code, const QByteArray& body) {
        bool valid = false;
        QString error;
        if (code == 0) {
            im::user::VerifyPasswordResp resp;
            valid = parseMessage(resp, body) && resp.valid();
            if (!valid)
                error = text("eslp_enter_again");
        } else if (code == kPasswordLocked) {
            error = lockedMessage(body);
        } else {
            error = text(code == kTooFrequent    ? "main_tip_operation_frequent"
                         : code == kUnauthorized ? "login_unauthorized_tip"
                         : code > 0              ? "eslp_enter_again"
                                                 : "cre_network_error");
        }
        emit verifyPasswordFinished(code, code == 0, valid, error);
    });
}

void SettingServiceCmd::updateVerificationSetting(int action, const QString& password, const QString& email,
                                                  const QString& verifyCode, const QString& newPassword)
{
    im::user::UpdateVerificationSettingReq req;
    req.set_action(action);
    req.set_password(password.toStdString());
    req.set_email(email.toStdString());
    req.set_verify_code(verifyCode.toStdString());
    req.set_new_password(newPassword.toStdString());
    const QVariantMap reqParams{{QStringLiteral("action"), action},
                                {QStringLiteral("password"), password},
                                {QStringLiteral("email"), email},
                                {QStringLiteral("verifyCode"), verifyCode},
                                {QStringLiteral("newPassword"), newPassword}};
    send(UpdateVerificationSetting, SM_SERIALIZE(req), [this, reqParams](int code, const QByteArray& body) {
        QString error;
        if (code == 0) {
            const QString email = reqParams.value(QStringLiteral("email")).toString();
            switch (reqParams.value(QStringLiteral("action")).toInt()) {
            case 0:
                m_account->setVerificationEmail(email);
                m_account->setVerificationEnabled(true);
                break;
            case 1:
                m_account->setVerificationEmail(QString());
                m_account->setVerificationEnabled(false);
                m_account->setVerificationResetAt(0);
                break;
            case 2: reportError(0, "ab_password_update_ok", UpdateVerificationSetting); break;
            case 3: m_account->setVerificationEmail(email); break;
            default: break;
            }
        } else if (code == kPasswordLocked) {
            error = lockedMessage(body);
        } else {
            error = text(code == kTooFrequent                         ? "msgsync_try_again"
                         : code == kWrongCode || code == kCodeExpired ? "cre_code_error"
                                                                      : "ab_verification_update_fail");
        }
        emit updateVerificationSettingFinished(code, reqParams, error);
    });
}

void SettingServiceCmd::verifyEmailByPhone(const QString& phone, const QString& code)
{
    im::user::VerifyEmailByPhoneReq req;
    req.set_phone(phone.toStdString());
    req.set_code(code.toStdString());
    send(VerifyEmailByPhone, SM_SERIALIZE(req),
         [this](int result, const QByteArray&) { emit verifyEmailByPhoneFinished(result == 0); });
}

void SettingServiceCmd::evalPrivacySetting(qint64 userId, int overrideRole)
{
    im::user::EvalPrivacySettingReq req;
    req.set_user_id(userId);
    req.set_override_role(overrideRole);
    send(EvalPrivacySetting, SM_SERIALIZE(req), [this, userId](int code, const QByteArray& body) {
        im::user::EvalPrivacySettingResp resp;
        if (code != 0 || !parseMessage(resp, body)) {
            reportError(code, "general_fail", EvalPrivacySetting);
            return;
        }
        UserManager* users = m_account->userManager();
        if (const auto user = users ? users->getUserPointer(userId, true, QString(), true) : nullptr)
            user->privacyPermissionsChanged(resp.permissions().bits());
    });
}

void SettingServiceCmd::updateUserPrivacy(qint64 userId, int permission, int length)
{
    im::user::UpdatePrivacyForUserReq req;
    req.set_user_id(userId);
    req.mutable_permissions()->set_bits(permission);
    req.mutable_permissions()->set_length(length);
    send(UpdateUserPrivacy, SM_SERIALIZE(req), [this](int code, const QByteArray&) {
        if (code != 0)
            reportError(code, "general_fail", UpdateUserPrivacy);
    });
}

void SettingServiceCmd::enableFeature(int featureId)
{
    im::feature::EnableFeatureReq req;
    req.set_feature_id(featureId);
    send(EnableFeature, SM_SERIALIZE(req), [this, featureId](int code, const QByteArray&) {
        m_account->updateFeature(2, code, featureId, code == 0 ? kFeatureEnabled : kFeatureDisabled);
    });
}

void SettingServiceCmd::disableFeature(int featureId)
{
    im::feature::DisableFeatureReq req;
    req.set_feature_id(featureId);
    send(DisableFeature, SM_SERIALIZE(req), [this, featureId](int code, const QByteArray&) {
        m_account->updateFeature(3, code, featureId, code == 0 ? kFeatureDisabled : kFeatureEnabled);
    });
}

void SettingServiceCmd::listFeatures()
{
    if (!enterFlight(ListFeatures))
        return;
    send(ListFeatures, {}, [this](int code, const QByteArray& body) {
        im::feature::ListFeaturesResp resp;
        if (code == 0 && parseMessage(resp, body)) {
            QMap<int, int> features;
            for (const auto& feature : resp.features())
                features.insert(feature.feature_id(), feature.state());
            m_account->setFeatures(features);
        }
        leaveFlight(ListFeatures);
    });
}

void SettingServiceCmd::listSharedPreferences(qint64 offset)
{
    if (!enterFlight(ListSharedPreferences))
        return;
    im::misc::ListSharedPreferencesReq req;
    req.set_offset(offset);
    send(ListSharedPreferences, SM_SERIALIZE(req), [this](int code, const QByteArray& body) {
        leaveFlight(ListSharedPreferences);
        im::misc::ListSharedPreferencesResp resp;
        if (code != 0 || !parseMessage(resp, body))
            return;
        if (SharedPreferenceBase* preferences = m_account->sharedPreference())
            preferences->listSharedPreferencesResp(resp);
    });
}

qint64 SettingServiceCmd::updateSharedPreferences(const im::misc::UpdateSharedPreferencesV2Req& req,
                                                  bool flag, const QMap<QString, QVariant>& context)
{
    return send(
        UpdateSharedPreferences, SM_SERIALIZE(req),
        [this, context](int code, const QByteArray& body) {
            if (SharedPreferenceBase* preferences = m_account->sharedPreference())
                preferences->updateSharedPreferencesResp(body, context, code);
        },
        flag, context);
}

qint64 SettingServiceCmd::updateSharedPreference(const QString& key, const QString& value, int type,
                                                 qint64 version, const QMap<QString, QVariant>& context,
                                                 bool flag, const QByteArray& valueKey)
{
    im::misc::UpdateSharedPreferencesV2Req req;
    im::SharedPreference* entry = req.add_preferences();
    entry->set_key(key.toStdString());
    entry->set_value(value.toStdString());
    entry->set_type(type);
    entry->set_version(version);
    entry->set_value_key(valueKey.toStdString());
    entry->set_encrypted(!valueKey.isEmpty());
    return updateSharedPreferences(req, flag, context);
}

void SettingServiceCmd::updateDeviceDeleteTimer(int timerType)
{
    im::user::UpdateDeviceDeleteTimerReq req;
    req.set_timer_type(timerType);
    send(UpdateDeviceDeleteTimer, SM_SERIALIZE(req), [this, timerType](int code, const QByteArray&) {
        if (code != 0)
            return;
        if (AccountDeviceModel* devices = m_account->deviceModel())
            devices->setDeviceDeleteTimer(timerType);
    });
}

void SettingServiceCmd::updateThemeReq(const im::chat::UpdateThemeReq& req, ThemeCallback callback)
{
    // The caller's callback goes to the transport as it is: its owner hears the answer even when
    // this command object is gone by then.
    m_account->sendRequest(UpdateTheme, SM_SERIALIZE(req), std::move(callback), false, {});
}
