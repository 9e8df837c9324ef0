#include "preferences/sharedpreferencemodel.h"

#include "commands/settingservicecmd.h"
#include "host/accountbase.h"
#include "host/accountsettingmodel.h"
#include "host/constants.h"
#include "host/contacts.h"
#include "host/datainfomodel.h"
#include "host/jsonutil.h"
#include "host/services.h"
#include "host/stickers.h"
#include "host/threadmanager.h"
#include "im/common.pb.h"
#include "im/content.pb.h"
#include "im/misc.pb.h"
#include "im/notif.pb.h"
#include "logging.h"
#include "protobufutil.h"

#include <QJSEngine>
#include <QPointer>
#include <QtConcurrent>

using storage::SharedPreferenceInfo;
using namespace hostkeys;

namespace {

bool isKey(const QString& key, const char* constant)
{
    return key == QLatin1String(constant);
}

bool hasNumberSuffix(const QString& key, QLatin1String prefix)
{
    if (!key.startsWith(prefix))
        return false;
    bool ok = false;
    key.mid(prefix.size()).toLongLong(&ok);
    return ok;
}

// Whether a key is one the type's owner takes.
bool keyMatchesType(const QString& key, int type)
{
    using M = SharedPreferenceModel;
    switch (type) {
    case M::Notification: return isKey(key, NOTIFICATION);
    case M::DesktopNotification: return isKey(key, DESKTOP_NOTIFICATION);
    case M::UserStatusSetting: return isKey(key, USERSTATUS_SETTING);
    case M::PinMessageBlackList:
        return key.startsWith(QLatin1String(PIN_MESSAGE_BACKLIST) + QLatin1Char('_'));
    case M::StickerFavorite: return isKey(key, STICKER_FAVORITE);
    case M::RandomMessagePreview: return isKey(key, RANDOM_MESSAGE_PREVIEW);
    case M::DialogFolderOrder: return isKey(key, DIALOG_FOLDER_ORDER);
    case M::DialogFolderConfig: return isKey(key, DIALOG_FOLDER_CONFIG);
    case M::UserRemark:
    case M::GroupRemark: return hasNumberSuffix(key, QLatin1String("remark_"));
    case M::CustomRingtoneList: return isKey(key, CUSTOM_RINGTONE_LIST);
    case M::ChatRingtone: return key.startsWith(QLatin1String("ringtone_")) && key.size() > 9;
    case M::GifHistory: return isKey(key, GIF_HISTORY);
    case M::DialogFolderOrderExtern: return isKey(key, DIALOG_FOLDER_ORDER_EXTERN);
    case M::MessageExif: return isKey(key, EXIF_MEDIA_MESSAGE) || isKey(key, EXIF_FILE_MESSAGE);
    case M::Reminder:
    case M::ChatFolder:
    case M::ScreenLockLog:
    case M::Theme:
    case M::ReactionTag: return !key.isEmpty();
    default: return false;
    }
}

bool isFolderOrder(const QString& key, int type)
{
    return (type == SharedPreferenceModel::DialogFolderOrder && isKey(key, DIALOG_FOLDER_ORDER)) ||
           (type == SharedPreferenceModel::DialogFolderOrderExtern && isKey(key, DIALOG_FOLDER_ORDER_EXTERN));
}

bool usesTypeTable(int type)
{
    return type == SharedPreferenceModel::Theme || type == SharedPreferenceModel::ReactionTag;
}

// A JSON object value; an empty value is an empty object.
bool readObject(const QByteArray& value, QVariantMap& out)
{
    out = jsonToMap(value);
    return value.isEmpty() || !out.isEmpty() || value.trimmed() == "{}";
}

bool readList(const QByteArray& value, QVariantList& out)
{
    out = jsonToList(value);
    return value.isEmpty() || !out.isEmpty() || value.trimmed() == "[]";
}

bool fromBase64(const QByteArray& text, QByteArray& out)
{
    auto decoded = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return false;
    out = *decoded;
    return true;
}

QStringList toStrings(const QVariantList& list)
{
    QStringList strings;
    strings.reserve(list.size());
    for (const QVariant& v : list)
        strings.append(v.toString());
    return strings;
}

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

QByteArray bytes(const std::string& s)
{
    return QByteArray::fromStdString(s);
}

} // namespace

