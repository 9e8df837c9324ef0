#include "notifications/ringtonemanager.h"

#include "host/accountbase.h"
#include "host/accountsettingmodel.h"
#include "host/constants.h"
#include "host/dialogbase.h"
#include "logging.h"
#include "preferences/sharedpreferencemodel.h"
#include "preferences/sharedpreferenceowner.h"

#include <QJSEngine>

namespace {

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
}

GroupMutedSettingModel::~GroupMutedSettingModel() = default;

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

void GroupMutedSettingModel::updateSettings(const QVariantMap& map, qint64 time, bool flush)
{
    {
        QMutexLocker lock(&m_lock);
        if (time <= m_updateTime)
            return;
        m_updateTime = time;
        m_notifyMap = map;
        if (!flush || !m_loaded)
            return;
    }
    flushSettings();
}

struct GroupMutedSettingModel::Build {
    QVariantList entries;
    qint64 time = 0;
    int next = 0;
    QList<GroupMutedSetting*> fresh;
    QHash<QString, GroupMutedSetting*> byDialog;
    // Edits made while it was built, made again on the new list.
    QList<std::function<void()>> replay;
};

void GroupMutedSettingModel::replayAfterBuild(std::function<void()> edit)
{
    if (m_build)
        m_build->replay.append(std::move(edit));
}

void GroupMutedSettingModel::flushSettings()
{
    auto build = std::make_shared<Build>();
    {
        QMutexLocker lock(&m_lock);
        build->entries = m_notifyMap.value(kGroup).toMap().value(kExceptions).toList();
        build->time = m_updateTime;
    }
    if (m_build)
        build->replay = m_build->replay; // edits still to be made on whichever list wins
    dropBuild();
    m_build = build;
    buildSlice(build);
}

void GroupMutedSettingModel::dropBuild()
{
    if (m_build)
        qDeleteAll(m_build->fresh);
    m_build.reset();
}

void GroupMutedSettingModel::buildSlice(const std::shared_ptr<Build>& build)
{
    if (build != m_build)
        return; // a newer flush took over
    const int end = std::min(build->next + kFlushSlice, int(build->entries.size()));
    for (; build->next < end; ++build->next) {
        const QVariantMap entry = build->entries.at(build->next).toMap();
        const QString dialogId = entry.value(kDialogId).toString();
        // An entry without a chat, or a chat this device does not have, is skipped.
        if (dialogId.isEmpty() || build->byDialog.contains(dialogId) ||
            !m_account->dialogById(dialogId, false))
            continue;
        auto* setting =
            new GroupMutedSetting(dialogId, entry.value(kReply).toBool(), entry.value(kAt).toBool(),
                                  entry.value(kAtAll).toBool(), build->time, m_account, this);
        build->fresh.append(setting);
        build->byDialog.insert(dialogId, setting);
    }
    if (build->next < build->entries.size()) {
        // A long list is built a slice per event, so the interface stays responsive.
        QMetaObject::invokeMethod(
            this, [this, build] { buildSlice(build); }, Qt::QueuedConnection);
        return;
    }
    QHash<QString, QVariantMap> pending;
    {
        QMutexLocker lock(&m_lock);
        pending.swap(m_pending);
    }
    for (auto it = pending.cbegin(); it != pending.cend(); ++it) {
        if (!m_account->dialogById(it.key(), true))
            continue;
        const QVariantMap& map = it.value();
        const qint64 t = map.value(kUpdateTime).toLongLong();
        const bool reply = map.value(kReply).toBool();
        const bool at = map.value(kAt).toBool();
        const bool atAll = map.value(kAtAll).toBool();
        if (GroupMutedSetting* known = build->byDialog.value(it.key())) {
            if (known->updateTime() < t)
                known->update(t, reply, at, atAll);
            continue;
        }
        auto* setting = new GroupMutedSetting(it.key(), reply, at, atAll, t, m_account, this);
        build->fresh.append(setting);
        build->byDialog.insert(it.key(), setting);
    }
    m_build.reset();
    beginResetModel();
    QList<GroupMutedSetting*> old;
    {
        QMutexLocker lock(&m_lock);
        old = m_settings;
        m_settings = build->fresh;
        m_byDialog = build->byDialog;
        m_shown = filteredLocked();
        m_loaded = true;
    }
    endResetModel();
    // The interface may still hold the old rows until it has seen the reset.
    for (GroupMutedSetting* setting : std::as_const(old))
        setting->deleteLater();
    emit countChanged();
    for (const auto& edit : std::as_const(build->replay))
        edit();
}

void GroupMutedSettingModel::updateGroupNotification(const QString& dialogId, bool reply, bool at, bool atAll)
{
    const qint64 now = m_account->currentTime();
    setLocally(dialogId, reply, at, atAll, now);
    replayAfterBuild(
        [this, dialogId, reply, at, atAll, now] { setLocally(dialogId, reply, at, atAll, now); });
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
    if (!m_account->dialogById(dialogId, false))
        return;
    auto* setting = new GroupMutedSetting(dialogId, reply, at, atAll, time, m_account, this);
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
    replayAfterBuild([this, dialogId] { deleteGroupNotification(dialogId, false); });
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
    const bool reply = map.value(kReply).toBool();
    const bool at = map.value(kAt).toBool();
    const bool atAll = map.value(kAtAll).toBool();
    replayAfterBuild([this, dialogId, map, time] { udpateFromOldVer(dialogId, map, time); });
    if (GroupMutedSetting* known = mutedSetting(dialogId)) {
        if (known->updateTime() <= time)
            known->update(time, reply, at, atAll);
        return;
    }
    addNewSetting(dialogId, reply, at, atAll, time);
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

void GroupMutedSettingModel::parseThen(const QByteArray& value, std::function<void(const QVariantMap&)> apply)
{
    m_parser.start([this, value, apply = std::move(apply)] {
        QVariantMap map;
        if (!readJsonObject(value, map)) {
            qCDebug(lcSettingModel) << "notification value is not a JSON object; kept the previous one";
            return;
        }
        QMetaObject::invokeMethod(
            this,
            [this, apply, map] {
                if (!isClearing())
                    apply(map);
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
        parseThen(value, [this, account, version, flush](const QVariantMap& map) {
            // The account's settings follow the same version rule as the list: never back.
            {
                QMutexLocker lock(&m_lock);
                if (version <= m_updateTime)
                    return;
            }
            if (AccountSettingModel* settings = account->accountSettingModel())
                settings->updateNotifyConfig(map);
            updateSettings(map, version, flush);
        });
    };
    SharedPreferenceOwner owner;
    owner.apply = [hear](const QString&, const QByteArray& value, qint64 version, bool fromLocal) {
        hear(value, version, !fromLocal);
        return true;
    };
    owner.loaded = [this](const QString&, const QByteArray& value, qint64 version) {
        parseThen(value, [this, version](const QVariantMap& map) { updateSettings(map, version, false); });
    };
    owner.superseded = [hear](const QString&, const QByteArray& value, qint64 version, const QVariantMap&) {
        hear(value, version, true);
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
    // After the values the local load handed over have been read.
    m_parser.start([this] {
        QMetaObject::invokeMethod(this, &GroupMutedSettingModel::flushSettings, Qt::QueuedConnection);
    });
    return true;
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
        m_notifyMap.clear();
        m_searchText.clear();
        m_updateTime = 0;
        m_loaded = false;
    }
    endResetModel();
    dropBuild();
    for (GroupMutedSetting* setting : std::as_const(old))
        setting->deleteLater();
    emit countChanged();
    return true;
}
