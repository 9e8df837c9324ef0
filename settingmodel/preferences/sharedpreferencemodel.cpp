#include "preferences/sharedpreferencemodel.h"

#include "commands/settingservicecmd.h"
#include "host/accountbase.h"
#include "host/constants.h"
#include "host/datainfomodel.h"
#include "host/jsonutil.h"
#include "host/threadmanager.h"
#include "im/common.pb.h"
#include "im/misc.pb.h"
#include "im/notif.pb.h"
#include "logging.h"
#include "protobufutil.h"
#include "reports.h"

#include <QJSEngine>

using storage::SharedPreferenceInfo;
using namespace hostkeys;

namespace {

// An answer code from here on is the server's failure, not a refusal of the request.
constexpr int kFirstServerError = 500;

bool isFolderOrder(const QString& key, int type)
{
    return (type == SharedPreferenceModel::DialogFolderOrder && key == QLatin1String(DIALOG_FOLDER_ORDER)) ||
           (type == SharedPreferenceModel::DialogFolderOrderExtern &&
            key == QLatin1String(DIALOG_FOLDER_ORDER_EXTERN));
}

bool usesTypeTable(int type)
{
    return type == SharedPreferenceModel::Theme || type == SharedPreferenceModel::ReactionTag;
}

// The tables of a local load, made on the storage thread from its rows.
struct LoadedTables {
    QHash<QString, QByteArray> values;
    QHash<int, QHash<QString, QByteArray>> typeValues;
    QHash<int, qint64> versions;
    QHash<int, QHash<QString, qint64>> keyVersions;
};

LoadedTables tablesOf(const QList<SharedPreferenceInfo>& rows)
{
    LoadedTables tables;
    // Sized first: growing tables of thousands of keys costs more than filling them.
    QHash<int, qsizetype> perType;
    for (const SharedPreferenceInfo& row : rows)
        ++perType[row.type];
    tables.values.reserve(rows.size());
    for (auto it = perType.cbegin(); it != perType.cend(); ++it) {
        tables.keyVersions[it.key()].reserve(it.value());
        if (usesTypeTable(it.key()))
            tables.typeValues[it.key()].reserve(it.value());
    }
    for (const SharedPreferenceInfo& row : rows) {
        if (row.value.isEmpty())
            continue; // a removal the server has not answered
        if (usesTypeTable(row.type))
            tables.typeValues[row.type].insert(row.key, row.value);
        else
            tables.values.insert(row.key, row.value);
        if (row.version > 0) {
            tables.versions.insert(row.type, row.version);
            tables.keyVersions[row.type].insert(row.key, row.version);
        }
    }
    return tables;
}

// Into an empty table the loaded one moves whole; otherwise the loaded entries win.
template <class K, class V> void takeAll(QHash<K, V>& into, QHash<K, V>&& from)
{
    if (into.isEmpty()) {
        into = std::move(from);
        return;
    }
    for (auto it = from.cbegin(); it != from.cend(); ++it)
        into.insert(it.key(), it.value());
}

template <class K, class V> void takeAll(QHash<int, QHash<K, V>>& into, QHash<int, QHash<K, V>>&& from)
{
    for (auto it = from.begin(); it != from.end(); ++it)
        takeAll(into[it.key()], std::move(it.value()));
}

// Reminders and screen-lock logs live with their owners once applied; the store keeps none.
bool isTransient(int type)
{
    return type == SharedPreferenceModel::Reminder || type == SharedPreferenceModel::ScreenLockLog;
}

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

QByteArray bytes(const std::string& s)
{
    return QByteArray::fromStdString(s);
}

// Fills unset parts of an owner from the store's default for its type.
SharedPreferenceOwner completed(SharedPreferenceOwner owner, const SharedPreferenceOwner& fallback)
{
    if (!owner.acceptsKey)
        owner.acceptsKey = fallback.acceptsKey;
    if (!owner.apply)
        owner.apply = fallback.apply;
    if (!owner.loaded)
        owner.loaded = fallback.loaded;
    if (!owner.confirmed)
        owner.confirmed = fallback.confirmed;
    if (!owner.superseded)
        owner.superseded = fallback.superseded;
    if (!owner.failed)
        owner.failed = fallback.failed;
    if (!owner.rolledBack)
        owner.rolledBack = fallback.rolledBack;
    return owner;
}

bool accepts(const SharedPreferenceOwner* owner, const QString& key)
{
    return owner && (!owner->acceptsKey || owner->acceptsKey(key));
}

} // namespace

