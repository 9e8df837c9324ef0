#pragma once

#include "host/accountbase.h"
#include "host/contacts.h"
#include "host/dialogbase.h"
#include "transport.h"

#include <QHash>
#include <QLockFile>
#include <QPointer>
#include <QTimer>
#include <QVariantMap>

#include <atomic>
#include <memory>

class SqliteDatabase;
class RefDataInfoModel;
namespace im::chat {
class ChatLook;
}
class RefAccountSettingModel;
class RefAccountDeviceModel;
class RefReminderHandler;
class RefStickerBoxSetMgr;
class RefUserManager;
class RefGroupModelMgr;
class RefFileManager;
namespace storage {
class SqliteStorageProvider;
}

// Which getter of the account hands out a registered module model. Specialised once per getter
// type, so a model can only be registered under the type its getter returns.
template <class T> struct AccountModelSlot;
#define HOST_ACCOUNT_MODEL_SLOT(Type, number)                                                                \
    template <> struct AccountModelSlot<Type> {                                                              \
        static constexpr int value = number;                                                                 \
    };
HOST_ACCOUNT_MODEL_SLOT(SettingServiceCmd, 1)
HOST_ACCOUNT_MODEL_SLOT(SharedPreferenceBase, 2)
HOST_ACCOUNT_MODEL_SLOT(PrivacyModel, 3)
HOST_ACCOUNT_MODEL_SLOT(GroupMutedSettingModel, 4)
HOST_ACCOUNT_MODEL_SLOT(RingtoneManager, 5)
HOST_ACCOUNT_MODEL_SLOT(WallpaperHandler, 6)
HOST_ACCOUNT_MODEL_SLOT(ThemeHandler, 7)
HOST_ACCOUNT_MODEL_SLOT(StatusShortCut, 8)
#undef HOST_ACCOUNT_MODEL_SLOT

// The reference account: one SQLite database under the data directory, a transport, an
// injectable clock, an in-memory dialog and contact directory, and a registry of the module
// models the composition root made.
class HOST_EXPORT RefAccount : public AccountBase {
    Q_OBJECT
    Q_PROPERTY(QString accountId READ accountId CONSTANT)
    Q_PROPERTY(bool ready READ isReady NOTIFY readyChanged)
    Q_PROPERTY(int storageState READ storageState NOTIFY storageStateChanged)
    Q_PROPERTY(int syncState READ syncState NOTIFY syncStateChanged)
    Q_PROPERTY(int unsentChanges READ unsentChanges NOTIFY syncStateChanged)
    Q_PROPERTY(bool online READ isOnline WRITE setOnline NOTIFY onlineChanged)
    Q_PROPERTY(bool onlineChosen READ onlineChosen NOTIFY onlineChosenChanged)
    Q_PROPERTY(QString connectionProblem READ connectionProblem NOTIFY connectionProblemChanged)
    Q_PROPERTY(int maxDeviceCount READ maxDeviceCount NOTIFY maxDeviceCountChanged)
    Q_PROPERTY(QString verificationEmail READ verificationEmail NOTIFY verificationEmailChanged)
    Q_PROPERTY(bool verificationEnabled READ verificationEnabled NOTIFY verificationEnabledChanged)
    Q_PROPERTY(qint64 verificationResetAt READ verificationResetAt NOTIFY verificationResetAtChanged)
    Q_PROPERTY(QVariantMap features READ featureStates NOTIFY featuresChanged)
    Q_PROPERTY(QStringList randomPreviewDialogs READ randomPreviewDialogs NOTIFY randomPreviewDialogsChanged)
public:
    struct FeatureUpdate {
        int action = 0;
        int code = 0;
        int featureId = 0;
        int state = 0;
    };
    using Clock = std::function<qint64()>;
    struct ChatFolderOrder {
        QByteArray order;
        QByteArray orderExtern;
        bool localIsNewer = false;
    };

    RefAccount(const QString& accountId, const QString& dataDir, std::unique_ptr<Transport> transport,
               QObject* parent = nullptr);
    ~RefAccount() override;

