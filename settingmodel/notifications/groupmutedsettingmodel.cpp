#include "notifications/groupmutedsettingmodel.h"

#include "host/accountbase.h"
#include "host/accountmanager.h"
#include "host/accountsettingmodel.h"
#include "host/constants.h"
#include "host/cryptoaes.h"
#include "host/dialogbase.h"
#include "host/jsonutil.h"
#include "host/storage.h"
#include "host/threadmanager.h"
#include "host/util.h"
#include "logging.h"
#include "moduleconstants.h"
#include "notifications/ringtonemanager.h"
#include "preferences/sharedpreferencemodel.h"
#include "preferences/sharedpreferenceowner.h"

#include <QFileInfo>
#include <QJSEngine>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtConcurrent>

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
    // Values are read in the order they came, and the flush after the local load comes last.
    m_parser.setMaxThreadCount(1);
}

GroupMutedSettingModel::~GroupMutedSettingModel()
{
    // A build still under way hands its objects here; they are deleted with the handing-over.
    dropBuild();
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
    QMutexLocker lock(&m_lock);
    return QVariant::fromValue(m_shown.at(index.row()));
}

QHash<int, QByteArray> GroupMutedSettingModel::roleNames() const
{
    return {{ItemRole, "itemModel"}};
}

QList<GroupMutedSetting*> GroupMutedSettingModel::settings() const
{
    QMutexLocker lock(&m_lock);
    return m_settings;
}

int GroupMutedSettingModel::count() const
{
    QMutexLocker lock(&m_lock);
    return int(m_shown.size());
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
    QMutexLocker lock(&m_lock);
    return m_byDialog.value(dialogId);
}

bool GroupMutedSettingModel::shows(const GroupMutedSetting* setting) const
{
    return m_searchText.isEmpty() || setting->isMatch(m_searchText);
}

QList<GroupMutedSetting*> GroupMutedSettingModel::filteredLocked() const
{
    if (m_searchText.isEmpty())
        return m_settings;
    QList<GroupMutedSetting*> shown;
    for (GroupMutedSetting* setting : m_settings) {
        if (setting->isMatch(m_searchText))
            shown.append(setting);
    }
    return shown;
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
    // Before the first list is in, only a build under way is overtaken.
    if (flush && (isLoaded() || m_build))
        flushSettings();
}

struct GroupMutedSettingModel::Build {
    // The parent of the objects made on the parser's thread: one object moved to the model's
    // thread, and one parent that takes them all with it when the list goes. A build nobody took
    // deletes them with it; they live on the model's thread by then.
    std::unique_ptr<QObject> holder;
    // Each exception with its chat, looked up on the chats' own thread.
    QList<std::pair<Exception, QSharedPointer<DialogBase>>> entries;
    qint64 time = 0;
    std::atomic_bool dropped = false;
    QList<GroupMutedSetting*> fresh;
    QHash<QString, GroupMutedSetting*> byDialog;
    // Edits made while it was built, made again on the new list.
    // Each with the time it was made: a list built from a newer value already holds its outcome.
    QList<std::pair<qint64, std::function<void()>>> replay;
};

void GroupMutedSettingModel::replayAfterBuild(qint64 time, std::function<void()> edit)
{
    if (m_build)
        m_build->replay.append({time, std::move(edit)});
}

