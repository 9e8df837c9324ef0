#pragma once

#include "host/hostglobal.h"
#include "host/modelbase.h"

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QVariantList>
#include <QVariantMap>

namespace im {
class SharedPreference;
namespace misc {
class ListSharedPreferencesResp;
class UpdateSharedPreferencesV2Req;
} // namespace misc
namespace notif {
class SharedPreferenceUpdatedNotif;
}
} // namespace im

// The account's synchronised preference store, as the host and other models reach it.
class HOST_EXPORT SharedPreferenceBase : public QObject, public ModelBase {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SharedPreferenceBase() override;

    // Edits this device made that the server has not confirmed yet (sent or waiting to be).
    virtual int pendingEditCount() const { return 0; }
    virtual void listSharedPreferencesResp(const im::misc::ListSharedPreferencesResp& resp) = 0;
    virtual void updateSharedPreferencesResp(const QByteArray& body, const QVariantMap& context,
                                             int code) = 0;
    virtual void sharedPreferencesNotify(const im::notif::SharedPreferenceUpdatedNotif& notif) = 0;
    virtual QByteArray getKeyValue(const QString& key) = 0;
    virtual bool hasKey(const QString& key) = 0;
    virtual QSet<qint64> pinnedMessageBlackList(const QString& dialogId) = 0;
    virtual void syncPinnedMessageBlackList(const QString& dialogId, const QSet<qint64>& messageIds) = 0;
    virtual void syncFavoriteStickerList(const QByteArray& list, QVariantMap& context) = 0;
    virtual void syncGifHistoryList(const QByteArray& list, QVariantMap& context) = 0;
    virtual void syncReminder(const QString& key, const QByteArray& data) = 0;
    virtual void deleteReminders(const QList<QString>& keys) = 0;
    virtual void syncScreenLockHistory(const QString& key, const QByteArray& value) = 0;
    virtual void syncScreenLockLogs(const im::misc::UpdateSharedPreferencesV2Req& req) = 0;
    virtual void deleteScreenLockLog(const QList<QString>& keys) = 0;
    virtual qint64 updateSharedPreferences(const im::misc::UpdateSharedPreferencesV2Req& req, bool flag) = 0;
    virtual void chatFolder(im::SharedPreference* record, const QString& key, const QByteArray& value) = 0;
    virtual void chatFolderOrder(im::SharedPreference* record, const QByteArray& order) = 0;
    virtual void chatFolderOrderExtern(im::SharedPreference* record, const QByteArray& order) = 0;
    virtual void syncChatFolderOrder(const QByteArray& order, const QByteArray& orderExtern) = 0;
    virtual void saveChatFolderOrder(const QByteArray& order) = 0;
    virtual void saveChatFolderOrderExtern(const QByteArray& order) = 0;
    virtual void syncChatFolderConfig(const QByteArray& config) = 0;
    virtual void syncNotifySetting(const QByteArray& json) = 0;
    virtual void syncDeskTopNotifySetting(const QByteArray& json) = 0;
    virtual void syncRingtoneList(const QByteArray& list, QVariantMap& context) = 0;
    virtual void syncRingtoneSetting(const QString& key, const QByteArray& value, QVariantMap& context) = 0;
    virtual void syncMessageExif(bool media, bool on) = 0;
    Q_INVOKABLE virtual void syncRemark(qint64 targetId, bool isGroup, const QString& remark) = 0;
    Q_INVOKABLE virtual void updateUserStatusSettingReq(const QVariantList& statusSetting) = 0;
    Q_INVOKABLE virtual void updateRandomMessagePreviewReq(const QVariantList& dialogs) = 0;

signals:
    // The server's preference list has been applied.
    void listFinished();
};
