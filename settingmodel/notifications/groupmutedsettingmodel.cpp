#include "notifications/groupmutedsettingmodel.h"

#include "host/accountbase.h"
#include "host/accountsettingmodel.h"
#include "host/constants.h"
#include "host/dialogbase.h"
#include "host/jsonutil.h"
#include "host/storage.h"
#include "host/threadmanager.h"
#include "logging.h"
#include "moduleconstants.h"
#include "notifications/ringtonemanager.h"
#include "preferences/sharedpreferencemodel.h"
#include "preferences/sharedpreferenceowner.h"

#include <QJSEngine>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <atomic>

namespace {

// "true", 1 and true all read alike, as a QVariant would read them, without making one for each
// field of thousands of entries.
bool looseBool(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Bool: return value.toBool();
    case QJsonValue::Double: return value.toDouble() != 0;
    case QJsonValue::String: {
        const QString text = value.toString();
        return !text.isEmpty() && text != QLatin1String("0") &&
               text.compare(QLatin1String("false"), Qt::CaseInsensitive) != 0;
    }
    default: return false;
    }
}

QString looseText(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::String: return value.toString();
    case QJsonValue::Double: return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QJsonValue::Bool: return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    default: return {};
    }
}

const QString kGroup = QStringLiteral("group");
const QString kExceptions = QStringLiteral("exceptionMention");
const QString kDialogId = QStringLiteral("dialogID");
const QString kReply = QStringLiteral("reply");
const QString kAt = QStringLiteral("at");
const QString kAtAll = QStringLiteral("atAll");
const QString kUpdateTime = QStringLiteral("updateTime");

} // namespace

GroupMutedSettingModel::GroupMutedSettingModel(AccountBase* account)
    : QAbstractListModel(account),
      m_account(account)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
    // Values are parsed in the order they came.
    m_parser.setMaxThreadCount(1);
    // A chat that is destroyed takes its exception with it, locally only. The account tells of
    // every chat once: a connection to each of thousands of chats would cost more than the list.
    if (account)
        connect(account, &AccountBase::dialogDestroyed, this,
                [this](const QString& dialogId) { deleteGroupNotification(dialogId, false); });
}

GroupMutedSettingModel::~GroupMutedSettingModel()
{
    m_parser.waitForDone();
}

int GroupMutedSettingModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant GroupMutedSettingModel::data(const QModelIndex& index, int role) const
{
    if (role != ItemRole ||
        !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    QString dialogId;
    {
        QMutexLocker lock(&m_lock);
        dialogId = m_entries.at(indexOfRowLocked(index.row())).dialogId;
    }
    return QVariant::fromValue(objectOf(dialogId));
}

QHash<int, QByteArray> GroupMutedSettingModel::roleNames() const
{
    return {{ItemRole, "itemModel"}};
}

QList<GroupMutedSetting*> GroupMutedSettingModel::settings() const
{
    QStringList ids;
    {
        QMutexLocker lock(&m_lock);
        ids.reserve(m_entries.size());
        for (const Entry& entry : m_entries)
            ids.append(entry.dialogId);
    }
    QList<GroupMutedSetting*> all;
    all.reserve(ids.size());
    for (const QString& id : std::as_const(ids)) {
        if (GroupMutedSetting* setting = objectOf(id))
            all.append(setting);
    }
    return all;
}

int GroupMutedSettingModel::count() const
{
    QMutexLocker lock(&m_lock);
    return int(m_searchText.isEmpty() ? m_entries.size() : m_shown.size());
}

bool GroupMutedSettingModel::isLoaded() const
{
    QMutexLocker lock(&m_lock);
    return m_loaded;
}

GroupMutedSetting* GroupMutedSettingModel::mutedSetting(const QList<GroupMutedSetting*>& settings,
                                                        const QString& dialogId) const
{
    for (GroupMutedSetting* setting : settings) {
        if (setting && setting->dialogId() == dialogId)
            return setting;
    }
    return nullptr;
}

GroupMutedSetting* GroupMutedSettingModel::mutedSetting(const QString& dialogId) const
{
    return objectOf(dialogId);
}

GroupMutedSetting* GroupMutedSettingModel::objectOf(const QString& dialogId) const
{
    if (GroupMutedSetting* made = m_objects.value(dialogId))
        return made;
    Entry entry;
    {
        QMutexLocker lock(&m_lock);
        const int index = m_index.value(dialogId, -1);
        if (index < 0)
            return nullptr;
        entry = m_entries.at(index);
    }
    auto* setting =
        new GroupMutedSetting(entry.dialogId, entry.reply, entry.at, entry.atAll, entry.time, m_account,
                              const_cast<GroupMutedSettingModel*>(this), entry.dialog.toStrongRef());
    m_objects.insert(dialogId, setting);
    return setting;
}

bool GroupMutedSettingModel::showsLocked(const Entry& entry) const
{
    return m_searchText.isEmpty() || GroupMutedSetting::matches(entry.dialog.toStrongRef(), m_searchText);
}

void GroupMutedSettingModel::filterLocked()
{
    m_shown.clear();
    if (m_searchText.isEmpty())
        return;
    for (int index = 0; index < m_entries.size(); ++index) {
        if (showsLocked(m_entries.at(index)))
            m_shown.append(index);
    }
}

int GroupMutedSettingModel::rowOfLocked(int index) const
{
    return m_searchText.isEmpty() ? index : int(m_shown.indexOf(index));
}

int GroupMutedSettingModel::indexOfRowLocked(int row) const
{
    return m_searchText.isEmpty() ? row : m_shown.at(row);
}

GroupMutedSettingModel::Exceptions GroupMutedSettingModel::exceptionsOf(const QJsonObject& notification)
{
    // Read straight from the JSON: a long list made into variant maps first costs more than
    // reading the rows it came from.
    const QJsonArray entries = notification.value(kGroup).toObject().value(kExceptions).toArray();
    Exceptions exceptions;
    exceptions.reserve(entries.size());
    for (const QJsonValue& value : entries) {
        const QJsonObject entry = value.toObject();
        exceptions.append({looseText(entry.value(kDialogId)), looseBool(entry.value(kReply)),
                           looseBool(entry.value(kAt)), looseBool(entry.value(kAtAll))});
    }
    return exceptions;
}

void GroupMutedSettingModel::updateSettings(const QVariantMap& map, qint64 time, bool flush)
{
    updateExceptions(exceptionsOf(QJsonObject::fromVariantMap(map)), time, flush);
}

void GroupMutedSettingModel::updateExceptions(const Exceptions& exceptions, qint64 time, bool flush)
{
    {
        QMutexLocker lock(&m_lock);
        if (time <= m_updateTime)
            return;
        m_updateTime = time;
        m_exceptions = exceptions;
    }
    if (flush && isLoaded())
        flushSettings();
}

void GroupMutedSettingModel::flushSettings()
{
    Exceptions exceptions;
    qint64 time = 0;
    QHash<QString, QVariantMap> pending;
    {
        QMutexLocker lock(&m_lock);
        exceptions = m_exceptions;
        time = m_updateTime;
        pending.swap(m_pending);
    }
    QList<Entry> entries;
    QHash<QString, int> index;
    entries.reserve(exceptions.size());
    index.reserve(exceptions.size());
    for (const Exception& exception : std::as_const(exceptions)) {
        // An entry without a chat, or a chat this device does not have, is skipped.
        if (exception.dialogId.isEmpty() || index.contains(exception.dialogId))
            continue;
        QSharedPointer<DialogBase> dialog = m_account->dialogById(exception.dialogId, false);
        if (!dialog)
            continue;
        index.insert(exception.dialogId, int(entries.size()));
        entries.append({exception.dialogId, time, dialog, exception.reply, exception.at, exception.atAll});
    }
    for (auto it = pending.cbegin(); it != pending.cend(); ++it) {
        QSharedPointer<DialogBase> dialog = m_account->dialogById(it.key(), true);
        if (!dialog)
            continue;
        const QVariantMap& map = it.value();
        const qint64 t = map.value(kUpdateTime).toLongLong();
        const bool reply = map.value(kReply).toBool();
        const bool at = map.value(kAt).toBool();
        const bool atAll = map.value(kAtAll).toBool();
        const int known = index.value(it.key(), -1);
        if (known >= 0 && entries.at(known).time >= t) {
            migrate(it.key(), reply, at, atAll, -1);
            continue;
        }
        if (known >= 0)
            entries[known] = {it.key(), t, dialog, reply, at, atAll};
        else {
            index.insert(it.key(), int(entries.size()));
            entries.append({it.key(), t, dialog, reply, at, atAll});
        }
        migrate(it.key(), reply, at, atAll, t);
    }
    beginResetModel();
    {
        QMutexLocker lock(&m_lock);
        m_entries = std::move(entries);
        m_index = std::move(index);
        filterLocked();
        m_loaded = true;
    }
    endResetModel();
    // Objects of chats still listed take the new flags; the others are deleted once the interface
    // has seen the reset.
    for (auto it = m_objects.begin(); it != m_objects.end();) {
        Entry entry;
        {
            QMutexLocker lock(&m_lock);
            const int at = m_index.value(it.key(), -1);
            if (at >= 0)
                entry = m_entries.at(at);
        }
        if (entry.dialogId.isEmpty()) {
            it.value()->deleteLater();
            it = m_objects.erase(it);
            continue;
        }
        it.value()->update(entry.time, entry.reply, entry.at, entry.atAll);
        it.value()->setDialog(entry.dialog.toStrongRef());
        ++it;
    }
    emit countChanged();
}

void GroupMutedSettingModel::setEntry(const QString& dialogId, qint64 time, bool reply, bool at, bool atAll)
{
    {
        QMutexLocker lock(&m_lock);
        const int index = m_index.value(dialogId, -1);
        if (index < 0)
            return;
        Entry& entry = m_entries[index];
        entry.time = time;
        entry.reply = reply;
        entry.at = at;
        entry.atAll = atAll;
    }
    if (GroupMutedSetting* made = m_objects.value(dialogId))
        made->update(time, reply, at, atAll);
}

void GroupMutedSettingModel::updateGroupNotification(const QString& dialogId, bool reply, bool at, bool atAll)
{
    setLocally(dialogId, reply, at, atAll, m_account->currentTime());
    if (AccountSettingModel* settings = m_account->accountSettingModel())
        settings->updateMutedGroupNotification(dialogId, reply, at, atAll);
}

void GroupMutedSettingModel::setLocally(const QString& dialogId, bool reply, bool at, bool atAll, qint64 time)
{
    bool known = false;
    {
        QMutexLocker lock(&m_lock);
        known = m_index.contains(dialogId);
    }
    if (known)
        setEntry(dialogId, time, reply, at, atAll);
    else
        addNewSetting(dialogId, reply, at, atAll, time);
}

void GroupMutedSettingModel::addNewSetting(const QString& dialogId, bool reply, bool at, bool atAll,
                                           qint64 time)
{
    QSharedPointer<DialogBase> dialog = m_account->dialogById(dialogId, false);
    if (!dialog)
        return;
    const Entry entry{dialogId, time, dialog, reply, at, atAll};
    int row = -1;
    {
        QMutexLocker lock(&m_lock);
        if (showsLocked(entry))
            row = int(m_searchText.isEmpty() ? m_entries.size() : m_shown.size());
    }
    if (row >= 0)
        beginInsertRows({}, row, row);
    {
        QMutexLocker lock(&m_lock);
        const int index = int(m_entries.size());
        m_entries.append(entry);
        m_index.insert(dialogId, index);
        if (row >= 0 && !m_searchText.isEmpty())
            m_shown.append(index);
    }
    if (row >= 0)
        endInsertRows();
    emit countChanged();
}

bool GroupMutedSettingModel::deleteGroupNotification(const QString& dialogId, bool sync)
{
    int index = -1;
    int row = -1;
    {
        QMutexLocker lock(&m_lock);
        index = m_index.value(dialogId, -1);
        if (index < 0)
            return false;
        row = rowOfLocked(index);
    }
    if (row >= 0)
        beginRemoveRows({}, row, row);
    {
        QMutexLocker lock(&m_lock);
        m_entries.removeAt(index);
        m_index.remove(dialogId);
        for (int& later : m_index) {
            if (later > index)
                --later;
        }
        if (!m_searchText.isEmpty()) {
            m_shown.removeOne(index);
            for (int& later : m_shown) {
                if (later > index)
                    --later;
            }
        }
        m_exceptions.removeIf([&dialogId](const Exception& e) { return e.dialogId == dialogId; });
    }
    if (row >= 0) {
        endRemoveRows();
        emit countChanged();
    }
    if (GroupMutedSetting* made = m_objects.take(dialogId))
        made->deleteLater();
    if (!sync)
        return false;
    if (AccountSettingModel* settings = m_account->accountSettingModel())
        settings->deleteMutedGroupNotification(dialogId);
    return true;
}

void GroupMutedSettingModel::search(const QString& text)
{
    beginResetModel();
    {
        QMutexLocker lock(&m_lock);
        m_searchText = text;
        filterLocked();
    }
    endResetModel();
    emit countChanged();
}

void GroupMutedSettingModel::searchFinish()
{
    search({});
}

void GroupMutedSettingModel::udpateFromOldVer(const QString& dialogId, const QVariantMap& map, qint64 time)
{
    if (!map.contains(kAt) || !map.contains(kAtAll) || !map.contains(kReply))
        return;
    const bool reply = map.value(kReply).toBool();
    const bool at = map.value(kAt).toBool();
    const bool atAll = map.value(kAtAll).toBool();
    qint64 written = -1;
    qint64 knownTime = -1;
    {
        QMutexLocker lock(&m_lock);
        const int index = m_index.value(dialogId, -1);
        if (index >= 0)
            knownTime = m_entries.at(index).time;
    }
    if (knownTime >= 0) {
        if (knownTime <= time) {
            setEntry(dialogId, time, reply, at, atAll);
            written = time;
        }
    } else if (m_account->dialogById(dialogId, false)) {
        addNewSetting(dialogId, reply, at, atAll, time);
        written = time;
    }
    migrate(dialogId, reply, at, atAll, written);
}

void GroupMutedSettingModel::migrate(const QString& dialogId, bool reply, bool at, bool atAll, qint64 time)
{
    // Taken into the list: written once to the notification preference (and kept in the list's
    // copy of it), so that it outlives the old flags.
    if (time >= 0) {
        {
            QMutexLocker lock(&m_lock);
            m_exceptions.removeIf([&dialogId](const Exception& e) { return e.dialogId == dialogId; });
            m_exceptions.append({dialogId, reply, at, atAll});
        }
        if (AccountSettingModel* settings = m_account->accountSettingModel())
            settings->updateMutedGroupNotification(dialogId, reply, at, atAll);
    }
    // The chat's map loses the old flags either way: handed over at every start, a flag would
    // bring back an exception the user deleted since.
    if (RingtoneManager* ringtones = m_account->ringtoneManager())
        ringtones->clearMutedNotifyData(dialogId);
}

void GroupMutedSettingModel::addOldLocalSetting(const QString& dialogId, const QVariantMap& map, qint64 time)
{
    {
        QMutexLocker lock(&m_lock);
        if (!m_loaded) {
            // The first flush reads the map's own time.
            QVariantMap waiting = map;
            if (!waiting.contains(kUpdateTime))
                waiting.insert(kUpdateTime, time);
            m_pending.insert(dialogId, waiting);
            return;
        }
    }
    udpateFromOldVer(dialogId, map, time);
}

std::optional<GroupMutedSettingModel::Parsed> GroupMutedSettingModel::parse(const QByteArray& value,
                                                                            bool withMap)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(value, &error);
    if (!value.isEmpty() && (error.error != QJsonParseError::NoError || !document.isObject()))
        return std::nullopt;
    const QJsonObject object = document.object();
    return Parsed{exceptionsOf(object), withMap ? object.toVariantMap() : QVariantMap()};
}

