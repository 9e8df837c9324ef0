#pragma once

#include "host/sharedpreferencebase.h"
#include "host/storage.h"
#include "preferences/sharedpreferenceowner.h"
#include "settingmodel_global.h"

#include <QFuture>
#include <QHash>
#include <QMultiHash>
#include <QMutex>
#include <QPointer>
#include <QTimer>
#include <QtQml/qqmlregistration.h>

#include <functional>

class AccountBase;
namespace google::protobuf {
template <typename T> class RepeatedPtrField;
}

// The account's synchronised preferences: a key, a type number and a value per preference,
// stamped with a version. Kept in memory for synchronous reads, in the local database, and on
// the server, which lists them in pages, pushes other devices' changes and settles every
// write by version. Each preference that arrives is handed to the owner of its type: the host
// services are owners from the start, the module's models register as they are made.
//
// Every write of the preference table goes through the storage thread in the order the store
// decided it, so the database never holds an older value than memory does.
class SETTINGMODEL_EXPORT SharedPreferenceModel : public SharedPreferenceBase {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("SharedPreferenceModel is made by the module")
    Q_PROPERTY(bool localDataLoaded READ localDataLoaded NOTIFY localDataLoadedChanged)
public:
    // Preference types.
    enum Type {
        Notification = 1,
        DesktopNotification = 2,
        UserStatusSetting = 3,
        PinMessageBlackList = 4,
        StickerFavorite = 5,
        RandomMessagePreview = 6,
        Reminder = 7,
        ChatFolder = 8,
        DialogFolderOrder = 10,
        DialogFolderConfig = 11,
        UserRemark = 12,
        GroupRemark = 13,
        CustomRingtoneList = 15,
        ChatRingtone = 16,
        GifHistory = 17,
        DialogFolderOrderExtern = 21,
        ScreenLockLog = 22,
        MessageExif = 23,
        Theme = 24,
        ReactionTag = 25,
    };
    Q_ENUM(Type)

    // An edit the network failed is sent again after this delay, doubled after each failure up
    // to the maximum, and at once when the account comes online; at most a batch per request.
    static constexpr int kFirstResendDelayMs = 1000;
    static constexpr int kMaxResendDelayMs = 60 * 1000;
    static constexpr int kResendBatch = 50;

    explicit SharedPreferenceModel(AccountBase* account);
    ~SharedPreferenceModel() override;

    // Reads. Safe from any thread.
    QByteArray getKeyValue(const QString& key) override;
    bool hasKey(const QString& key) override;
    QHash<QString, QByteArray> getTypeValues(int type) const;
    QHash<QString, QByteArray> getReactionTags() const { return getTypeValues(ReactionTag); }
    // The latest version seen for a type, 0 when none.
    qint64 typeVersion(int type) const;
    // The version of the value held for a key, 0 when none.
    qint64 keyVersion(const QString& key, int type) const;

    // Makes owner the owner of a type for as long as guard lives. What it leaves unset keeps the
    // store's default for the type (its key rule, and the store's own signals). Records of the
    // type that were kept because nobody could take them are offered to it at once.
    void registerOwner(int type, QObject* guard, const SharedPreferenceOwner& owner);
    // Whether a registered owner takes the type now.
    bool hasOwner(int type) const;

    // Local writes.
    void saveToLocal(const QString& key, int type, const QByteArray& value, qint64 version);

    // Server writes.
    void makeSharedPreference(im::SharedPreference* record, const QString& key, const QByteArray& value,
                              int type, bool save);
    qint64 updateSharedPreferences(const im::misc::UpdateSharedPreferencesV2Req& req, bool flag) override;

    // Server sync.
    void listSharedPreferencesResp(const im::misc::ListSharedPreferencesResp& resp) override;
    void updateSharedPreferencesResp(const QByteArray& body, const QVariantMap& context, int code) override;
    void sharedPreferencesNotify(const im::notif::SharedPreferenceUpdatedNotif& notif) override;

