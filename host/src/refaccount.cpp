#include "refaccount.h"

#include "host/accountmanager.h"
#include "host/appdirmanager.h"
#include "host/cryptoaes.h"
#include "host/sharedpreferencebase.h"
#include "host/threadmanager.h"
#include "im/chat.pb.h"
#include "im/session.pb.h"
#include "refcontacts.h"
#include "reffilemanager.h"
#include "refservices.h"
#include "refstores.h"
#include "sqlitestorage.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QLoggingCategory>
#include <QPointer>
#include <QSet>
#include <QTemporaryFile>
#include <QTimer>

#include <algorithm>

Q_LOGGING_CATEGORY(lcHostAccount, "im.host.account")

namespace {
// The file manager's server deletes not carried out yet, in the account's data.
const QString kFileDeletes = QStringLiteral("file_deletes");

bool canWrite(const QString& dataDir)
{
    QTemporaryFile probe(QDir(dataDir).filePath(QStringLiteral(".write-check-XXXXXX")));
    return QDir().mkpath(dataDir) && probe.open();
}

// Where the account keeps its data: the data folder, or memory and a scratch folder when the
// data folder cannot be written, so that the account still works for as long as it runs.
QString databaseLocation(const QString& accountId, const QString& dataDir, bool writable)
{
    if (writable)
        return QDir(dataDir).filePath(accountId + QStringLiteral(".db"));
    return SqliteDatabase::memoryLocation(accountId);
}

QString cacheLocation(const QString& accountId, const QString& dataDir, bool writable)
{
    if (writable)
        return QDir(dataDir).filePath(accountId + QStringLiteral(".files"));
    return QDir(AppDirManager::tempDir())
        .filePath(QStringLiteral("%1-%2.files").arg(accountId).arg(QCoreApplication::applicationPid()));
}
} // namespace