SharedPreferenceModel::SharedPreferenceModel(AccountBase* account)
    : SharedPreferenceBase(account),
      m_account(account)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

SharedPreferenceModel::~SharedPreferenceModel()
{
    // The list task captures this object.
    setClearing(true);
    QMutexLocker lock(&m_taskLock);
    m_task.waitForFinished();
}

// ---- tables ----

QByteArray SharedPreferenceModel::getKeyValue(const QString& key)
{
    QMutexLocker lock(&m_dataLock);
    return m_values.value(key);
}

bool SharedPreferenceModel::hasKey(const QString& key)
{
    QMutexLocker lock(&m_dataLock);
    return m_values.contains(key);
}

QHash<QString, QByteArray> SharedPreferenceModel::getTypeValues(int type) const
{
    QMutexLocker lock(&m_dataLock);
    return m_typeValues.value(type);
}

qint64 SharedPreferenceModel::typeVersion(int type) const
{
    QMutexLocker lock(&m_dataLock);
    return m_versions.value(type);
}

void SharedPreferenceModel::setValue(const QString& key, int type, const QByteArray& value)
{
    if (usesTypeTable(type))
        m_typeValues[type].insert(key, value);
    else
        m_values.insert(key, value);
}

void SharedPreferenceModel::updateKey(const QString& key, int type, const QByteArray& value, qint64 version)
{
    QMutexLocker lock(&m_dataLock);
    setValue(key, type, value);
    if (version > 0)
        m_versions.insert(type, version);
}

void SharedPreferenceModel::removeKey(const QString& key, int type)
{
    QMutexLocker lock(&m_dataLock);
    if (usesTypeTable(type)) {
        auto it = m_typeValues.find(type);
        if (it != m_typeValues.end())
            it->remove(key);
    } else {
        m_values.remove(key);
    }
}

void SharedPreferenceModel::postSave(const QList<SharedPreferenceInfo>& infos)
{
    if (infos.isEmpty())
        return;
    auto* store = m_account->storage()->sharedPreferenceStorage();
    ThreadManager::getInstance()->invoke([store, infos] { store->save(infos); },
                                         ThreadManager::onMainThread());
}

void SharedPreferenceModel::postRemove(const QMultiHash<QString, int>& keys)
{
    if (keys.isEmpty())
        return;
    auto* store = m_account->storage()->sharedPreferenceStorage();
    ThreadManager::getInstance()->invoke([store, keys] { store->remove(keys); },
                                         ThreadManager::onMainThread());
}

void SharedPreferenceModel::saveToLocal(const QString& key, int type, const QByteArray& value, qint64 version)
{
    postSave({{key, value, type, 0, version, {}}});
    QMutexLocker lock(&m_dataLock);
    if (type == Theme)
        m_typeValues[type].insert(key, value);
    else
        m_values.insert(key, value);
}

// ---- applying records ----

bool SharedPreferenceModel::plainValue(const im::SharedPreference& record, QByteArray& plain) const
{
    const QByteArray value = bytes(record.value());
    if (record.value_key().empty()) {
        plain = value;
        return true;
    }
    QByteArray cipher;
    bool ok = false;
    if (fromBase64(value, cipher))
        plain = m_account->decrypt(cipher, bytes(record.value_key()), &ok);
    if (!ok)
        qCWarning(lcSettingModel) << "preference" << text(record.key()) << "of type" << record.type()
                                  << "cannot be decrypted; skipped";
    return ok;
}

bool SharedPreferenceModel::parseSharedPreference(SharedPreferenceInfo& info, bool fromLocal)
{
    const bool applied = keyMatchesType(info.key, info.type) &&
                         apply(info.key, info.type, info.value, info.version, fromLocal);
    info.unapplied = applied ? 0 : 1;
    return applied;
}

