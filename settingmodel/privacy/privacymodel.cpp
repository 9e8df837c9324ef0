#include "privacy/privacymodel.h"

#include "commands/settingservicecmd.h"
#include "host/accountbase.h"
#include "host/accountmanager.h"
#include "host/accountsettingmodel.h"
#include "im/user.pb.h"
#include "logging.h"
#include "protobufutil.h"
#include "reports.h"

#include <QJSEngine>

#include <map>

using Settings = im::user::ListPrivacySettingsResp;
using Update = im::user::UpdatePrivacySettingReq;

// How one scalar setting is read, stored, requested and announced. The setting number is
// both the update's one-of case and the key of the table.
struct PrivacyModel::Scalar {
    int (*read)(const Settings&);
    void (*store)(Settings&, int);
    void (*request)(Update&, int);
    int (*fromUpdate)(const Update&);
    void (*changed)(PrivacyModel*, int);
};

// clang-format off
#define PRIVACY_SCALAR(number, field, type, signal)                                   \
    {number, Scalar{[](const Settings& s) { return int(s.field()); },                 \
                    [](Settings& s, int v) { s.set_##field(type(v)); },               \
                    [](Update& u, int v) { u.set_##field(type(v)); },                 \
                    [](const Update& u) { return int(u.field()); },                   \
                    [](PrivacyModel* m, [[maybe_unused]] int v) { emit m->signal; }}}
// clang-format on

namespace {
bool toBool(int v)
{
    return v != 0;
}
int toInt(int v)
{
    return v;
}
im::user::DeleteTimer toTimer(int v)
{
    return static_cast<im::user::DeleteTimer>(v);
}
} // namespace

const PrivacyModel::Scalar& PrivacyModel::scalar(int setting)
{
    static const std::map<int, Scalar> table{
        PRIVACY_SCALAR(3, find_me_by_phone, toBool, findMeByPhoneChanged(v != 0)),
        PRIVACY_SCALAR(4, find_me_by_id, toBool, findMeByIdChanged(v != 0)),
        PRIVACY_SCALAR(5, enable_stranger_chat, toBool, enableStrangerChatChanged(v != 0)),
        PRIVACY_SCALAR(6, deletetimer, toTimer, deleteInactiveAccountMonthChanged(v)),
        PRIVACY_SCALAR(7, enable_security_notif, toBool, enableSecurityNotifChanged(v != 0)),
        PRIVACY_SCALAR(13, auto_unarchive_dialog, toBool, autoUnarchiveDialogChanged(v != 0)),
        PRIVACY_SCALAR(14, auto_accept_contact, toBool, autoAcceptContactChanged(v != 0)),
        PRIVACY_SCALAR(15, new_chat_self_destruct_time, toInt, newChatSelfDestructTimeChanged()),
        PRIVACY_SCALAR(17, auto_unarchive_muted_dialog, toBool, autoUnarchiveMutedDialogChanged()),
        PRIVACY_SCALAR(18, auto_unarchive_dialog_in_folder, toBool, autoUnarchiveDialogInFolderChanged()),
    };
    return table.at(setting);
}

#undef PRIVACY_SCALAR

PrivacyModel::PrivacyModel(AccountBase* account)
    : QObject(account),
      m_lastseen(new PrivacyItem(1, account)),
      m_status(new PrivacyItem(12, account)),
      m_calls(new PrivacyItem(8, account)),
      m_showRealPhoto(new PrivacyItem(9, account)),
      m_forwardMyMessage(new PrivacyItem(11, account)),
      m_settings(std::make_unique<Settings>())
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

PrivacyModel::~PrivacyModel()
{
    m_settings.reset();
    // The interface lets go of the model and its rules first.
    emit startDestroy();
    // The rules are the account's children; they live as long as this model, unless the
    // account already took them down.
    for (PrivacyItem* rule : {m_lastseen.data(), m_status.data(), m_calls.data(), m_showRealPhoto.data(),
                              m_forwardMyMessage.data()})
        delete rule;
}

AccountBase* PrivacyModel::account() const
{
    return qobject_cast<AccountBase*>(parent());
}

bool PrivacyModel::findMeByPhone() const
{
    return m_settings->find_me_by_phone();
}
bool PrivacyModel::findMeById() const
{
    return m_settings->find_me_by_id();
}
bool PrivacyModel::enableStrangerChat() const
{
    return m_settings->enable_stranger_chat();
}
bool PrivacyModel::autoAcceptContact() const
{
    return m_settings->auto_accept_contact();
}
int PrivacyModel::deleteInactiveAccountMonth() const
{
    return m_settings->deletetimer();
}
bool PrivacyModel::enableSecurityNotif() const
{
    return m_settings->enable_security_notif();
}
bool PrivacyModel::autoUnarchiveDialog() const
{
    return m_settings->auto_unarchive_dialog();
}
int PrivacyModel::newChatSelfDestructTime() const
{
    return m_settings->new_chat_self_destruct_time();
}
int PrivacyModel::messageCountLimit() const
{
    return m_settings->new_chat_message_limit().count();
}
int PrivacyModel::messageDaysLimit() const
{
    return m_settings->new_chat_message_limit().days();
}
bool PrivacyModel::autoUnarchiveMutedDialog() const
{
    return m_settings->auto_unarchive_muted_dialog();
}
bool PrivacyModel::autoUnarchiveDialogInFolder() const
{
    return m_settings->auto_unarchive_dialog_in_folder();
}

void PrivacyModel::setFindMeByPhone(bool value, bool needSync)
{
    setScalar(3, value, needSync);
}
void PrivacyModel::setFindMeById(bool value, bool needSync)
{
    setScalar(4, value, needSync);
}
void PrivacyModel::setEnableStrangerChat(bool value, bool needSync)
{
    setScalar(5, value, needSync);
}
void PrivacyModel::setDeleteInactiveAccountMonth(int value, bool needSync)
{
    setScalar(6, value, needSync);
}
void PrivacyModel::setEnableSecurityNotif(bool value, bool needSync)
{
    setScalar(7, value, needSync);
}
void PrivacyModel::setAutoUnarchiveDialog(bool value, bool needSync)
{
    setScalar(13, value, needSync);
}
void PrivacyModel::setAutoAcceptContact(bool value, bool needSync)
{
    setScalar(14, value, needSync);
}
void PrivacyModel::setNewChatSelfDestructTime(int value, bool needSync)
{
    setScalar(15, value, needSync);
}
void PrivacyModel::setAutoUnarchiveMutedDialog(bool value, bool needSync)
{
    setScalar(17, value, needSync);
}
void PrivacyModel::setAutoUnarchiveDialogInFolder(bool value, bool needSync)
{
    setScalar(18, value, needSync);
}

void PrivacyModel::setAtSending(bool value)
{
    if (m_atSending == value)
        return;
    m_atSending = value;
    emit atSendingChanged();
}

void PrivacyModel::setScalar(int setting, int value, bool needSync)
{
    const Scalar& s = scalar(setting);
    if (s.read(*m_settings) == value)
        return;
    if (!needSync) {
        applyScalar(setting, value);
        return;
    }
    Update req;
    s.request(req, value);
    updatePrivacySetting(req);
}

void PrivacyModel::applyScalar(int setting, int value)
{
    const Scalar& s = scalar(setting);
    if (s.read(*m_settings) == value)
        return;
    s.store(*m_settings, value);
    s.changed(this, value);
}

void PrivacyModel::setMessageLimit(int length, int days, bool needSync)
{
    if (length == messageCountLimit() && days == messageDaysLimit())
        return;
    if (!needSync) {
        applyMessageLimit(length, days);
        return;
    }
    Update req;
    req.mutable_new_chat_message_limit()->set_count(length);
    req.mutable_new_chat_message_limit()->set_days(days);
    updatePrivacySetting(req);
}

void PrivacyModel::applyMessageLimit(int count, int days)
{
    if (count == messageCountLimit() && days == messageDaysLimit())
        return;
    m_settings->mutable_new_chat_message_limit()->set_count(count);
    m_settings->mutable_new_chat_message_limit()->set_days(days);
    emit messageCountLimitChanged();
    emit messageDaysLimitChanged();
}

void PrivacyModel::updatePrivacySetting(const Update& req)
{
    if (m_atSending)
        return; // one update at a time: this change is dropped
    AccountBase* acc = account();
    SettingServiceCmd* cmd = acc ? acc->settingServiceCmd() : nullptr;
    if (!cmd) {
        qCWarning(lcSettingModel) << "privacy update dropped: no command channel";
        return;
    }
    setAtSending(true);
    cmd->updatePrivacySetting(req);
}

void PrivacyModel::updatePrivacySettingResp(const Update& req, int code)
{
    setAtSending(false);
    if (code != 0) {
        settingmodel::reportFailure(account(), code, qtTrId("general_fail"),
                                    SettingServiceCmd::UpdatePrivacySetting);
        return;
    }
    const int setting = int(req.setting_case());
    switch (setting) {
    case Update::kLastseen: m_lastseen->setUserRange(req.lastseen()); break;
    case Update::kCall: m_calls->setUserRange(req.call()); break;
    case Update::kShowRealPhoto: m_showRealPhoto->setUserRange(req.show_real_photo()); break;
    case Update::kForwardMyMessage: m_forwardMyMessage->setUserRange(req.forward_my_message()); break;
    case Update::kShowUserStatus: m_status->setUserRange(req.show_user_status()); break;
    case Update::kNewChatMessageLimit:
        applyMessageLimit(req.new_chat_message_limit().count(), req.new_chat_message_limit().days());
        break;
    case 3:
    case 4:
    case 5:
    case 6:
    case 7:
    case 13:
    case 14:
    case 15:
    case 17:
    case 18: applyScalar(setting, scalar(setting).fromUpdate(req)); break;
    default: break;
    }
}

void PrivacyModel::setPrivacySettings(const Settings& settings, bool save)
{
    for (int setting : {4, 3, 5, 14, 7, 6})
        applyScalar(setting, scalar(setting).read(settings));
    m_lastseen->setUserRange(settings.lastseen());
    m_calls->setUserRange(settings.call());
    m_showRealPhoto->setUserRange(settings.show_real_photo());
    m_forwardMyMessage->setUserRange(settings.forward_my_message());
    m_status->setUserRange(settings.show_user_status());
    for (int setting : {13, 15, 17, 18})
        applyScalar(setting, scalar(setting).read(settings));
    applyMessageLimit(settings.new_chat_message_limit().count(), settings.new_chat_message_limit().days());
    *m_settings = settings;
    if (!save)
        return;
    AccountBase* acc = account();
    if (AccountSettingModel* store = acc ? acc->accountSettingModel() : nullptr)
        store->savePrivacySettings(SM_SERIALIZE(*m_settings));
}

bool PrivacyModel::loadLocalData(bool alreadyLoaded)
{
    if (alreadyLoaded)
        return true;
    AccountBase* acc = account();
    AccountSettingModel* store = acc ? acc->accountSettingModel() : nullptr;
    const QByteArray bytes = store ? store->privacySettings() : QByteArray();
    if (bytes.isEmpty())
        return true;
    Settings settings;
    // A damaged copy still yields whatever parsed; the server's list corrects it.
    if (!settingmodel::parseMessage(settings, bytes))
        qCWarning(lcSettingModel) << "local privacy settings did not parse";
    setPrivacySettings(settings, false);
    return true;
}

bool PrivacyModel::clearData(bool)
{
    setPrivacySettings(Settings(), false);
    return true;
}