void GroupMutedSettingModel::flushSettings()
{
    auto build = std::make_shared<Build>();
    Exceptions exceptions;
    {
        QMutexLocker lock(&m_lock);
        exceptions = m_exceptions;
        build->time = m_updateTime;
    }
    build->entries.reserve(exceptions.size());
    for (Exception& exception : exceptions) {
        // An entry without a chat, or a chat this device does not have, is skipped.
        if (exception.dialogId.isEmpty())
            continue;
        if (QSharedPointer<DialogBase> dialog = m_account->dialogById(exception.dialogId, false))
            build->entries.append({std::move(exception), std::move(dialog)});
    }
    if (m_build)
        build->replay = m_build->replay; // edits still to be made on whichever list wins
    dropBuild();
    m_build = build;
    // The objects are made on the parser's thread, after the values read before this flush; a
    // long list would otherwise hold this thread for as long as it takes to make them.
    AccountBase* account = m_account;
    QThread* home = thread();
    m_parser.start([this, account, home, build]() mutable {
        build->holder = std::make_unique<QObject>();
        // The entries keep their chats until the build goes on the model's thread: a chat removed
        // meanwhile must not be destroyed here.
        for (const auto& [entry, dialog] : std::as_const(build->entries)) {
            if (build->dropped)
                break;
            if (build->byDialog.contains(entry.dialogId))
                continue;
            auto* setting = new GroupMutedSetting(entry.dialogId, entry.reply, entry.at, entry.atAll,
                                                  build->time, account, build->holder.get(), dialog);
            build->fresh.append(setting);
            build->byDialog.insert(entry.dialogId, setting);
        }
        build->holder->moveToThread(home);
        // Handed over whole, so that the last owner (and so the deleter of what was not taken) is
        // on the model's thread.
        QMetaObject::invokeMethod(
            this, [this, build = std::move(build)] { finishBuild(build); }, Qt::QueuedConnection);
    });
}

void GroupMutedSettingModel::dropLater(const QList<GroupMutedSetting*>& settings, QObject* holder)
{
    // The holder takes its own settings with it at once; one by one, each would look itself up
    // among thousands of siblings.
    for (GroupMutedSetting* setting : settings) {
        if (!holder || setting->parent() != holder)
            setting->deleteLater();
    }
    if (holder)
        holder->deleteLater();
}

void GroupMutedSettingModel::dropBuild()
{
    if (m_build)
        m_build->dropped = true;
    m_build.reset();
}

void GroupMutedSettingModel::finishBuild(const std::shared_ptr<Build>& build)
{
    if (build != m_build)
        return; // a newer flush took over, or the account signed out
    m_build.reset();
    QObject* holder = build->holder.release();
    holder->setParent(this);
    QHash<QString, QVariantMap> pending;
    {
        QMutexLocker lock(&m_lock);
        pending.swap(m_pending);
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
        if (GroupMutedSetting* known = build->byDialog.value(it.key())) {
            if (known->updateTime() < t) {
                known->update(t, reply, at, atAll);
                migrate(it.key(), reply, at, atAll, t);
            } else {
                migrate(it.key(), reply, at, atAll, -1);
            }
            continue;
        }
        auto* setting =
            new GroupMutedSetting(it.key(), reply, at, atAll, t, m_account, this, std::move(dialog));
        build->fresh.append(setting);
        build->byDialog.insert(it.key(), setting);
        migrate(it.key(), reply, at, atAll, t);
    }
    beginResetModel();
    QList<GroupMutedSetting*> old;
    {
        QMutexLocker lock(&m_lock);
        old = std::exchange(m_settings, std::exchange(build->fresh, {}));
        m_byDialog = build->byDialog;
        m_shown = filteredLocked();
        m_loaded = true;
    }
    endResetModel();
    // The interface may still hold the old rows until it has seen the reset.
    dropLater(old, std::exchange(m_holder, holder));
    emit countChanged();
    for (const auto& [time, edit] : std::as_const(build->replay)) {
        if (time > build->time)
            edit();
    }
}

void GroupMutedSettingModel::updateGroupNotification(const QString& dialogId, bool reply, bool at, bool atAll)
{
    const qint64 now = m_account->currentTime();
    setLocally(dialogId, reply, at, atAll, now);
    replayAfterBuild(
        now, [this, dialogId, reply, at, atAll, now] { setLocally(dialogId, reply, at, atAll, now); });
    if (AccountSettingModel* settings = m_account->accountSettingModel())
        settings->updateMutedGroupNotification(dialogId, reply, at, atAll);
}

void GroupMutedSettingModel::setLocally(const QString& dialogId, bool reply, bool at, bool atAll, qint64 time)
{
    if (GroupMutedSetting* known = mutedSetting(dialogId))
        known->update(time, reply, at, atAll);
    else
        addNewSetting(dialogId, reply, at, atAll, time);
}