    // Key operations.
    QSet<qint64> pinnedMessageBlackList(const QString& dialogId) override;
    void syncPinnedMessageBlackList(const QString& dialogId, const QSet<qint64>& messageIds) override;
    void syncFavoriteStickerList(const QByteArray& list, QVariantMap& context) override;
    void syncGifHistoryList(const QByteArray& list, QVariantMap& context) override;
    void syncReminder(const QString& key, const QByteArray& data) override;
    void deleteReminders(const QList<QString>& keys) override;
    void syncScreenLockHistory(const QString& key, const QByteArray& value) override;
    void syncScreenLockLogs(const im::misc::UpdateSharedPreferencesV2Req& req) override;
    void deleteScreenLockLog(const QList<QString>& keys) override;
    void chatFolder(im::SharedPreference* record, const QString& key, const QByteArray& value) override;
    void chatFolderOrder(im::SharedPreference* record, const QByteArray& order) override;
    void chatFolderOrderExtern(im::SharedPreference* record, const QByteArray& order) override;
    void syncChatFolderOrder(const QByteArray& order, const QByteArray& orderExtern) override;
    void saveChatFolderOrder(const QByteArray& order) override;
    void saveChatFolderOrderExtern(const QByteArray& order) override;
    void syncChatFolderConfig(const QByteArray& config) override;
    void syncNotifySetting(const QByteArray& json) override;
    void syncDeskTopNotifySetting(const QByteArray& json) override;
    void syncRingtoneList(const QByteArray& list, QVariantMap& context) override;
    void syncRingtoneSetting(const QString& key, const QByteArray& value, QVariantMap& context) override;
    void syncMessageExif(bool media, bool on) override;
    void syncRemark(qint64 targetId, bool isGroup, const QString& remark) override;
    void updateUserStatusSettingReq(const QVariantList& statusSetting) override;
    void updateRandomMessagePreviewReq(const QVariantList& dialogs) override;
    void syncTheme(const QString& key, const QByteArray& value);
    void syncReactionTags(const QString& emoji, const QString& name);

    // Lifecycle. The local load reads on the storage thread and applies here; server data that
    // arrives meanwhile waits for it, so it is never overwritten by the older local copy.
    bool loadLocalData(bool alreadyLoaded) override;
    bool localDataLoaded() const { return m_localLoaded; }
    // This device's edits the server has not answered yet (they go out again when they can).
    int pendingEditCount() const override;
    void getNewData() override;
    bool prepareToClearData(bool force) override;

signals:
    void reactionTagChanged(const QString& emoji, const QString& name);
    void updateStatusSettingFinish(const QVariantMap& retMap);
    void updateRandomMessagePreviewFinish(const QVariantMap& retMap);
    void localDataLoadedChanged();

private:
    // What applying a batch of server records leaves for storage and the account.
    struct Batch {
        QList<storage::SharedPreferenceInfo> save;
        QMultiHash<QString, int> remove;
        bool folderOrderSeen = false;
        bool localFolderOrderNewer = false;
    };
    struct RegisteredOwner {
        QPointer<QObject> guard;
        SharedPreferenceOwner owner;
    };
    // What the server holds for a key this device has written and not yet heard back about.
    struct ServerCopy {
        QByteArray value;
        qint64 version = 0;
        bool exists = false;
        int unconfirmed = 0;
        qint64 latestWrite = 0; // the version of this device's latest write of the key
    };
    struct LocalWrite {
        QString key;
        int type = 0;
    };
    // An edit of this device the server has not answered: sent again, oldest first, whenever the
    // network failed it. Its row in storage is marked too, so that it outlives a restart.
    struct PendingEdit {
        QByteArray value; // empty: a removal
        qint64 version = 0;
        int type = 0;
        bool encrypt = false;
        bool inFlight = false;
    };

    // The owners of the types the host serves, and the store's own signals.
    void installDefaultOwners();
    const SharedPreferenceOwner* ownerOf(int type) const;
    void offerUnapplied(int type);

    // Decrypts a record's value; false when it cannot be read (bad Base64, a wrong key).
    bool plainValue(const im::SharedPreference& record, QByteArray& plain) const;
    // Hands a plain record to its owner; sets and returns whether it was applied.
    bool parseSharedPreference(storage::SharedPreferenceInfo& info, bool fromLocal);
    bool applyRemark(int type, const QByteArray& value, bool fromLocal);
    // Applies what an answer or push carried; what it drops is logged once, naming the answer.
    void applyServerRecords(const google::protobuf::RepeatedPtrField<im::SharedPreference>& records,
                            Batch& batch, const char* answer);
    void finishFolderOrder(const Batch& batch);
    void tellOwnerOfSuccess(int type, const QString& key, const QByteArray& value,
                            const QVariantMap& context);
    void applyNewerServerValue(int type, const QString& key, const QByteArray& value, qint64 version,
                               const QVariantMap& context);
    void tellOwnerOfFailure(const QVariantMap& context, int code);
    bool mergeChatFolder(const QString& key, QByteArray& value);
    void finishListPage(qint64 nextOffset, bool hasMore);
    void pageStored(qint64 nextOffset, bool hasMore);
    void whenLoaded(std::function<void()> step);
    void applyLocalRows(const QList<storage::SharedPreferenceInfo>& rows);