RefAccount::RefAccount(const QString& accountId, const QString& dataDir, std::unique_ptr<Transport> transport,
                       QObject* parent)
    : AccountBase(parent),
      m_accountId(accountId),
      m_lock(std::make_unique<QLockFile>(QDir(dataDir).filePath(accountId + QStringLiteral(".lock")))),
      m_storageState(canWrite(dataDir) ? StorageOk : StorageUnwritable),
      m_db(std::make_shared<SqliteDatabase>(
          databaseLocation(accountId, dataDir, m_storageState == StorageOk))),
      m_storage(std::make_unique<storage::SqliteStorageProvider>(m_db)),
      m_dataInfo(std::make_unique<RefDataInfoModel>(m_db)),
      m_accountSettings(std::make_unique<RefAccountSettingModel>(m_db)),
      m_deviceModel(std::make_unique<RefAccountDeviceModel>()),
      m_transport(std::move(transport)),
      m_userManager(new RefUserManager(this)),
      m_groupModelMgr(new RefGroupModelMgr(this)),
      m_refReminderHandler(new RefReminderHandler(this)),
      m_refStickerBoxSetMgr(new RefStickerBoxSetMgr(this)),
      m_refFileManager(
          new RefFileManager(this, m_db, cacheLocation(accountId, dataDir, m_storageState == StorageOk)))
{
    m_lock->setStaleLockTime(0);
    // A chat's look is the host's to keep: the server tells every device when it changes.
    setPushRoute(PushChatLookUpdated, [this](const QByteArray& body) {
        im::chat::ChatLook look;
        if (!look.ParseFromArray(body.constData(), int(body.size())))
            return false;
        applyChatLook(look);
        return true;
    });
    if (m_storageState == StorageUnwritable) {
        qCWarning(lcHostAccount) << "the data folder" << dataDir << "of" << accountId
                                 << "cannot be written; nothing of this account is kept";
    } else if (!m_lock->tryLock(0)) {
        m_storageState = StorageInUse;
        QString host;
        QString app;
        m_lock->getLockInfo(&m_storageHolder, &host, &app);
        qCWarning(lcHostAccount) << "the data of" << accountId << "in" << dataDir << "is in use by" << app
                                 << "process" << m_storageHolder;
    }
    updateSyncState();
    // A new session of an account signed out before: its messages are shown again.
    AccountManager::getInstance()->setAccountClosed(m_accountId, false);
    m_storageRetry.setInterval(kStorageRetryMs);
    connect(&m_storageRetry, &QTimer::timeout, this, [db = m_db] {
        ThreadManager::getInstance()->invoke([db] { db->retryHeld(); }, ThreadManager::onMainThread());
    });
    QPointer<RefAccount> account(this);
    // The database tells of its trouble on the storage thread; the account hears it on its own.
    const auto onAccountThread = [account](std::function<void(RefAccount*)> step) {
        QMetaObject::invokeMethod(
            account,
            [account, step = std::move(step)] {
                if (account)
                    step(account);
            },
            Qt::QueuedConnection);
    };
    m_db->setHeldHandler(
        [onAccountThread](bool held) { onAccountThread([held](RefAccount* a) { a->setWritesHeld(held); }); });
    m_db->setDamageHandler([onAccountThread] {
        onAccountThread([](RefAccount* a) {
            a->reportStorageReset();
            emit a->storageReset();
        });
    });
    m_refFileManager->setDeletesStore(
        [this](const QByteArray& json) { m_dataInfo->table().setValue(kFileDeletes, json); });
    m_reminderHandler = m_refReminderHandler;
    m_fileManager = m_refFileManager;
    m_downloadStickerMgr = std::make_unique<RefDownloadStickerMgr>(m_refFileManager);
    m_accountSettings->setExifSync([this](bool media, bool keep) {
        if (SharedPreferenceBase* preferences = sharedPreference())
            preferences->syncMessageExif(media, keep);
    });
    m_accountSettings->setNotifySync([this](const QByteArray& json) {
        if (SharedPreferenceBase* preferences = sharedPreference())
            preferences->syncNotifySetting(json);
    });
    if (m_transport) {
        QPointer<RefAccount> self(this);
        m_transport->setPushHandler([self](int type, const QByteArray& body) {
            if (!self)
                return;
            QMetaObject::invokeMethod(
                self, [self, type, body] { self->receivePush(type, body); }, Qt::QueuedConnection);
        });
        m_transport->setServerTimeHandler([self](qint64 serverTime) {
            if (!self)
                return;
            QMetaObject::invokeMethod(
                self, [self, serverTime] { self->m_clockOffset.store(serverTime - self->localTime()); },
                Qt::QueuedConnection);
        });
        m_connected = m_transport->isConnected();
        m_transport->setConnectionHandler([self](bool connected, Transport::Problem problem) {
            if (!self)
                return;
            QMetaObject::invokeMethod(
                self,
                [self, connected, problem] {
                    self->setConnectionProblem(problem);
                    self->updateOnline(self->m_onlineChosen, connected);
                },
                Qt::QueuedConnection);
        });
    }
}

RefAccount::~RefAccount()
{
    ThreadManager::getInstance()->invoke(
        [db = m_db] {
            db->setHeldHandler({});
            db->setDamageHandler({});
        },
        ThreadManager::onMainThread());
    // Models go first, while the stores and the transport they use still exist; a model
    // may delete a sibling child of ours, hence the guarded copy.
    m_models.clear();
    m_reminderHandler = nullptr;
    m_accountSettings->setExifSync({});
    m_accountSettings->setNotifySync({});
    // Storage tasks that report back to a model must finish while it still exists: they hold
    // guarded pointers to it, which its deletion would clear under them.
    ThreadManager::getInstance()->waitForIdle();
    // Newest first: the models go before the services they use (the file manager among them).
    QList<QPointer<QObject>> kids;
    for (QObject* child : children())
        kids.prepend(child);
    for (const QPointer<QObject>& child : std::as_const(kids))
        delete child.data();
    if (m_transport) {
        m_transport->setPushHandler({});
        m_transport->setServerTimeHandler({});
        m_transport->setConnectionHandler({});
    }
    // Let storage work posted by the models finish before the database closes.
    ThreadManager::getInstance()->waitForIdle();
}