SharedPreferenceModel::SharedPreferenceModel(AccountBase* account)
    : SharedPreferenceBase(account),
      m_account(account),
      m_resendDelayMs(kFirstResendDelayMs)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
    installDefaultOwners();
    m_resendTimer.setSingleShot(true);
    connect(&m_resendTimer, &QTimer::timeout, this, &SharedPreferenceModel::resendPending);
    connect(account, &AccountBase::onlineChanged, this, [this] {
        m_resendDelayMs = kFirstResendDelayMs;
        resendPending();
    });
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

qint64 SharedPreferenceModel::keyVersion(const QString& key, int type) const
{
    QMutexLocker lock(&m_dataLock);
    return m_keyVersions.value(type).value(key);
}

void SharedPreferenceModel::setValue(const QString& key, int type, const QByteArray& value)
{
    if (usesTypeTable(type))
        m_typeValues[type].insert(key, value);
    else
        m_values.insert(key, value);
}

void SharedPreferenceModel::setKeyVersion(const QString& key, int type, qint64 version)
{
    if (version > 0)
        m_keyVersions[type].insert(key, version);
}

void SharedPreferenceModel::updateKey(const QString& key, int type, const QByteArray& value, qint64 version)
{
    QMutexLocker lock(&m_dataLock);
    setValue(key, type, value);
    if (version > 0)
        m_versions.insert(type, version);
    setKeyVersion(key, type, version);
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
    auto versions = m_keyVersions.find(type);
    if (versions != m_keyVersions.end())
        versions->remove(key);
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
    setKeyVersion(key, type, version);
}

// ---- owners ----

void SharedPreferenceModel::registerOwner(int type, QObject* guard, const SharedPreferenceOwner& owner)
{
    m_owners.insert(type, {QPointer<QObject>(guard), completed(owner, m_defaultOwners.value(type))});
    if (m_localLoaded)
        offerUnapplied(type);
}

bool SharedPreferenceModel::hasOwner(int type) const
{
    const auto registered = m_owners.constFind(type);
    return registered != m_owners.cend() && registered->guard;
}

const SharedPreferenceOwner* SharedPreferenceModel::ownerOf(int type) const
{
    const auto registered = m_owners.constFind(type);
    if (registered != m_owners.cend() && registered->guard)
        return &registered->owner;
    const auto fallback = m_defaultOwners.constFind(type);
    return fallback != m_defaultOwners.cend() ? &fallback.value() : nullptr;
}

// Records kept because nobody could take them are offered to a new owner, as the next local
// load would offer them.
void SharedPreferenceModel::offerUnapplied(int type)
{
    const QHash<QString, SharedPreferenceInfo> waiting = m_unapplied.value(type);
    const SharedPreferenceOwner* owner = ownerOf(type);
    QList<SharedPreferenceInfo> resave;
    QMultiHash<QString, int> remove;
    for (SharedPreferenceInfo info : waiting) {
        if (owner && owner->loaded && accepts(owner, info.key))
            owner->loaded(info.key, info.value, info.version);
        if (!parseSharedPreference(info, true))
            continue;
        if (isTransient(type))
            remove.insert(info.key, type);
        else
            resave.append(info);
    }
    postRemove(remove);
    postSave(resave);
}

// ---- applying records ----