    // Writes of this device that the server has not settled, so that a refused one can be undone.
    void beginLocalWrite(const QString& key, int type, qint64 version);
    void noteServerValue(const QString& key, int type, const QByteArray& value, qint64 version);
    void settleLocalWrites(const QVariantMap& context, int code);
    void listFromStart();
    void rollBack(const LocalWrite& write, const ServerCopy& copy);

    // Records this device's edit, durably, as not yet answered.
    void persistEdit(const QString& key, int type, const QByteArray& value, qint64 version, bool encrypt);
    // A record of the server at this version for the key: false when this device's unanswered
    // edit of it is newer (the record is then ignored). A record as new or newer settles it.
    bool takesServerRecord(const QString& key, int type, qint64 version);
    // The answered edit of the key at this version, if it is still the one pending.
    void settlePending(const QString& key, int type, qint64 version);
    // Versions run on the server's clock: one further ahead than this is refused.
    static constexpr qint64 kMaxVersionAheadMs = 7LL * 24 * 3600 * 1000;
    bool plausibleVersion(const im::SharedPreference& record) const;
    // The pending edit of the key sent at this version, of whichever type.
    PendingEdit* pendingEdit(const QString& key, qint64 version);
    // Sends the pending edits again, oldest first, when online.
    void resendPending();
    void scheduleResend();
    // The server answered: edits waiting for a retry go now.
    void networkAnswered();

    void updateKey(const QString& key, int type, const QByteArray& value, qint64 version);
    void removeKey(const QString& key, int type);
    void setValue(const QString& key, int type, const QByteArray& value);
    void setKeyVersion(const QString& key, int type, qint64 version);
    void postSave(const QList<storage::SharedPreferenceInfo>& infos);
    void postRemove(const QMultiHash<QString, int>& keys);

    // The common write: locally first when save is set, then to the server.
    void updateSharedPreferencesReq(const QString& key, const QByteArray& value, int type, bool save,
                                    QVariantMap& context, bool encrypt);
    // Sent as it is, stored when the server echoes it.
    void sendDirect(const QString& key, const QByteArray& value, int type, bool flag, QVariantMap& context,
                    bool typeInContext);
    void sendRecords(int type, const QList<QString>& keys, bool flag);
    void fillRecord(im::SharedPreference* record, const QString& key, const QByteArray& value, int type);
    // A record as sent: the value encrypted under a fresh key when asked.
    void fillRecord(im::SharedPreference* record, const QString& key, const QByteArray& value, int type,
                    qint64 version, bool encrypt) const;
    // Path of records the caller sends itself: stored here first.
    void fillAndSaveLocally(im::SharedPreference* record, const QString& key, const QByteArray& value,
                            int type);
    void saveLocally(const QString& key, int type, const QByteArray& value, qint64 version);

    AccountBase* m_account;
    mutable QMutex m_dataLock;
    QHash<QString, QByteArray> m_values;
    QHash<int, QHash<QString, QByteArray>> m_typeValues;
    QHash<int, qint64> m_versions;
    // The version of each value held, by type and key: what decides whether a record from the
    // server is newer than the stored one.
    QHash<int, QHash<QString, qint64>> m_keyVersions;
    QMutex m_taskLock;
    QFuture<void> m_task;
    // From the start of a page's storage task until its end is back on this thread.
    bool m_storingPage = false;
    // The server was asked for news while a page was stored: list once more after it.
    bool m_listAgain = false;
    // An edit sent again after a restart was refused: the server's value, unknown here, is read
    // with the whole list.
    bool m_listFromStart = false;
    bool m_localLoaded = false;
    bool m_loading = false;
    QList<std::function<void()>> m_afterLoad;

    // Touched on this object's thread only.
    QHash<int, SharedPreferenceOwner> m_defaultOwners;
    QHash<int, RegisteredOwner> m_owners;
    QHash<int, QHash<QString, storage::SharedPreferenceInfo>> m_unapplied;
    QHash<qint64, LocalWrite> m_unconfirmed; // by the version the write was sent with
    QHash<int, QHash<QString, ServerCopy>> m_serverCopies;
    QHash<int, QHash<QString, PendingEdit>> m_pending;
    QTimer m_resendTimer;
    int m_resendDelayMs;
};
