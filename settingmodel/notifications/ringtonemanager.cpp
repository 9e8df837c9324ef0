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

void GroupMutedSettingModel::flushSettings()
{
    QVariantList entries;
    QHash<QString, QVariantMap> pending;
    qint64 time = 0;
    {
        QMutexLocker lock(&m_lock);
        entries = m_notifyMap.value(kGroup).toMap().value(kExceptions).toList();
        pending = m_pending;
        m_pending.clear();
        time = m_updateTime;
    }
    QList<GroupMutedSetting*> fresh;
    QHash<QString, GroupMutedSetting*> byDialog;
    for (const QVariant& value : std::as_const(entries)) {
        const QVariantMap entry = value.toMap();
        const QString dialogId = entry.value(kDialogId).toString();
        // An entry without a chat, or a chat this device does not have, is skipped.
        if (dialogId.isEmpty() || byDialog.contains(dialogId) || !m_account->dialogById(dialogId, false))
            continue;
        auto* setting =
            new GroupMutedSetting(dialogId, entry.value(kReply).toBool(), entry.value(kAt).toBool(),
                                  entry.value(kAtAll).toBool(), time, m_account, this);
        fresh.append(setting);
        byDialog.insert(dialogId, setting);
    }
    for (auto it = pending.cbegin(); it != pending.cend(); ++it) {
        if (!m_account->dialogById(it.key(), true))
            continue;
        const QVariantMap& map = it.value();
        const qint64 t = map.value(kUpdateTime).toLongLong();
        const bool reply = map.value(kReply).toBool();
        const bool at = map.value(kAt).toBool();
        const bool atAll = map.value(kAtAll).toBool();
        if (GroupMutedSetting* known = byDialog.value(it.key())) {
            if (known->updateTime() < t)
                known->update(t, reply, at, atAll);
            continue;
        }
        auto* setting = new GroupMutedSetting(it.key(), reply, at, atAll, t, m_account, this);
        fresh.append(setting);
        byDialog.insert(it.key(), setting);
    }
    beginResetModel();
    QList<GroupMutedSetting*> old;
    {
        QMutexLocker lock(&m_lock);
        old = m_settings;
        m_settings = fresh;
        m_byDialog = byDialog;
        m_shown = filteredLocked();
        m_loaded = true;
    }
    endResetModel();
    // The interface may still hold the old rows until it has seen the reset.
    for (GroupMutedSetting* setting : std::as_const(old))
        setting->deleteLater();
    emit countChanged();
}

void GroupMutedSettingModel::updateGroupNotification(const QString& dialogId, bool reply, bool at, bool atAll)
{
    const qint64 now = m_account->currentTime();
    GroupMutedSetting* known = mutedSetting(dialogId);
    if (known)
        known->update(now, reply, at, atAll);
    else
        addNewSetting(dialogId, reply, at, atAll, now);
    if (AccountSettingModel* settings = m_account->accountSettingModel())
        settings->updateMutedGroupNotification(dialogId, reply, at, atAll);
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
    for (GroupMutedSetting* setting : std::as_const(old))
        setting->deleteLater();
    emit countChanged();
    return true;
}