void RefAccount::open()
{
    if (m_storageState == StorageUnwritable)
        AccountManager::getInstance()->report(m_accountId, AccountManager::Failure, 0,
                                              qtTrId("storage_unwritable"), 0);
    QPointer<RefAccount> self(this);
    auto db = m_db;
    ThreadManager::getInstance()->invoke(
        [self, db] {
            KeyValueTable dataInfo(db, QStringLiteral("data_info"));
            KeyValueTable settings(db, QStringLiteral("account_setting"));
            const auto dataRows = dataInfo.readAll();
            const auto settingRows = settings.readAll();
            const auto fileRecords = RefFileManager::readRecords(*db);
            const QVariantMap notifyConfig = RefAccountSettingModel::readNotifyConfig(settingRows);
            const bool reset = db->takeReset();
            QMetaObject::invokeMethod(
                self,
                [self, dataRows, settingRows, fileRecords, notifyConfig, reset] {
                    // A damaged file was set aside: the fresh one starts from nothing, and
                    // everything is read from the server again.
                    if (reset)
                        self->reportStorageReset();
                    self->m_dataInfo->table().prime(dataRows);
                    self->m_accountSettings->table().prime(settingRows);
                    self->m_accountSettings->primeNotifyConfig(notifyConfig);
                    self->m_refFileManager->prime(fileRecords);
                    self->m_refFileManager->primeDeletes(dataRows.value(kFileDeletes));
                    self->m_ready = true;
                    emit self->readyChanged();
                    self->updateSyncState();
                },
                Qt::QueuedConnection);
        },
        ThreadManager::onMainThread());
}

void RefAccount::reportStorageReset()
{
    AccountManager::getInstance()->report(m_accountId, AccountManager::Failure, 0, qtTrId("storage_reset"),
                                          0);
}

void RefAccount::setWritesHeld(bool held)
{
    const int state = held ? StorageRefused : StorageOk;
    if (m_storageState == state || (m_storageState != StorageOk && m_storageState != StorageRefused))
        return;
    m_storageState = state;
    AccountManager* manager = AccountManager::getInstance();
    if (held) {
        manager->report(m_accountId, AccountManager::Failure, 0, qtTrId("storage_full"), 0);
        m_storageRetry.start();
    } else {
        manager->report(m_accountId, AccountManager::Tip, 0, qtTrId("storage_saved_again"), 0);
        m_storageRetry.stop();
    }
    emit storageStateChanged();
    updateSyncState();
}

// The same code answers a password the server did not accept, with no body: that ends nothing.
bool RefAccount::sessionEndedIn(const QByteArray& body)
{
    im::session::SessionEnded ended;
    return ended.ParseFromArray(body.constData(), int(body.size())) && ended.ended_at() > 0;
}

void RefAccount::endSession(const QByteArray& body)
{
    if (m_signedOut)
        return;
    im::session::SessionEnded ended;
    if (!ended.ParseFromArray(body.constData(), int(body.size())))
        qCWarning(lcHostAccount) << "the session-ended answer of" << m_accountId << "did not parse";
    const QString by = QString::fromStdString(ended.by_device());
    const int discarded = unsentChanges();
    qCWarning(lcHostAccount) << m_accountId << "was signed out by" << (by.isEmpty() ? "the server" : by)
                             << ";" << discarded << "unsent changes discarded";
    QString text = by.isEmpty() ? qtTrId("signed_out_by_server") : qtTrId("signed_out_by_device");
    text.replace(QLatin1String("%1"), by); // not arg: a text without its translation has no place for it
    if (discarded > 0)
        text += QLatin1Char(' ') + qtTrId("signed_out_discarded", discarded);
    AccountManager* manager = AccountManager::getInstance();
    manager->report(m_accountId, AccountManager::Failure, kSessionEnded, text, 0);
    // What the ended session's work reports from now on is no news to its user.
    manager->setAccountClosed(m_accountId, true);
    m_signedOut = true;
    updateSyncState();
    emit sessionEnded(by, discarded);
}