bool SharedPreferenceModel::apply(const QString& key, int type, const QByteArray& value, qint64 version,
                                  bool fromLocal)
{
    Q_UNUSED(version)
    AccountBase* acc = m_account;
    AccountSettingModel* settings = acc->accountSettingModel();
    switch (type) {
    case Notification: {
        QVariantMap config;
        if (!settings || !readObject(value, config))
            return false;
        settings->updateNotifyConfig(config);
        return true;
    }
    case DesktopNotification:
    case CustomRingtoneList:
    case ChatRingtone:
        // The ringtone manager owns these; until it is registered they wait as unapplied.
        return false;
    case UserStatusSetting:
        // Owned by the status shortcuts, which take it once registered.
        return false;
    case Theme:
        // Owned by the theme handler, which takes it once registered.
        return false;
    case PinMessageBlackList: {
        QVariantMap object;
        if (!readObject(value, object) || value.isEmpty())
            return false;
        acc->updatePinnedMessageBlackList(object.value(QLatin1String(DIALOG_ID)).toString(),
                                          object.value(QLatin1String(MESSAGE_IDS)).toList(), false);
        return true;
    }
    case StickerFavorite:
        if (StickerBoxSetMgr* stickers = acc->stickerBoxSetMgr()) {
            stickers->updateFavorite(value);
            return true;
        }
        return false;
    case RandomMessagePreview: {
        QVariantList dialogs;
        if (!readList(value, dialogs))
            return false;
        acc->updateRandomMessagePreview(toStrings(dialogs));
        return true;
    }
    case Reminder: {
        ReminderHandler* reminders = acc->reminderHandler();
        QByteArray data;
        if (!reminders || !fromBase64(value, data))
            return false;
        reminders->listAndNotif(key, data);
        return true;
    }
    case ChatFolder:
        QMetaObject::invokeMethod(
            acc, [acc, key, value] { acc->updateChatFolder(key, value); }, Qt::QueuedConnection);
        return true;
    case DialogFolderOrder:
    case DialogFolderOrderExtern:
        // The order lives in the table; the account hears of it once a batch is applied.
        return true;
    case DialogFolderConfig:
        if (!settings)
            return false;
        settings->updateChatFolderConfig(value);
        return true;
    case UserRemark:
    case GroupRemark: return applyRemark(type, value, fromLocal);
    case GifHistory:
        if (StickerBoxSetMgr* stickers = acc->stickerBoxSetMgr()) {
            stickers->updateGifHistory(value);
            return true;
        }
        return false;
    case ScreenLockLog: acc->updateScreenLockLog(value, false); return true;
    case MessageExif: {
        if (!settings)
            return false;
        const bool keep = value.trimmed().toLongLong() != 0;
        if (isKey(key, EXIF_MEDIA_MESSAGE))
            settings->setMediaMessageExif(keep, false);
        else
            settings->setFileMessageExif(keep, false);
        return true;
    }
    case ReactionTag: emit reactionTagChanged(key, QString::fromUtf8(value)); return true;
    default: return false;
    }
}

bool SharedPreferenceModel::applyRemark(int type, const QByteArray& value, bool fromLocal)
{
    QByteArray serialized;
    im::content::Remark remark;
    if (!fromBase64(value, serialized) || !settingmodel::parseMessage(remark, serialized))
        return false;
    bool ok = false;
    const QString text =
        QString::fromUtf8(m_account->decrypt(bytes(remark.cipher()), bytes(remark.key()), &ok));
    if (!ok)
        return false;
    if (type == GroupRemark) {
        GroupModelMgr* groups = m_account->groupModelMgr();
        if (!groups)
            return false;
        groups->updateGroupRemark(remark.target_id(), text);
        return true;
    }
    UserManager* users = m_account->userManager();
    if (!users)
        return false;
    users->updateUserRemark(remark.target_id(), text, !fromLocal);
    return true;
}

// ---- local load ----

bool SharedPreferenceModel::loadLocalData(bool alreadyLoaded)
{
    if (alreadyLoaded || m_loading || m_localLoaded)
        return true;
    m_loading = true;
    auto* store = m_account->storage()->sharedPreferenceStorage();
    QPointer<SharedPreferenceModel> self(this);
    ThreadManager::getInstance()->invoke(
        [store, self] {
            const QList<SharedPreferenceInfo> rows = store->allInfos();
            QMetaObject::invokeMethod(
                self, [self, rows] { self->applyLocalRows(rows); }, Qt::QueuedConnection);
        },
        ThreadManager::onMainThread());
    return true;
}