    // Opens the database on the storage thread and loads the key/value stores; ready turns
    // true on this thread when done.
    void open();
    bool isReady() const { return m_ready; }
    // Whether this process may use the account's data: another live process holding it (by its
    // lock file beside the database) makes it StorageInUse, and a shell then stops.
    // StorageUnwritable: the data folder cannot be made or written; the account then works in
    // memory only, and says so. StorageRefused: the disk refuses writes (full, or failing);
    // they are held in memory and written, in order, once it takes them again (tried every
    // kStorageRetryMs), and the state goes back to StorageOk.
    enum StorageState { StorageOk = 0, StorageInUse = 1, StorageUnwritable = 2, StorageRefused = 3 };
    Q_ENUM(StorageState)
    int storageState() const { return m_storageState; }
    static constexpr int kStorageRetryMs = 2000;
    // The process that holds the data, when another one does (0 when unknown).
    qint64 storageHolder() const { return m_storageHolder; }

    // What a screen may say of the account: Synchronised only when no change of this device
    // waits for the server and the last request for news was answered.
    enum SyncState {
        Offline = 0,
        Connecting = 1,
        Sending = 2,
        Synchronised = 3,
        StorageTrouble = 4,
        SignedOut = 5
    };
    Q_ENUM(SyncState)
    int syncState() const { return m_syncState; }
    // Why the transport cannot reach the server, in the user's words; empty while it can, and
    // when the account is offline by choice.
    QString connectionProblem() const { return m_connectionProblem; }
    // Changes on their way: edits the store keeps until confirmed, uploads, and other requests
    // that change something on the server.
    int unsentChanges() const;
    // Changes the models keep waiting for a retry of their own (a failed upload), counted with the
    // rest; set by whoever composes the models.
    void setUnsentSource(std::function<int()> source) { m_unsentSource = std::move(source); }
    QString accountId() const override { return m_accountId; }
    // The server ended this device's session (another device of the user signed it out): every
    // later request is answered kSessionEnded without being sent, the account's messages stop,
    // and sessionEnded tells whoever owns the account to let it go.
    bool isSignedOut() const { return m_signedOut; }
    // Removes what the account keeps on this computer (database and cached files), after the
    // storage work already posted; nothing is written there afterwards.
    void removeLocalData();
    // Lets the next account made on this data folder take it while this one still winds down.
    void releaseStorage();
    QString databasePath() const;
    Transport* transport() const { return m_transport.get(); }

    storage::UserStorageProvider* storage() const override;
    DataInfoModel* dataInfoModel() const override;
    AccountSettingModel* accountSettingModel() const override;
    AccountDeviceModel* deviceModel() const override;
    RefAccountDeviceModel* refDeviceModel() const { return m_deviceModel.get(); }

    QByteArray encrypt(const QByteArray& data, QByteArray& keyOut) override;
    QByteArray decrypt(const QByteArray& data, const QByteArray& key, bool* ok = nullptr) override;

    void setFeatures(const QMap<int, int>& features) override;
    void updateFeature(int action, int code, int featureId, int state) override;
    void setMaxDeviceCount(int count) override;
    void setVerificationEmail(const QString& email) override;
    void setVerificationEnabled(bool enabled) override;
    void setVerificationResetAt(qint64 resetAtMs) override;

    QMap<int, int> features() const { return m_features; }
    QVariantMap featureStates() const;
    QList<FeatureUpdate> featureUpdates() const { return m_featureUpdates; }
    int maxDeviceCount() const { return m_maxDeviceCount; }
    QString verificationEmail() const { return m_verificationEmail; }
    bool verificationEnabled() const { return m_verificationEnabled; }
    qint64 verificationResetAt() const { return m_verificationResetAt; }

    // Never goes backwards and never repeats on one account: versions stamped with it order this
    // device's writes even when the server's clock correction jitters by the latency.
    qint64 currentTime() override;
    // The device's own clock; currentTime corrects it by the server's clock once an answer
    // told it, so that a device whose clock is off does not win or lose every conflict.
    void setClock(Clock clock) { m_clock = std::move(clock); }
    qint64 clockOffset() const { return m_clockOffset.load(); }
    // Online when the user lets the account be (setOnline; the default) and its transport reaches
    // the server. Either one going away makes it offline; once both are back it asks for news.
    bool isOnline() override { return m_onlineChosen && m_connected; }
    void setOnline(bool online) { updateOnline(online, m_connected); }
    bool onlineChosen() const { return m_onlineChosen; }

    QSharedPointer<DialogBase> dialogById(const QString& dialogId, bool fetch) override;
    QSharedPointer<DialogBase> addDialog(const QString& dialogId, bool isGroup,
                                         QSharedPointer<GroupModel> group = {});
    void removeDialog(const QString& dialogId);
    // Asks the server for every chat's look (theme and wallpaper) and gives each known chat its
    // own; later changes come as pushes.
    void fetchChatLooks();

