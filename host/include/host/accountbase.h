#pragma once

#include "host/hostglobal.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QSharedPointer>
#include <QVariant>

#include <functional>

namespace storage {
class UserStorageProvider;
}
class DataInfoModel;
class AccountSettingModel;
class AccountDeviceModel;
class DialogBase;
class UserManager;
class GroupModelMgr;
class FileManager;
class SharedPreferenceBase;
class ReminderHandler;
class StickerBoxSetMgr;
class DownloadStickerMgr;

// Module models, reached by their siblings through the account; the host only hands out
// the pointers the composition root registered.
class SettingServiceCmd;
class WallpaperHandler;
class ThemeHandler;
class PrivacyModel;
class StatusShortCut;
class GroupMutedSettingModel;
class RingtoneManager;

// The signed-in account: its stores, its state, its transport and its models.
class HOST_EXPORT AccountBase : public QObject {
    Q_OBJECT
public:
    using ResponseCallback = std::function<void(int code, const QByteArray& body)>;
    // Codes of requests that never reached the server or never came back. Every negative code is
    // a failure of the network, not an answer of the server.
    static constexpr int kNetworkError = -1;
    static constexpr int kRequestTimedOut = -2;

    using QObject::QObject;
    ~AccountBase() override;

    // The account's identity, as AccountManager names the source of a report.
    virtual QString accountId() const = 0;
    virtual storage::UserStorageProvider* storage() const = 0;
    virtual DataInfoModel* dataInfoModel() const = 0;
    virtual AccountSettingModel* accountSettingModel() const = 0;
    virtual AccountDeviceModel* deviceModel() const = 0;

    // Encrypts with a fresh key, returned in keyOut.
    virtual QByteArray encrypt(const QByteArray& data, QByteArray& keyOut) = 0;
    // Reverses encrypt. A value that was altered, or the wrong key, gives an empty result
    // and *ok false.
    virtual QByteArray decrypt(const QByteArray& data, const QByteArray& key, bool* ok = nullptr) = 0;

    virtual void setFeatures(const QMap<int, int>& features) = 0;
    virtual void updateFeature(int action, int code, int featureId, int state) = 0;
    virtual void setMaxDeviceCount(int count) = 0;
    virtual void setVerificationEmail(const QString& email) = 0;
    virtual void setVerificationEnabled(bool enabled) = 0;
    virtual void setVerificationResetAt(qint64 resetAtMs) = 0;

    virtual qint64 currentTime() = 0;
    virtual bool isOnline() = 0;
    virtual QSharedPointer<DialogBase> dialogById(const QString& dialogId, bool fetch) = 0;

    virtual UserManager* userManager() const = 0;
    virtual GroupModelMgr* groupModelMgr() const = 0;
    virtual FileManager* fileManager() const = 0;
    virtual SharedPreferenceBase* sharedPreference() const = 0;
    virtual SettingServiceCmd* settingServiceCmd() const = 0;
    virtual WallpaperHandler* wallpaperHandler() const = 0;
    virtual ThemeHandler* themeHandler() const = 0;
    virtual PrivacyModel* privacyModel() const = 0;
    virtual StatusShortCut* statusShortCut() const = 0;
    virtual GroupMutedSettingModel* groupMutedSettingModel() const = 0;
    virtual RingtoneManager* ringtoneManager() const = 0;
    virtual ReminderHandler* reminderHandler() const = 0;

    // Sends one command. The callback runs once, later, on this object's thread; flag and
    // context pass through to the transport unchanged. Returns the request id.
    virtual qint64 sendRequest(int command, const QByteArray& body, ResponseCallback callback, bool flag,
                               const QMap<QString, QVariant>& context) = 0;

    // Host services the synchronised preferences feed.
    virtual StickerBoxSetMgr* stickerBoxSetMgr() const = 0;
    virtual DownloadStickerMgr* downloadStickerMgr() const = 0;
    // Messages of a chat whose pin notice the user dismissed. merge: another device's newer
    // list replaced ours.
    virtual void updatePinnedMessageBlackList(const QString& dialogId, const QVariantList& messageIds,
                                              bool merge) = 0;
    // Chats whose message previews are randomised.
    virtual void updateRandomMessagePreview(const QStringList& dialogIds) = 0;
    virtual void updateChatFolder(const QString& key, const QByteArray& value) = 0;
    virtual void updateChatFolderOrder(const QByteArray& order, const QByteArray& orderExtern,
                                       bool localIsNewer) = 0;
    virtual void updateScreenLockLog(const QByteArray& value, bool merge) = 0;

signals:
    // isOnline() changed.
    void onlineChanged();
    // A chat of this account was destroyed (after its own startDestroy). One signal for the
    // account, so that a list of thousands of chats need not connect to each.
    void dialogDestroyed(const QString& dialogId);
};