bool SharedPreferenceModel::plainValue(const im::SharedPreference& record, QByteArray& plain) const
{
    const QByteArray value = bytes(record.value());
    if (record.value_key().empty()) {
        plain = value;
        return true;
    }
    bool ok = false;
    const auto cipher = QByteArray::fromBase64Encoding(value, QByteArray::AbortOnBase64DecodingErrors);
    if (cipher)
        plain = m_account->decrypt(*cipher, bytes(record.value_key()), &ok);
    if (!ok)
        DroppedInput::note("a value that cannot be decrypted",
                           QStringLiteral("%1/%2").arg(text(record.key())).arg(record.type()));
    return ok;
}

bool SharedPreferenceModel::parseSharedPreference(SharedPreferenceInfo& info, bool fromLocal)
{
    const SharedPreferenceOwner* owner = ownerOf(info.type);
    const bool applied = accepts(owner, info.key) && owner->apply &&
                         owner->apply(info.key, info.value, info.version, fromLocal);
    info.unapplied = applied ? 0 : 1;
    if (applied) {
        auto waiting = m_unapplied.find(info.type);
        if (waiting != m_unapplied.end())
            waiting->remove(info.key);
    }
    return applied;
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
            // The tables are made here: for a large account that is most of the load's work.
            auto tables = std::make_shared<LoadedTables>(tablesOf(rows));
            QMetaObject::invokeMethod(
                self,
                [self, rows, tables] {
                    if (self->isClearing())
                        return;
                    {
                        QMutexLocker lock(&self->m_dataLock);
                        takeAll(self->m_values, std::move(tables->values));
                        takeAll(self->m_typeValues, std::move(tables->typeValues));
                        takeAll(self->m_versions, std::move(tables->versions));
                        takeAll(self->m_keyVersions, std::move(tables->keyVersions));
                    }
                    self->applyLocalRows(rows);
                },
                Qt::QueuedConnection);
        },
        ThreadManager::onMainThread());
    return true;
}

void SharedPreferenceModel::applyLocalRows(const QList<SharedPreferenceInfo>& rows)
{
    for (const SharedPreferenceInfo& row : rows) {
        if (row.pending != SharedPreferenceInfo::NotPending)
            m_pending[row.type].insert(row.key, {row.value, row.version, row.type,
                                                 row.pending == SharedPreferenceInfo::PendingEncrypted});
    }
    // Owners may read the table while they take a record, so they are called once it is filled.
    QList<SharedPreferenceInfo> resave;
    QMultiHash<QString, int> remove;
    for (const SharedPreferenceInfo& row : rows) {
        if (row.value.isEmpty())
            continue;
        const SharedPreferenceOwner* owner = ownerOf(row.type);
        if (owner && owner->loaded && accepts(owner, row.key))
            owner->loaded(row.key, row.value, row.version);
        if (!row.unapplied)
            continue;
        SharedPreferenceInfo info = row;
        if (!parseSharedPreference(info, true)) {
            m_unapplied[row.type].insert(row.key, row);
            continue;
        }
        if (isTransient(row.type))
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
    resendPending();
}

void SharedPreferenceModel::whenLoaded(std::function<void()> step)
{
    // What the server says after a sign-out began is no longer this account's business.
    if (isClearing())
        return;
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
        if (m_storingPage) {
            // Asked while a page is stored: listed again from where that page ends.
            m_listAgain = true;
            return;
        }
        if (SettingServiceCmd* cmd = m_account->settingServiceCmd())
            cmd->listSharedPreferences(m_account->dataInfoModel()->sharedReferenceOffset());
    });
}