void SharedPreferenceModel::applyLocalRows(const QList<SharedPreferenceInfo>& rows)
{
    if (isClearing())
        return;
    {
        QMutexLocker lock(&m_dataLock);
        for (const SharedPreferenceInfo& row : rows) {
            setValue(row.key, row.type, row.value);
            if (row.version > 0)
                m_versions.insert(row.type, row.version);
        }
    }
    // Owners may read the table while they take a record, so retries run after it is filled.
    QList<SharedPreferenceInfo> resave;
    QMultiHash<QString, int> remove;
    for (const SharedPreferenceInfo& row : rows) {
        if (!row.unapplied)
            continue;
        SharedPreferenceInfo info = row;
        if (!parseSharedPreference(info, true))
            continue;
        if (row.type == Reminder || row.type == ScreenLockLog)
            remove.insert(row.key, row.type);
        else
            resave.append(info);
    }
    postRemove(remove);
    postSave(resave);
    m_loading = false;
    m_localLoaded = true;
    emit localDataLoadedChanged();
    const auto waiting = std::exchange(m_afterLoad, {});
    for (const auto& step : waiting)
        step();
}

void SharedPreferenceModel::whenLoaded(std::function<void()> step)
{
    if (m_loading)
        m_afterLoad.append(std::move(step));
    else
        step();
}

// ---- server sync ----

void SharedPreferenceModel::getNewData()
{
    whenLoaded([this] {
        QMutexLocker lock(&m_taskLock);
        if (m_task.isRunning())
            return;
        if (SettingServiceCmd* cmd = m_account->settingServiceCmd())
            cmd->listSharedPreferences(m_account->dataInfoModel()->sharedReferenceOffset());
    });
}

void SharedPreferenceModel::applyServerRecords(
    const google::protobuf::RepeatedPtrField<im::SharedPreference>& records, Batch& batch)
{
    for (const im::SharedPreference& record : records) {
        QByteArray plain;
        if (!plainValue(record, plain))
            continue;
        SharedPreferenceInfo info{text(record.key()), plain, record.type(), 0, record.version(), {}};
        const bool applied = parseSharedPreference(info, false);
        if (applied && (info.type == Reminder || info.type == ScreenLockLog))
            continue;
        if (info.value.isEmpty()) {
            batch.remove.insert(info.key, info.type);
            removeKey(info.key, info.type);
            continue;
        }
        QMutexLocker lock(&m_dataLock);
        setValue(info.key, info.type, info.value);
        const auto known = m_versions.constFind(info.type);
        const bool older = known != m_versions.cend() && info.version <= known.value();
        if (isFolderOrder(info.key, info.type)) {
            batch.folderOrderSeen = true;
            batch.localFolderOrderNewer |= known != m_versions.cend() && info.version < known.value();
        }
        if (older)
            continue;
        m_versions.insert(info.type, info.version);
        batch.save.append(info);
    }
}

void SharedPreferenceModel::finishFolderOrder(const Batch& batch)
{
    if (batch.folderOrderSeen)
        m_account->updateChatFolderOrder(getKeyValue(QLatin1String(DIALOG_FOLDER_ORDER)),
                                         getKeyValue(QLatin1String(DIALOG_FOLDER_ORDER_EXTERN)),
                                         batch.localFolderOrderNewer);
}

void SharedPreferenceModel::listSharedPreferencesResp(const im::misc::ListSharedPreferencesResp& resp)
{
    whenLoaded([this, resp] {
        Batch batch;
        applyServerRecords(resp.preferences(), batch);
        finishFolderOrder(batch);
        const qint64 nextOffset = resp.next_offset();
        const bool hasMore = resp.has_more();
        if (batch.save.isEmpty() && batch.remove.isEmpty()) {
            m_account->dataInfoModel()->saveSharedReferenceOffset(nextOffset);
            finishListPage(nextOffset, hasMore);
            return;
        }
        QMutexLocker lock(&m_taskLock);
        if (m_task.isRunning())
            return; // a page is still being stored; its successor will bring these again
        auto* store = m_account->storage()->sharedPreferenceStorage();
        DataInfoModel* dataInfo = m_account->dataInfoModel();
        m_task = QtConcurrent::run([this, store, dataInfo, batch, nextOffset] {
            if (isClearing())
                return;
            store->remove(batch.remove);
            store->save(batch.save);
            dataInfo->saveSharedReferenceOffset(nextOffset);
        });
        // Paging goes on from the object's thread, once the task has ended: the command channel
        // is single-threaded, and the next page must find no task running.
        m_task.then(this, [this, nextOffset, hasMore] {
            if (!isClearing())
                finishListPage(nextOffset, hasMore);
        });
    });
}