    UserManager* userManager() const override;
    GroupModelMgr* groupModelMgr() const override;
    RefUserManager* refUserManager() const { return m_userManager; }
    RefGroupModelMgr* refGroupModelMgr() const { return m_groupModelMgr; }
    FileManager* fileManager() const override { return m_fileManager; }
    SharedPreferenceBase* sharedPreference() const override { return registered<SharedPreferenceBase>(); }
    SettingServiceCmd* settingServiceCmd() const override { return registered<SettingServiceCmd>(); }
    WallpaperHandler* wallpaperHandler() const override { return registered<WallpaperHandler>(); }
    ThemeHandler* themeHandler() const override { return registered<ThemeHandler>(); }
    PrivacyModel* privacyModel() const override { return registered<PrivacyModel>(); }
    StatusShortCut* statusShortCut() const override { return registered<StatusShortCut>(); }
    GroupMutedSettingModel* groupMutedSettingModel() const override
    {
        return registered<GroupMutedSettingModel>();
    }
    RingtoneManager* ringtoneManager() const override { return registered<RingtoneManager>(); }
    ReminderHandler* reminderHandler() const override { return m_reminderHandler; }

    // Registration by the composition root. T is the getter's type; the getter returns the model
    // while it lives, and null once it is gone.
    template <class T> void registerModel(T* model)
    {
        m_models.insert(AccountModelSlot<T>::value, {QPointer<QObject>(model), static_cast<void*>(model)});
    }
    void setFileManager(FileManager* manager) { m_fileManager = manager; }
    // The account's own file services (the cache folder sits next to its database).
    RefFileManager* refFileManager() const { return m_refFileManager; }
    void setReminderHandler(ReminderHandler* handler) { m_reminderHandler = handler; }
    RefReminderHandler* refReminderHandler() const { return m_refReminderHandler; }
    RefStickerBoxSetMgr* refStickerBoxSetMgr() const { return m_refStickerBoxSetMgr; }
    RefAccountSettingModel* refAccountSettingModel() const { return m_accountSettings.get(); }

    // Every request is answered exactly once: by the transport, or with kRequestTimedOut when the
    // transport stays silent for the request timeout.
    qint64 sendRequest(int command, const QByteArray& body, ResponseCallback callback, bool flag,
                       const QMap<QString, QVariant>& context) override;
    static constexpr int kDefaultRequestTimeoutMs = 30000;
    void setRequestTimeout(int ms) { m_requestTimeoutMs = ms; }

    // Routes a push of the given type to whoever the composition root named for it. A route
    // returns false when it could not take the push (nobody there, or a body that does not
    // parse); the push is then dropped and reported by pushDropped.
    using PushRoute = std::function<bool(const QByteArray& body)>;
    void setPushRoute(int type, PushRoute route) { m_pushRoutes.insert(type, std::move(route)); }

    StickerBoxSetMgr* stickerBoxSetMgr() const override;
    DownloadStickerMgr* downloadStickerMgr() const override { return m_downloadStickerMgr.get(); }
    void updatePinnedMessageBlackList(const QString& dialogId, const QVariantList& messageIds,
                                      bool merge) override;
    void updateRandomMessagePreview(const QStringList& dialogIds) override;
    void updateChatFolder(const QString& key, const QByteArray& value) override;
    void updateChatFolderOrder(const QByteArray& order, const QByteArray& orderExtern,
                               bool localIsNewer) override;
    void updateScreenLockLog(const QByteArray& value, bool merge) override;