void SharedPreferenceModel::applyServerRecords(
    const google::protobuf::RepeatedPtrField<im::SharedPreference>& records, Batch& batch, const char* answer)
{
    DroppedInput dropped(answer);
    for (const im::SharedPreference& record : records) {
        if (record.key().empty()) {
            DroppedInput::note("a record without a key", QStringLiteral("type %1").arg(record.type()));
            continue;
        }
        QByteArray plain;
        if (!plausibleVersion(record) || !plainValue(record, plain))
            continue;
        SharedPreferenceInfo info{text(record.key()), plain, record.type(), 0, record.version(), {}};
        if (!takesServerRecord(info.key, info.type, info.version)) {
            noteServerValue(info.key, info.type, info.value, info.version);
            continue;
        }
        const bool applied = parseSharedPreference(info, false);
        if (applied && isTransient(info.type))
            continue;
        noteServerValue(info.key, info.type, info.value, info.version);
        if (isFolderOrder(info.key, info.type)) {
            // A cleared order is news to the account as much as a new one.
            const qint64 known = typeVersion(info.type);
            batch.folderOrderSeen = true;
            batch.localFolderOrderNewer |= known > 0 && info.version < known;
        }
        if (info.value.isEmpty()) {
            batch.remove.insert(info.key, info.type);
            removeKey(info.key, info.type);
            m_unapplied[info.type].remove(info.key);
            continue;
        }
        {
            QMutexLocker lock(&m_dataLock);
            setValue(info.key, info.type, info.value);
            if (info.version > m_versions.value(info.type))
                m_versions.insert(info.type, info.version);
            // Stored unless the database already holds this key at this version or a newer one:
            // the version of one key says nothing about the age of another.
            const auto& versions = m_keyVersions[info.type];
            const auto known = versions.constFind(info.key);
            if (known != versions.cend() && info.version <= known.value())
                continue;
            setKeyVersion(info.key, info.type, info.version);
        }
        if (info.unapplied)
            m_unapplied[info.type].insert(info.key, info);
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
    networkAnswered();
    whenLoaded([this, resp] {
        Batch batch;
        applyServerRecords(resp.preferences(), batch, "a page of the preference list");
        finishFolderOrder(batch);
        const qint64 nextOffset = resp.next_offset();
        const bool hasMore = resp.has_more();
        if (batch.save.isEmpty() && batch.remove.isEmpty()) {
            m_account->dataInfoModel()->saveSharedReferenceOffset(nextOffset);
            finishListPage(nextOffset, hasMore);
            return;
        }
        QMutexLocker lock(&m_taskLock);
        if (m_storingPage)
            return; // a page is still being stored; its successor will bring these again
        auto* store = m_account->storage()->sharedPreferenceStorage();
        DataInfoModel* dataInfo = m_account->dataInfoModel();
        // On the storage thread, behind every write posted before it and ahead of every write
        // posted after it: a push stored later can never be overwritten by this older page.
        m_storingPage = true;
        m_task = ThreadManager::getInstance()->run([this, store, dataInfo, batch, nextOffset, hasMore] {
            if (isClearing())
                return;
            store->remove(batch.remove);
            store->save(batch.save);
            dataInfo->saveSharedReferenceOffset(nextOffset);
            // Paging goes on from the object's thread: the command channel is single-threaded.
            QMetaObject::invokeMethod(
                this, [this, nextOffset, hasMore] { pageStored(nextOffset, hasMore); }, Qt::QueuedConnection);
        });
    });
}

void SharedPreferenceModel::pageStored(qint64 nextOffset, bool hasMore)
{
    {
        QMutexLocker lock(&m_taskLock);
        m_storingPage = false;
    }
    if (!isClearing())
        finishListPage(nextOffset, hasMore);
}

void SharedPreferenceModel::finishListPage(qint64 nextOffset, bool hasMore)
{
    if (!hasMore && !std::exchange(m_listAgain, false)) {
        if (std::exchange(m_listFromStart, false)) {
            if (SettingServiceCmd* cmd = m_account->settingServiceCmd())
                cmd->listSharedPreferences(0);
            return;
        }
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
        applyServerRecords(notif.preferences(), batch, "a preference push");
        finishFolderOrder(batch);
        postRemove(batch.remove);
        postSave(batch.save);
    });
}