void GroupMutedSettingModel::parseThen(const QByteArray& value, qint64 version, bool withMap,
                                       std::function<void(const Parsed& parsed)> apply)
{
    m_parser.start([this, value, version, withMap, apply = std::move(apply)] {
        // The list may have read its own row already; older values would be dropped anyway.
        if (version <= m_parsedVersion)
            return;
        std::optional<Parsed> parsed = parse(value, withMap);
        if (!parsed) {
            qCDebug(lcSettingModel) << "notification value is not a JSON object; kept the previous one";
            return;
        }
        m_parsedVersion = version;
        QMetaObject::invokeMethod(
            this,
            [this, apply, parsed = std::move(*parsed)] {
                if (!isClearing())
                    apply(parsed);
            },
            Qt::QueuedConnection);
    });
}

void GroupMutedSettingModel::initConnection()
{
    auto* store = qobject_cast<SharedPreferenceModel*>(m_account->sharedPreference());
    if (!store)
        return;
    AccountBase* account = m_account;
    const auto hear = [this, account](const QByteArray& value, qint64 version, bool flush) {
        parseThen(value, version, true, [this, account, version, flush](const Parsed& parsed) {
            // The account's settings follow the same version rule as the list: never back.
            {
                QMutexLocker lock(&m_lock);
                if (version <= m_updateTime)
                    return;
            }
            if (AccountSettingModel* settings = account->accountSettingModel())
                settings->updateNotifyConfig(parsed.map);
            updateExceptions(parsed.exceptions, version, flush);
        });
    };
    SharedPreferenceOwner owner;
    owner.apply = [hear](const QString&, const QByteArray& value, qint64 version, bool fromLocal) {
        hear(value, version, !fromLocal);
        return true;
    };
    owner.loaded = [this](const QString&, const QByteArray& value, qint64 version) {
        // Shown at once when the list is in already: it was read before the store's load ended.
        parseThen(value, version, false, [this, version](const Parsed& parsed) {
            updateExceptions(parsed.exceptions, version, true);
        });
    };
    owner.superseded = [hear](const QString&, const QByteArray& value, qint64 version, const QVariantMap&) {
        hear(value, version, true);
    };
    // A write of this device that did not come from the list (the store's key operation called
    // directly) is shown once the server has it.
    owner.confirmed = [hear](const QString& key, const QByteArray& value, const QVariantMap& context) {
        hear(value, context.value(key).toLongLong(), true);
    };
    // A refused edit is undone in the list and in the account's settings, so that it neither shows
    // nor goes out again with the next edit; the value the server holds is taken whatever its
    // version.
    owner.rolledBack = [this, account](const QString&, const QByteArray& value, qint64 version) {
        std::optional<Parsed> parsed = parse(value, true);
        if (!parsed)
            return;
        {
            QMutexLocker lock(&m_lock);
            m_updateTime = version;
            m_exceptions = parsed->exceptions;
        }
        m_parsedVersion = version;
        if (AccountSettingModel* settings = account->accountSettingModel())
            settings->updateNotifyConfig(parsed->map);
        flushSettings();
    };
    store->registerOwner(SharedPreferenceModel::Notification, this, owner);
}