void GroupMutedSettingModel::addNewSetting(const QString& dialogId, bool reply, bool at, bool atAll,
                                           qint64 time)
{
    QSharedPointer<DialogBase> dialog = m_account->dialogById(dialogId, false);
    if (!dialog)
        return;
    auto* setting =
        new GroupMutedSetting(dialogId, reply, at, atAll, time, m_account, this, std::move(dialog));
    bool shown = false;
    {
        QMutexLocker lock(&m_lock);
        m_settings.append(setting);
        m_byDialog.insert(dialogId, setting);
        shown = shows(setting);
    }
    if (shown) {
        const int row = count();
        beginInsertRows({}, row, row);
        {
            QMutexLocker lock(&m_lock);
            m_shown.append(setting);
        }
        endInsertRows();
    }
    emit countChanged();
}

bool GroupMutedSettingModel::deleteGroupNotification(const QString& dialogId, bool sync)
{
    replayAfterBuild(m_account->currentTime(),
                     [this, dialogId] { deleteGroupNotification(dialogId, false); });
    GroupMutedSetting* setting = mutedSetting(dialogId);
    if (!setting)
        return false;
    int row = -1;
    {
        QMutexLocker lock(&m_lock);
        row = int(m_shown.indexOf(setting));
    }
    if (row >= 0) {
        beginRemoveRows({}, row, row);
        {
            QMutexLocker lock(&m_lock);
            m_shown.removeAt(row);
        }
        endRemoveRows();
        emit countChanged();
    }
    {
        QMutexLocker lock(&m_lock);
        m_settings.removeOne(setting);
        m_byDialog.remove(dialogId);
    }
    setting->deleteLater();
    {
        QMutexLocker lock(&m_lock);
        m_exceptions.removeIf([&dialogId](const Exception& e) { return e.dialogId == dialogId; });
    }
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
        m_shown = filteredLocked();
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
    const bool replayed = m_replaying;
    const bool reply = map.value(kReply).toBool();
    const bool at = map.value(kAt).toBool();
    const bool atAll = map.value(kAtAll).toBool();
    replayAfterBuild(time, [this, dialogId, map, time] {
        m_replaying = true;
        udpateFromOldVer(dialogId, map, time);
        m_replaying = false;
    });
    qint64 written = -1;
    if (GroupMutedSetting* known = mutedSetting(dialogId)) {
        if (known->updateTime() <= time) {
            known->update(time, reply, at, atAll);
            written = time;
        }
    } else if (m_account->dialogById(dialogId, false)) {
        addNewSetting(dialogId, reply, at, atAll, time);
        written = time;
    }
    if (!replayed)
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
    // The row is read on the storage thread, after the writes already posted there.
    storage::SharedPreferenceStorage* store = m_account->storage()->sharedPreferenceStorage();
    QPointer<GroupMutedSettingModel> self(this);
    ThreadManager::getInstance()->invoke(
        [store, self, generation = m_generation.current()] {
            storage::SharedPreferenceInfo row =
                store->info(QLatin1String(hostkeys::NOTIFICATION), SharedPreferenceModel::Notification);
            QMetaObject::invokeMethod(
                self,
                [self, generation, row = std::move(row)] {
                    if (self->m_generation.isCurrent(generation) && !self->isClearing())
                        self->showFirst(row.value, row.version);
                },
                Qt::QueuedConnection);
        },
        ThreadManager::onMainThread());
    return true;
}

void GroupMutedSettingModel::showFirst(const QByteArray& value, qint64 version)
{
    // An empty value is a removal the server has not answered: there is nothing to show.
    if (!value.isEmpty())
        parseThen(value, version, false, [this, version](const Parsed& parsed) {
            updateExceptions(parsed.exceptions, version, false);
        });
    // After the value has been read.
    m_parser.start([this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!isClearing())
                    flushSettings();
            },
            Qt::QueuedConnection);
    });
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
    QList<GroupMutedSetting*> old;
    {
        QMutexLocker lock(&m_lock);
        old = m_settings;
        m_settings.clear();
        m_shown.clear();
        m_byDialog.clear();
        m_pending.clear();
        m_exceptions.clear();
        m_searchText.clear();
        m_updateTime = 0;
        m_loaded = false;
    }
    m_parsedVersion = 0;
    m_generation.advance();
    endResetModel();
    dropBuild();
    dropLater(old, std::exchange(m_holder, nullptr));
    emit countChanged();
    return true;
}