void RefAccount::removeLocalData()
{
    auto db = m_db;
    ThreadManager::getInstance()->invoke([db] { db->remove(); }, ThreadManager::onMainThread());
    m_refFileManager->removeCache();
    releaseStorage();
}

void RefAccount::releaseStorage()
{
    m_lock->unlock();
}

QString RefAccount::databasePath() const
{
    return m_db->path();
}

storage::UserStorageProvider* RefAccount::storage() const
{
    return m_storage.get();
}

DataInfoModel* RefAccount::dataInfoModel() const
{
    return m_dataInfo.get();
}

AccountSettingModel* RefAccount::accountSettingModel() const
{
    return m_accountSettings.get();
}

AccountDeviceModel* RefAccount::deviceModel() const
{
    return m_deviceModel.get();
}

QByteArray RefAccount::encrypt(const QByteArray& data, QByteArray& keyOut)
{
    keyOut = CryptoAES::createKey(32);
    QByteArray cipher = CryptoAES::encrypt(data, keyOut);
    if (cipher.isEmpty())
        keyOut.clear();
    return cipher;
}

QByteArray RefAccount::decrypt(const QByteArray& data, const QByteArray& key, bool* ok)
{
    bool decrypted = false;
    QByteArray plain = CryptoAES::decrypt(data, key, &decrypted);
    if (!decrypted)
        qCWarning(lcHostAccount) << "a value failed to decrypt:" << data.size() << "bytes";
    if (ok)
        *ok = decrypted;
    return plain;
}

void RefAccount::setFeatures(const QMap<int, int>& features)
{
    m_features = features;
    emit featuresChanged();
}

void RefAccount::updateFeature(int action, int code, int featureId, int state)
{
    m_featureUpdates.append({action, code, featureId, state});
    if (m_features.value(featureId, -1) != state) {
        m_features.insert(featureId, state);
        emit featuresChanged();
    }
}

QVariantMap RefAccount::featureStates() const
{
    QVariantMap map;
    for (auto it = m_features.cbegin(); it != m_features.cend(); ++it)
        map.insert(QString::number(it.key()), it.value());
    return map;
}

void RefAccount::setMaxDeviceCount(int count)
{
    if (m_maxDeviceCount == count)
        return;
    m_maxDeviceCount = count;
    emit maxDeviceCountChanged();
}

void RefAccount::setVerificationEmail(const QString& email)
{
    if (m_verificationEmail == email)
        return;
    m_verificationEmail = email;
    emit verificationEmailChanged();
}

void RefAccount::setVerificationEnabled(bool enabled)
{
    if (m_verificationEnabled == enabled)
        return;
    m_verificationEnabled = enabled;
    emit verificationEnabledChanged();
}

void RefAccount::setVerificationResetAt(qint64 resetAtMs)
{
    if (m_verificationResetAt == resetAtMs)
        return;
    m_verificationResetAt = resetAtMs;
    emit verificationResetAtChanged();
}

qint64 RefAccount::localTime() const
{
    return m_clock ? m_clock() : QDateTime::currentMSecsSinceEpoch();
}

qint64 RefAccount::currentTime()
{
    const qint64 now = localTime() + m_clockOffset.load();
    qint64 last = m_lastTime.load();
    qint64 next = 0;
    do {
        next = std::max(now, last + 1);
    } while (!m_lastTime.compare_exchange_weak(last, next));
    return next;
}

void RefAccount::updateOnline(bool chosen, bool connected)
{
    const bool was = isOnline();
    const bool choiceChanged = chosen != m_onlineChosen;
    m_onlineChosen = chosen;
    m_connected = connected;
    if (choiceChanged)
        emit onlineChosenChanged();
    if (isOnline() == was)
        return;
    // What changed meanwhile is not known until news is asked for again.
    m_newsAnswered = false;
    emit onlineChanged();
    updateSyncState();
}