void SharedPreferenceModel::updateSharedPreferencesResp(const QByteArray& body, const QVariantMap& context,
                                                        int code)
{
    if (isClearing())
        return;
    if (code != 0) {
        tellOwnerOfFailure(context, code);
        whenLoaded([this, context, code] {
            if (code < 0)
                scheduleResend();
            settleLocalWrites(context, code);
        });
        return;
    }
    im::misc::UpdateSharedPreferencesV2Resp resp;
    if (!settingmodel::parseMessage(resp, body))
        return;
    networkAnswered();
    whenLoaded([this, resp, context] {
        DroppedInput dropped("the answer to a preference write");
        Batch batch;
        for (const im::SharedPreference& record : resp.preferences()) {
            QByteArray value;
            if (!plausibleVersion(record) || !plainValue(record, value))
                continue;
            const QString key = text(record.key());
            const int type = record.type();
            const qint64 version = record.version();
            if (!takesServerRecord(key, type, version)) {
                noteServerValue(key, type, value, version);
                continue;
            }
            const qint64 sentVersion = context.value(key).toLongLong();
            noteServerValue(key, type, value, version);
            bool resent = false;
            if (type == ChatFolder && mergeChatFolder(key, value)) {
                // Stored here, with its own version, by the chat-folder write that sends it back.
                im::misc::UpdateSharedPreferencesV2Req merged;
                chatFolder(merged.add_preferences(), key, value);
                updateSharedPreferences(merged, true);
                resent = true;
            }
            if (isFolderOrder(key, type)) {
                batch.folderOrderSeen = true;
                batch.localFolderOrderNewer |= version < typeVersion(type);
            }
            if (!isTransient(type) && !resent) {
                if (value.isEmpty()) {
                    batch.remove.insert(key, type);
                    removeKey(key, type);
                } else {
                    batch.save.append({key, value, type, 0, version, {}});
                    QMutexLocker lock(&m_dataLock);
                    setValue(key, type, value);
                    setKeyVersion(key, type, version);
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
        settleLocalWrites(context, 0);
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
    const SharedPreferenceOwner* owner = ownerOf(type);
    if (accepts(owner, key) && owner->confirmed)
        owner->confirmed(key, value, context);
}

void SharedPreferenceModel::applyNewerServerValue(int type, const QString& key, const QByteArray& value,
                                                  qint64 version, const QVariantMap& context)
{
    const SharedPreferenceOwner* owner = ownerOf(type);
    if (accepts(owner, key) && owner->superseded)
        owner->superseded(key, value, version, context);
}

void SharedPreferenceModel::tellOwnerOfFailure(const QVariantMap& context, int code)
{
    const SharedPreferenceOwner* owner = ownerOf(context.value(QStringLiteral("type")).toInt());
    if (owner && owner->failed)
        owner->failed(context, code);
}

// ---- this device's unsettled writes ----

void SharedPreferenceModel::beginLocalWrite(const QString& key, int type, qint64 version)
{
    ServerCopy& copy = m_serverCopies[type][key];
    if (copy.unconfirmed == 0) {
        // What the server holds as far as this device knows: what it held before this write.
        QMutexLocker lock(&m_dataLock);
        const auto& table = usesTypeTable(type) ? m_typeValues[type] : m_values;
        const auto held = table.constFind(key);
        copy.exists = held != table.cend();
        copy.value = copy.exists ? held.value() : QByteArray();
        copy.version = m_keyVersions.value(type).value(key);
    }
    ++copy.unconfirmed;
    copy.latestWrite = version;
    m_unconfirmed.insert(version, {key, type});
}

void SharedPreferenceModel::noteServerValue(const QString& key, int type, const QByteArray& value,
                                            qint64 version)
{
    auto copies = m_serverCopies.find(type);
    if (copies == m_serverCopies.end())
        return;
    auto copy = copies->find(key);
    if (copy == copies->end() || version < copy->version)
        return;
    copy->value = value;
    copy->version = version;
    copy->exists = !value.isEmpty();
}

// Settles the writes an answer was for. A refused write is undone unless this device wrote the key
// again since: the device goes back to the last value it knows the server holds, in memory, on
// disk and with the owner. A write that never reached the server stays as it is.
void SharedPreferenceModel::settleLocalWrites(const QVariantMap& context, int code)
{
    bool sendAgain = false;
    for (auto it = context.cbegin(); it != context.cend(); ++it) {
        const qint64 sent = it.value().toLongLong();
        const auto write = m_unconfirmed.constFind(sent);
        const bool tracked = write != m_unconfirmed.cend() && write->key == it.key();
        if (PendingEdit* edit = pendingEdit(it.key(), sent)) {
            // A write the network failed is sent again, and settled only by the server's answer.
            // So is one sent again after a restart that the server failed: this device no longer
            // knows the server's value to go back to.
            if (code < 0 || (!tracked && code >= kFirstServerError)) {
                edit->inFlight = false;
                sendAgain = sendAgain || code > 0;
                continue;
            }
            settlePending(it.key(), edit->type, sent);
            // Refused after a restart: what the server holds comes with its whole list.
            if (code > 0 && !tracked)
                m_listFromStart = true;
        }
        if (!tracked)
            continue;
        const LocalWrite settled = write.value();
        const qint64 version = write.key();
        m_unconfirmed.erase(write);
        auto& copies = m_serverCopies[settled.type];
        const auto copy = copies.find(settled.key);
        if (copy == copies.end())
            continue;
        const ServerCopy serverCopy = copy.value();
        if (--copy->unconfirmed <= 0)
            copies.erase(copy);
        if (code > 0 && serverCopy.latestWrite == version)
            rollBack(settled, serverCopy);
    }
    if (sendAgain)
        scheduleResend();
    if (m_listFromStart)
        listFromStart();
}

void SharedPreferenceModel::listFromStart()
{
    SettingServiceCmd* cmd = m_account->settingServiceCmd();
    QMutexLocker lock(&m_taskLock);
    // A list on its way reads the start again when it ends.
    if (!cmd || m_storingPage || cmd->isInFlight(SettingServiceCmd::ListSharedPreferences))
        return;
    m_listFromStart = false;
    cmd->listSharedPreferences(0);
}

void SharedPreferenceModel::rollBack(const LocalWrite& write, const ServerCopy& copy)
{
    qCDebug(lcSettingModel) << "the server refused" << write.key << "of type" << write.type
                            << "; back to its value";
    SharedPreferenceInfo info{write.key, copy.value, write.type, 0, copy.version, {}};
    // The owner goes back as well, so that the refused value neither shows nor goes out again.
    const SharedPreferenceOwner* owner = ownerOf(write.type);
    // An owner that hears of failures tells the user itself; otherwise the change would go back
    // without a word.
    if (!owner || !owner->failed)
        settingmodel::reportFailure(m_account, 0, qtTrId("setting_refused"));
    if (accepts(owner, write.key) && owner->rolledBack)
        owner->rolledBack(write.key, copy.exists ? copy.value : QByteArray(), copy.version);
    else
        parseSharedPreference(info, false);
    if (!copy.exists) {
        removeKey(write.key, write.type);
        QMultiHash<QString, int> gone;
        gone.insert(write.key, write.type);
        postRemove(gone);
        return;
    }
    {
        QMutexLocker lock(&m_dataLock);
        setValue(write.key, write.type, copy.value);
        auto& versions = m_keyVersions[write.type];
        if (copy.version > 0)
            versions.insert(write.key, copy.version);
        else
            versions.remove(write.key);
    }
    if (info.unapplied)
        m_unapplied[write.type].insert(write.key, info);
    postSave({info});
}

// ---- edits the server has not answered ----

int SharedPreferenceModel::pendingEditCount() const
{
    int count = 0;
    for (const auto& edits : m_pending)
        count += int(edits.size());
    return count;
}

void SharedPreferenceModel::persistEdit(const QString& key, int type, const QByteArray& value, qint64 version,
                                        bool encrypt)
{
    m_pending[type].insert(key, {value, version, type, encrypt, true});
    SharedPreferenceInfo info{key, value, type, 0, version, {}};
    info.pending = encrypt ? SharedPreferenceInfo::PendingEncrypted : SharedPreferenceInfo::PendingPlain;
    postSave({info});
}

bool SharedPreferenceModel::plausibleVersion(const im::SharedPreference& record) const
{
    // A version below zero, or far past this device's clock (corrected by the server's), would
    // win over every later write of the key for good.
    const qint64 version = record.version();
    if (version >= 0 && version <= m_account->currentTime() + kMaxVersionAheadMs)
        return true;
    DroppedInput::note("an impossible version",
                       QStringLiteral("%1/%2 at %3").arg(text(record.key())).arg(record.type()).arg(version));
    return false;
}

bool SharedPreferenceModel::takesServerRecord(const QString& key, int type, qint64 version)
{
    const auto edits = m_pending.find(type);
    if (edits == m_pending.end())
        return true;
    const auto edit = edits->constFind(key);
    if (edit == edits->cend())
        return true;
    if (version < edit->version)
        return false;
    // The server has this edit already, or a newer value that wins over it.
    if (version == edit->version)
        settlePending(key, type, version);
    else
        edits->erase(edit);
    return true;
}

void SharedPreferenceModel::settlePending(const QString& key, int type, qint64 version)
{
    const auto edits = m_pending.find(type);
    if (edits == m_pending.end())
        return;
    const auto edit = edits->constFind(key);
    if (edit == edits->cend() || edit->version != version)
        return;
    edits->erase(edit);
    auto* store = m_account->storage()->sharedPreferenceStorage();
    ThreadManager::getInstance()->invoke([store, key, type, version] { store->settle(key, type, version); },
                                         ThreadManager::onMainThread());
}

SharedPreferenceModel::PendingEdit* SharedPreferenceModel::pendingEdit(const QString& key, qint64 version)
{
    for (auto edits = m_pending.begin(); edits != m_pending.end(); ++edits) {
        const auto edit = edits->find(key);
        if (edit != edits->end() && edit->version == version)
            return &edit.value();
    }
    return nullptr;
}

void SharedPreferenceModel::networkAnswered()
{
    // What waits for the network need not wait for the timer any more.
    m_resendDelayMs = kFirstResendDelayMs;
    if (m_resendTimer.isActive())
        m_resendTimer.start(0);
}

void SharedPreferenceModel::scheduleResend()
{
    if (!m_resendTimer.isActive())
        m_resendTimer.start(m_resendDelayMs);
    m_resendDelayMs = std::min(m_resendDelayMs * 2, kMaxResendDelayMs);
}

void SharedPreferenceModel::resendPending()
{
    SettingServiceCmd* cmd = m_account->settingServiceCmd();
    if (isClearing() || !m_localLoaded || !cmd || !m_account->isOnline())
        return;
    struct Due {
        QString key;
        PendingEdit* edit;
    };
    std::vector<Due> due;
    for (auto edits = m_pending.begin(); edits != m_pending.end(); ++edits) {
        for (auto edit = edits->begin(); edit != edits->end(); ++edit) {
            if (!edit->inFlight)
                due.push_back({edit.key(), &edit.value()});
        }
    }
    std::sort(due.begin(), due.end(),
              [](const Due& a, const Due& b) { return a.edit->version < b.edit->version; });
    for (size_t first = 0; first < due.size(); first += kResendBatch) {
        im::misc::UpdateSharedPreferencesV2Req req;
        QVariantMap context;
        for (size_t i = first; i < std::min(due.size(), first + kResendBatch); ++i) {
            PendingEdit* edit = due[i].edit;
            fillRecord(req.add_preferences(), due[i].key, edit->value, edit->type, edit->version,
                       edit->encrypt);
            edit->inFlight = true;
            context.insert(due[i].key, edit->version);
        }
        qCDebug(lcSettingModel) << "sending" << req.preferences_size() << "unanswered edits again";
        cmd->updateSharedPreferences(req, true, context);
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
        m_storingPage = false;
        m_listAgain = false;
        m_listFromStart = false;
    }
    m_afterLoad.clear();
    m_unapplied.clear();
    m_unconfirmed.clear();
    m_serverCopies.clear();
    m_pending.clear();
    m_resendTimer.stop();
    QMutexLocker lock(&m_dataLock);
    m_values.clear();
    m_typeValues.clear();
    m_versions.clear();
    m_keyVersions.clear();
    return true;
}
