#pragma once

#include "host/modelbase.h"
#include "privacy/privacyitem.h"
#include "settingmodel_global.h"

#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

#include <memory>

class AccountBase;
namespace im::user {
class ListPrivacySettingsResp;
class UpdatePrivacySettingReq;
} // namespace im::user

// The account's privacy settings. A change is sent as one update and shows only once the
// server acknowledges it; while one update is in flight, further changes are dropped.
class SETTINGMODEL_EXPORT PrivacyModel : public QObject, public ModelBase {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("PrivacyModel is made by the module")
    Q_PROPERTY(bool findMeByPhone READ findMeByPhone WRITE setFindMeByPhone NOTIFY findMeByPhoneChanged)
    Q_PROPERTY(bool findMeById READ findMeById WRITE setFindMeById NOTIFY findMeByIdChanged)
    Q_PROPERTY(bool enableStrangerChat READ enableStrangerChat WRITE setEnableStrangerChat NOTIFY
                   enableStrangerChatChanged)
    Q_PROPERTY(bool autoAcceptContact READ autoAcceptContact WRITE setAutoAcceptContact NOTIFY
                   autoAcceptContactChanged)
    Q_PROPERTY(int deleteInactiveAccountMonth READ deleteInactiveAccountMonth WRITE
                   setDeleteInactiveAccountMonth NOTIFY deleteInactiveAccountMonthChanged)
    Q_PROPERTY(bool enableSecurityNotif READ enableSecurityNotif WRITE setEnableSecurityNotif NOTIFY
                   enableSecurityNotifChanged)
    Q_PROPERTY(PrivacyItem* lastseen READ lastseen CONSTANT)
    Q_PROPERTY(PrivacyItem* status READ status CONSTANT)
    Q_PROPERTY(PrivacyItem* calls READ calls CONSTANT)
    Q_PROPERTY(PrivacyItem* showRealPhoto READ showRealPhoto CONSTANT)
    Q_PROPERTY(PrivacyItem* forwardMyMessage READ forwardMyMessage CONSTANT)
    Q_PROPERTY(bool autoUnarchiveDialog READ autoUnarchiveDialog WRITE setAutoUnarchiveDialog NOTIFY
                   autoUnarchiveDialogChanged)
    Q_PROPERTY(int newChatSelfDestructTime READ newChatSelfDestructTime WRITE setNewChatSelfDestructTime
                   NOTIFY newChatSelfDestructTimeChanged)
    Q_PROPERTY(int messageCountLimit READ messageCountLimit NOTIFY messageCountLimitChanged)
    Q_PROPERTY(int messageDaysLimit READ messageDaysLimit NOTIFY messageDaysLimitChanged)
    Q_PROPERTY(bool autoUnarchiveMutedDialog READ autoUnarchiveMutedDialog WRITE setAutoUnarchiveMutedDialog
                   NOTIFY autoUnarchiveMutedDialogChanged)
    Q_PROPERTY(bool atSending READ atSending WRITE setAtSending NOTIFY atSendingChanged)
    Q_PROPERTY(bool autoUnarchiveDialogInFolder READ autoUnarchiveDialogInFolder WRITE
                   setAutoUnarchiveDialogInFolder NOTIFY autoUnarchiveDialogInFolderChanged)
public:
    explicit PrivacyModel(AccountBase* account);
    ~PrivacyModel() override;

    AccountBase* account() const;

    bool findMeByPhone() const;
    bool findMeById() const;
    bool enableStrangerChat() const;
    bool autoAcceptContact() const;
    int deleteInactiveAccountMonth() const;
    bool enableSecurityNotif() const;
    PrivacyItem* lastseen() const { return m_lastseen; }
    PrivacyItem* status() const { return m_status; }
    PrivacyItem* calls() const { return m_calls; }
    PrivacyItem* showRealPhoto() const { return m_showRealPhoto; }
    PrivacyItem* forwardMyMessage() const { return m_forwardMyMessage; }
    bool autoUnarchiveDialog() const;
    int newChatSelfDestructTime() const;
    int messageCountLimit() const;
    int messageDaysLimit() const;
    bool autoUnarchiveMutedDialog() const;
    bool atSending() const { return m_atSending; }
    bool autoUnarchiveDialogInFolder() const;

    void setFindMeByPhone(bool value, bool needSync = true);
    void setFindMeById(bool value, bool needSync = true);
    void setEnableStrangerChat(bool value, bool needSync = true);
    void setAutoAcceptContact(bool value, bool needSync = true);
    void setDeleteInactiveAccountMonth(int value, bool needSync = true);
    void setEnableSecurityNotif(bool value, bool needSync = true);
    void setAutoUnarchiveDialog(bool value, bool needSync = true);
    void setNewChatSelfDestructTime(int value, bool needSync = true);
    void setAutoUnarchiveMutedDialog(bool value, bool needSync = true);
    void setAtSending(bool value);
    void setAutoUnarchiveDialogInFolder(bool value, bool needSync = true);
    Q_INVOKABLE void setMessageLimit(int length, int days, bool needSync = true);

    // A settings list from the server (save: keep it as the local copy).
    void setPrivacySettings(const im::user::ListPrivacySettingsResp& settings, bool save);
    // The server's answer to an update this account sent.
    void updatePrivacySettingResp(const im::user::UpdatePrivacySettingReq& req, int code);

    bool loadLocalData(bool alreadyLoaded) override;
    bool clearData(bool force) override;

signals:
    void findMeByPhoneChanged(bool findMeByPhone);
    void findMeByIdChanged(bool findMeById);
    void enableStrangerChatChanged(bool enableStrangerChat);
    void autoAcceptContactChanged(bool autoAcceptContact);
    void deleteInactiveAccountMonthChanged(int deleteInactiveAccountMonth);
    void enableSecurityNotifChanged(bool enableSecurityNotif);
    void startDestroy();
    void autoUnarchiveDialogChanged(bool autoUnarchiveDialog);
    void newChatSelfDestructTimeChanged();
    void messageCountLimitChanged();
    void messageDaysLimitChanged();
    void autoUnarchiveMutedDialogChanged();
    void atSendingChanged();
    void autoUnarchiveDialogInFolderChanged();

private:
    struct Scalar;
    static const Scalar& scalar(int setting);

    void setScalar(int setting, int value, bool needSync);
    void applyScalar(int setting, int value);
    void applyMessageLimit(int count, int days);
    void updatePrivacySetting(const im::user::UpdatePrivacySettingReq& req);

    QPointer<PrivacyItem> m_lastseen;
    QPointer<PrivacyItem> m_status;
    QPointer<PrivacyItem> m_calls;
    QPointer<PrivacyItem> m_showRealPhoto;
    QPointer<PrivacyItem> m_forwardMyMessage;
    std::unique_ptr<im::user::ListPrivacySettingsResp> m_settings;
    bool m_atSending = false;
};