void RefAccount::setConnectionProblem(Transport::Problem problem)
{
    QString text;
    switch (problem) {
    case Transport::Problem::None: break;
    case Transport::Problem::Unreachable: text = qtTrId("connection_unreachable"); break;
    case Transport::Problem::Untrusted: text = qtTrId("connection_untrusted"); break;
    case Transport::Problem::Refused: text = qtTrId("connection_refused"); break;
    }
    if (text == m_connectionProblem)
        return;
    m_connectionProblem = text;
    // A refused password is not retried: it is worth a message of its own, not only a status.
    if (problem == Transport::Problem::Refused)
        AccountManager::getInstance()->report(m_accountId, AccountManager::Failure, 0, text, 0);
    emit connectionProblemChanged();
}

namespace {
constexpr int kListSharedPreferences = 178;
constexpr int kUpdateSharedPreferences = 180;

} // namespace

int RefAccount::unsentChanges() const
{
    int count = m_changesInFlight;
    if (const SharedPreferenceBase* preferences = sharedPreference())
        count += preferences->pendingEditCount();
    if (m_unsentSource)
        count += m_unsentSource();
    return count;
}

void RefAccount::updateSyncState()
{
    const int unsent = unsentChanges();
    int state = Synchronised;
    if (m_signedOut)
        state = SignedOut;
    else if (m_storageState != StorageOk)
        state = StorageTrouble;
    else if (!isOnline())
        state = Offline;
    else if (unsent > 0)
        state = Sending;
    else if (!m_ready || !m_newsAnswered)
        state = Connecting;
    if (state == m_syncState && unsent == m_unsentChanges)
        return;
    m_syncState = state;
    m_unsentChanges = unsent;
    emit syncStateChanged();
}

void RefAccount::fetchChatLooks()
{
    QPointer<RefAccount> self(this);
    sendRequest(ChatLooksGet, {},
                [self](int code, const QByteArray& body) {
                    im::chat::ListChatLooksResp resp;
                    if (!self || code != 0 || !resp.ParseFromArray(body.constData(), int(body.size()))) {
                        if (self)
                            qCWarning(lcHostAccount) << "the chats' looks were not fetched, code" << code;
                        return;
                    }
                    // A chat the server no longer lists has no look of its own any more.
                    QSet<QString> listed;
                    for (const im::chat::ChatLook& look : resp.looks()) {
                        listed.insert(QString::fromStdString(look.dialog_id()));
                        self->applyChatLook(look);
                    }
                    for (const QSharedPointer<DialogBase>& dialog : std::as_const(self->m_dialogs)) {
                        if (!listed.contains(dialog->dialogId())) {
                            dialog->setThemeId(QString());
                            dialog->setWallpaper(QByteArray());
                        }
                    }
                },
                false, {});
}

void RefAccount::applyChatLook(const im::chat::ChatLook& look)
{
    const QSharedPointer<DialogBase> dialog = m_dialogs.value(QString::fromStdString(look.dialog_id()));
    if (!dialog)
        return;
    dialog->setThemeId(QString::fromStdString(look.theme_id()));
    dialog->setWallpaper(look.has_wallpaper()
                             ? QByteArray::fromStdString(look.wallpaper().SerializeAsString())
                             : QByteArray());
}

QSharedPointer<DialogBase> RefAccount::dialogById(const QString& dialogId, bool fetch)
{
    Q_UNUSED(fetch)
    return m_dialogs.value(dialogId);
}

QSharedPointer<DialogBase> RefAccount::addDialog(const QString& dialogId, bool isGroup,
                                                 QSharedPointer<GroupModel> group)
{
    QPointer<RefAccount> self(this);
    QSharedPointer<DialogBase> dialog(new DialogBase(dialogId, isGroup, std::move(group)),
                                      [self](DialogBase* chat) {
                                          const QString id = chat->dialogId();
                                          delete chat;
                                          if (self)
                                              emit self->dialogDestroyed(id);
                                      });
    m_dialogs.insert(dialogId, dialog);
    return dialog;
}

void RefAccount::removeDialog(const QString& dialogId)
{
    m_dialogs.remove(dialogId);
}

UserManager* RefAccount::userManager() const
{
    return m_userManager;
}

GroupModelMgr* RefAccount::groupModelMgr() const
{
    return m_groupModelMgr;
}