void GroupMutedSettingModel::initData()
{
    setClearing(false);
}

bool GroupMutedSettingModel::loadLocalData(bool alreadyLoaded)
{
    Q_UNUSED(alreadyLoaded)
    // The list reads its own row instead of waiting for the whole preference store, which on a
    // large account holds thousands of rows; the store's copy of the same version is then skipped.
    // The row is read on the storage thread, after the writes already posted there, and parsed
    // there too: the parse's scratch memory then stays with the thread that reads every row.
    storage::SharedPreferenceStorage* store = m_account->storage()->sharedPreferenceStorage();
    QPointer<GroupMutedSettingModel> self(this);
    ThreadManager::getInstance()->invoke(
        [store, self, generation = m_generation.current()] {
            const storage::SharedPreferenceInfo row =
                store->info(QLatin1String(hostkeys::NOTIFICATION), SharedPreferenceModel::Notification);
            // An empty value is a removal the server has not answered: there is nothing to show.
            std::optional<Parsed> parsed = row.value.isEmpty() ? std::nullopt : parse(row.value, false);
            if (!row.value.isEmpty() && !parsed)
                qCDebug(lcSettingModel) << "stored notification value is not a JSON object";
            QMetaObject::invokeMethod(
                self,
                [self, generation, version = row.version, parsed = std::move(parsed)] {
                    if (self->m_generation.isCurrent(generation) && !self->isClearing())
                        self->showFirst(parsed, version);
                },
                Qt::QueuedConnection);
        },
        ThreadManager::onMainThread());
    return true;
}

void GroupMutedSettingModel::showFirst(const std::optional<Parsed>& parsed, qint64 version)
{
    if (parsed) {
        qint64 seen = m_parsedVersion;
        while (version > seen && !m_parsedVersion.compare_exchange_weak(seen, version)) {
        }
        updateExceptions(parsed->exceptions, version, false);
    }
    flushSettings();
}

bool GroupMutedSettingModel::prepareToClearData(bool force)
{
    Q_UNUSED(force)
    setClearing(true);
    m_parser.waitForDone();
    return true;
}

bool GroupMutedSettingModel::clearData(bool force)
{
    Q_UNUSED(force)
    beginResetModel();
    {
        QMutexLocker lock(&m_lock);
        m_entries.clear();
        m_index.clear();
        m_shown.clear();
        m_pending.clear();
        m_exceptions.clear();
        m_searchText.clear();
        m_updateTime = 0;
        m_loaded = false;
    }
    m_parsedVersion = 0;
    m_generation.advance();
    endResetModel();
    // The interface may still hold the old rows until it has seen the reset.
    for (GroupMutedSetting* made : std::as_const(m_objects))
        made->deleteLater();
    m_objects.clear();
    emit countChanged();
    return true;
}