void SharedPreferenceModel::finishListPage(qint64 nextOffset, bool hasMore)
{
    if (!hasMore) {
        emit listFinished();
        return;
    }
    if (SettingServiceCmd* cmd = m_account->settingServiceCmd())
        cmd->listSharedPreferences(nextOffset);
}

void SharedPreferenceModel::sharedPreferencesNotify(const im::notif::SharedPreferenceUpdatedNotif& notif)
{
    whenLoaded([this, notif] {
        Batch batch;
        applyServerRecords(notif.preferences(), batch);
        finishFolderOrder(batch);
        postRemove(batch.remove);
        postSave(batch.save);
    });
}

void SharedPreferenceModel::updateSharedPreferencesResp(const QByteArray& body, const QVariantMap& context,
                                                        int code)
{
    if (code != 0) {
        tellOwnerOfFailure(context, code);
        return;
    }
    im::misc::UpdateSharedPreferencesV2Resp resp;
    if (!settingmodel::parseMessage(resp, body)) {
        qCWarning(lcSettingModel) << "update answer did not parse";
        return;
    }
    whenLoaded([this, resp, context] {
        Batch batch;
        for (const im::SharedPreference& record : resp.preferences()) {
            QByteArray value;
            if (!plainValue(record, value))
                continue;
            const QString key = text(record.key());
            const int type = record.type();
            const qint64 version = record.version();
            const qint64 sentVersion = context.value(key).toLongLong();
            if (type == ChatFolder && mergeChatFolder(key, value)) {
                im::misc::UpdateSharedPreferencesV2Req merged;
                chatFolder(merged.add_preferences(), key, value);
                updateSharedPreferences(merged, true);
            }
            if (isFolderOrder(key, type)) {
                batch.folderOrderSeen = true;
                batch.localFolderOrderNewer |= version < typeVersion(type);
            }
            if (type != Reminder && type != ScreenLockLog) {
                if (value.isEmpty()) {
                    batch.remove.insert(key, type);
                    removeKey(key, type);
                } else {
                    batch.save.append({key, value, type, 0, version, {}});
                    QMutexLocker lock(&m_dataLock);
                    setValue(key, type, value);
                }
            }
            if (version == sentVersion)
                tellOwnerOfSuccess(type, key, value, context);
            else
                applyNewerServerValue(type, key, value, version, context);
        }
        postRemove(batch.remove);
        postSave(batch.save);
        finishFolderOrder(batch);
    });
}

// Keeps this device's tag filters in a chat folder the server returned without them; true
// when the returned value changed.
bool SharedPreferenceModel::mergeChatFolder(const QString& key, QByteArray& value)
{
    const QVariantMap local = jsonToMap(getKeyValue(key));
    const QString include = QStringLiteral("include_tag");
    const QString exclude = QStringLiteral("exclude_tag");
    if (!local.contains(include))
        return false;
    QVariantMap returned = jsonToMap(value);
    if (returned.value(include) == local.value(include) && returned.value(exclude) == local.value(exclude))
        return false;
    returned.insert(include, local.value(include));
    returned.insert(exclude, local.value(exclude));
    value = mapToJson(returned);
    return true;
}