void RefAccount::runAsAccount(const std::function<void()>& work)
{
    AccountManager* manager = AccountManager::getInstance();
    const QString previous = manager->source();
    manager->setSource(m_accountId);
    work();
    manager->setSource(previous);
}

qint64 RefAccount::sendRequest(int command, const QByteArray& body, ResponseCallback callback, bool flag,
                               const QMap<QString, QVariant>& context)
{
    if (!m_transport)
        return 0;
    if (m_signedOut) {
        QPointer<RefAccount> self(this);
        QMetaObject::invokeMethod(
            this,
            [self, callback] {
                if (self && callback)
                    self->runAsAccount([&] { callback(kSessionEnded, {}); });
            },
            Qt::QueuedConnection);
        return 0;
    }
    // Whatever thread the transport answers on, the callback runs once, later, here: with the
    // transport's answer, or with a timeout when the transport never answers.
    struct Pending {
        std::atomic<bool> answered{false};
        ResponseCallback callback;
        QPointer<QTimer> timer;
    };
    auto pending = std::make_shared<Pending>();
    pending->callback = std::move(callback);
    QPointer<RefAccount> self(this);
    // The store counts its own edits, in flight or not.
    const bool change = !onlyReads(command) && command != kUpdateSharedPreferences;
    if (change)
        ++m_changesInFlight;
    auto finish = [self, pending, command, change](int code, const QByteArray& reply) {
        if (pending->answered.exchange(true) || !self)
            return;
        QMetaObject::invokeMethod(
            self,
            [self, pending, code, reply, command, change] {
                delete pending->timer.data();
                if (change)
                    --self->m_changesInFlight;
                if (command == kListSharedPreferences)
                    self->m_newsAnswered = code == 0;
                if (code == kSessionEnded && sessionEndedIn(reply))
                    self->endSession(reply);
                if (!self)
                    return;
                if (pending->callback)
                    self->runAsAccount([&] { pending->callback(code, reply); });
                if (self)
                    self->updateSyncState();
            },
            Qt::QueuedConnection);
    };
    if (m_requestTimeoutMs > 0) {
        auto* timer = new QTimer(this);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, [finish, command] {
            qCWarning(lcHostAccount) << "command" << command << "got no answer in time";
            finish(kRequestTimedOut, {});
        });
        timer->start(m_requestTimeoutMs);
        pending->timer = timer;
    }
    const qint64 id = m_transport->send(command, body, std::move(finish), flag, context);
    updateSyncState();
    return id;
}

void RefAccount::receivePush(int type, const QByteArray& body)
{
    if (type == PushSessionEnded) {
        endSession(body);
        return;
    }
    runAsAccount([&] {
        const PushRoute route = m_pushRoutes.value(type);
        if (route && route(body))
            return;
        qCWarning(lcHostAccount) << "push" << type << "was not taken";
        emit pushDropped(type);
    });
}

StickerBoxSetMgr* RefAccount::stickerBoxSetMgr() const
{
    return m_refStickerBoxSetMgr;
}

void RefAccount::updatePinnedMessageBlackList(const QString& dialogId, const QVariantList& messageIds,
                                              bool merge)
{
    Q_UNUSED(merge)
    m_pinnedBlackLists.insert(dialogId, messageIds);
}

void RefAccount::updateRandomMessagePreview(const QStringList& dialogIds)
{
    if (m_randomPreviewDialogs == dialogIds)
        return;
    m_randomPreviewDialogs = dialogIds;
    emit randomPreviewDialogsChanged();
}

void RefAccount::updateChatFolder(const QString& key, const QByteArray& value)
{
    if (value.isEmpty())
        m_chatFolders.remove(key);
    else
        m_chatFolders.insert(key, value);
    emit chatFoldersChanged();
}

void RefAccount::updateChatFolderOrder(const QByteArray& order, const QByteArray& orderExtern,
                                       bool localIsNewer)
{
    m_chatFolderOrders.append({order, orderExtern, localIsNewer});
    emit chatFoldersChanged();
}

void RefAccount::updateScreenLockLog(const QByteArray& value, bool merge)
{
    Q_UNUSED(merge)
    m_screenLockLogs.append(value);
}