    // What the preference store handed to the account, for tests and the demo.
    QHash<QString, QVariantList> pinnedMessageBlackLists() const { return m_pinnedBlackLists; }
    QStringList randomPreviewDialogs() const { return m_randomPreviewDialogs; }
    QHash<QString, QByteArray> chatFolders() const { return m_chatFolders; }
    QList<ChatFolderOrder> chatFolderOrders() const { return m_chatFolderOrders; }
    QList<QByteArray> screenLockLogs() const { return m_screenLockLogs; }

signals:
    void readyChanged();
    void storageStateChanged();
    void syncStateChanged();
    void onlineChosenChanged();
    void connectionProblemChanged();
    void maxDeviceCountChanged();
    void verificationEmailChanged();
    void verificationEnabledChanged();
    void verificationResetAtChanged();
    void featuresChanged();
    void randomPreviewDialogsChanged();
    void chatFoldersChanged();
    // A push arrived that nobody takes, or whose body did not parse.
    void pushDropped(int type);
    // The database was found damaged while in use and set aside for a fresh one (edits waiting
    // to be sent carried over). This account's copy no longer matches the file: whoever composed
    // it makes the account again on the same folder, which reads everything from the server.
    void storageReset();
    // The session ended: byDevice names the device that signed this one out (empty when the
    // server did), discarded the changes that had not reached the server.
    void sessionEnded(const QString& byDevice, int discarded);

private:
    void applyChatLook(const im::chat::ChatLook& look);
    // Whether an answer's body says the session ended (code 401 also means a refused password).
    static bool sessionEndedIn(const QByteArray& body);
    struct RegisteredModel {
        QPointer<QObject> object;
        void* typed = nullptr;
    };
    template <class T> T* registered() const
    {
        const RegisteredModel entry = m_models.value(AccountModelSlot<T>::value);
        return entry.object ? static_cast<T*>(entry.typed) : nullptr;
    }
    void receivePush(int type, const QByteArray& body);
    // The damaged file was set aside for a fresh one: told once per time.
    void reportStorageReset();
    // The disk started or stopped refusing writes.
    void setWritesHeld(bool held);
    // Once, from the session-ended answer or push.
    void endSession(const QByteArray& body);
    // Runs work as this account's, so that what it reports is attributed to it.
    void runAsAccount(const std::function<void()>& work);

    QString m_accountId;
    // Taken before the database is opened; a holder that crashed leaves a stale lock, taken over.
    std::unique_ptr<QLockFile> m_lock;
    // Whether the data folder can be written, probed once before the database is placed.
    int m_storageState = StorageOk;
    qint64 m_storageHolder = 0;
    std::shared_ptr<SqliteDatabase> m_db;
    std::unique_ptr<storage::SqliteStorageProvider> m_storage;
    std::unique_ptr<RefDataInfoModel> m_dataInfo;
    std::unique_ptr<RefAccountSettingModel> m_accountSettings;
    std::unique_ptr<RefAccountDeviceModel> m_deviceModel;
    std::unique_ptr<Transport> m_transport;
    bool m_ready = false;

    qint64 localTime() const;

    Clock m_clock;
    // Written on this thread when an answer arrives; read by currentTime from any thread.
    std::atomic<qint64> m_clockOffset{0};
    std::atomic<qint64> m_lastTime{0};
    int m_requestTimeoutMs = kDefaultRequestTimeoutMs;
    void updateOnline(bool chosen, bool connected);
    bool m_onlineChosen = true;
    bool m_connected = true;
    void setConnectionProblem(Transport::Problem problem);
    QString m_connectionProblem;
    void updateSyncState();
    int m_syncState = Connecting;
    int m_unsentChanges = 0;
    std::function<int()> m_unsentSource;
    // Unanswered requests that change something on the server (the store's edits aside).
    int m_changesInFlight = 0;
    bool m_newsAnswered = false;
    bool m_signedOut = false;
    QTimer m_storageRetry;
    QMap<int, int> m_features;
    QList<FeatureUpdate> m_featureUpdates;
    int m_maxDeviceCount = 0;
    QString m_verificationEmail;
    bool m_verificationEnabled = false;
    qint64 m_verificationResetAt = 0;

    QHash<QString, QSharedPointer<DialogBase>> m_dialogs;
    RefUserManager* m_userManager;
    RefGroupModelMgr* m_groupModelMgr;

    FileManager* m_fileManager = nullptr;
    ReminderHandler* m_reminderHandler = nullptr;
    QHash<int, RegisteredModel> m_models;

    QHash<int, PushRoute> m_pushRoutes;

    RefReminderHandler* m_refReminderHandler;
    RefStickerBoxSetMgr* m_refStickerBoxSetMgr;
    std::unique_ptr<DownloadStickerMgr> m_downloadStickerMgr;
    RefFileManager* m_refFileManager;
    QHash<QString, QVariantList> m_pinnedBlackLists;
    QStringList m_randomPreviewDialogs;
    QHash<QString, QByteArray> m_chatFolders;
    QList<ChatFolderOrder> m_chatFolderOrders;
    QList<QByteArray> m_screenLockLogs;
};