void SharedPreferenceModel::tellOwnerOfSuccess(int type, const QString& key, const QByteArray& value,
                                               const QVariantMap& context)
{
    StickerBoxSetMgr* stickers = m_account->stickerBoxSetMgr();
    switch (type) {
    case RandomMessagePreview:
        if (isKey(key, RANDOM_MESSAGE_PREVIEW)) {
            QVariantList dialogs;
            if (readList(value, dialogs))
                m_account->updateRandomMessagePreview(toStrings(dialogs));
        }
        break;
    case StickerFavorite:
        if (stickers)
            stickers->updateFavorite(true, context);
        break;
    case GifHistory:
        if (stickers)
            stickers->updateGifHistory(true, context);
        break;
    case Reminder:
        if (ReminderHandler* reminders = m_account->reminderHandler()) {
            QByteArray data;
            fromBase64(value, data);
            reminders->syncFinished(key, data, 0);
        }
        break;
    case UserRemark:
        if (UserManager* users = m_account->userManager())
            users->updateUserRemarkResp(context, 0);
        break;
    case GroupRemark:
        if (GroupModelMgr* groups = m_account->groupModelMgr())
            groups->updateGroupRemarkResp(context, 0);
        break;
    default: break;
    }
}

void SharedPreferenceModel::applyNewerServerValue(int type, const QString& key, const QByteArray& value,
                                                  qint64 version, const QVariantMap& context)
{
    StickerBoxSetMgr* stickers = m_account->stickerBoxSetMgr();
    switch (type) {
    case PinMessageBlackList: {
        QVariantMap object;
        if (readObject(value, object))
            m_account->updatePinnedMessageBlackList(object.value(QLatin1String(DIALOG_ID)).toString(),
                                                    object.value(QLatin1String(MESSAGE_IDS)).toList(), true);
        break;
    }
    case Reminder:
        if (ReminderHandler* reminders = m_account->reminderHandler()) {
            QByteArray data;
            if (fromBase64(value, data))
                reminders->syncFinished(key, data, 1);
        }
        break;
    case ScreenLockLog: m_account->updateScreenLockLog(value, true); break;
    case UserStatusSetting:
        if (isKey(key, USERSTATUS_SETTING))
            emit updateStatusSettingFinish({{QStringLiteral("succ"), false}});
        break;
    case RandomMessagePreview:
        if (isKey(key, RANDOM_MESSAGE_PREVIEW))
            emit updateRandomMessagePreviewFinish({{QStringLiteral("succ"), false}});
        break;
    case GifHistory:
        if (stickers && isKey(key, GIF_HISTORY))
            stickers->updateGifHistoryRetry(value, context);
        break;
    case StickerFavorite:
        if (stickers)
            stickers->updateFavorite(value);
        break;
    case Notification:
    case DialogFolderConfig:
    case MessageExif:
    case UserRemark:
    case GroupRemark:
    case ReactionTag:
        // The newer value applies as if the server had listed it.
        if (keyMatchesType(key, type))
            apply(key, type, value, version, false);
        break;
    default: break; // folder orders are in the table already; the account hears below
    }
}

void SharedPreferenceModel::tellOwnerOfFailure(const QVariantMap& context, int code)
{
    const int type = context.value(QStringLiteral("type")).toInt();
    switch (type) {
    case GroupRemark:
        if (GroupModelMgr* groups = m_account->groupModelMgr())
            groups->updateGroupRemarkResp(context, code);
        break;
    case UserRemark:
        if (UserManager* users = m_account->userManager())
            users->updateUserRemarkResp(context, code);
        break;
    case Reminder:
        if (ReminderHandler* reminders = m_account->reminderHandler()) {
            QString key;
            for (auto it = context.cbegin(); it != context.cend() && key.isEmpty(); ++it) {
                if (it.key() != QLatin1String("type"))
                    key = it.key();
            }
            reminders->syncFinished(key, {}, -1);
        }
        break;
    case StickerFavorite:
        if (StickerBoxSetMgr* stickers = m_account->stickerBoxSetMgr())
            stickers->updateFavorite(false, context);
        break;
    default: break;
    }
}

bool SharedPreferenceModel::prepareToClearData(bool force)
{
    Q_UNUSED(force)
    setClearing(true);
    {
        QMutexLocker lock(&m_taskLock);
        m_task.cancel();
        m_task.waitForFinished();
    }
    m_afterLoad.clear();
    QMutexLocker lock(&m_dataLock);
    m_values.clear();
    m_typeValues.clear();
    m_versions.clear();
    return true;
}
