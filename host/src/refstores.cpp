#include "refstores.h"

#include "host/jsonutil.h"
#include "im/user.pb.h"

#include <QSet>

namespace {
const QString kSharedPreferenceOffset = QStringLiteral("shared_preference_offset");
const QString kWallpaperOffset = QStringLiteral("wallpaper_offset");
const QString kWallpaperDeletes = QStringLiteral("wallpaper_deletes");
const QString kEmojiRecent = QStringLiteral("emoji_recent");
const QString kReactionEmojiRecent = QStringLiteral("reaction_emoji_recent");
const QString kPrivacySettings = QStringLiteral("privacy_settings");
const QString kNotifyConfig = QStringLiteral("notify_config");
const QString kChatFolderConfig = QStringLiteral("chat_folder_config");
const QString kMediaExif = QStringLiteral("media_message_exif");
const QString kFileExif = QStringLiteral("file_message_exif");
const QString kCurrentTheme = QStringLiteral("current_theme");
const QString kColorCircles = QStringLiteral("color_circles");
const QString kPendingThemeColors = QStringLiteral("pending_theme_colors");
const QString kSelectColorCircle = QStringLiteral("select_color_circle");
const char* const kLegacyKeys[] = {
    "chat_background_color", "chat_background_gradient_color", "dark_mode_chat_background_color",
    "chat_background_id",    "chat_background_blur",           "chat_background_gradient_rotation",
    "chat_shader_opacity"};
} // namespace

qint64 RefDataInfoModel::sharedReferenceOffset() const
{
    return m_table.value(kSharedPreferenceOffset).toLongLong();
}

void RefDataInfoModel::saveSharedReferenceOffset(qint64 offset)
{
    m_table.setValue(kSharedPreferenceOffset, QByteArray::number(offset));
}

qint64 RefDataInfoModel::wallpaperOffset() const
{
    return m_table.value(kWallpaperOffset).toLongLong();
}

void RefDataInfoModel::saveWallpaperOffset(qint64 offset)
{
    m_table.setValue(kWallpaperOffset, QByteArray::number(offset));
}

QByteArray RefDataInfoModel::wallpaperDeletes() const
{
    return m_table.value(kWallpaperDeletes);
}

void RefDataInfoModel::saveWallpaperDeletes(const QByteArray& json)
{
    m_table.setValue(kWallpaperDeletes, json);
}

QByteArray RefDataInfoModel::emojiRecent() const
{
    return m_table.value(kEmojiRecent);
}

void RefDataInfoModel::saveEmojiRecent(const QByteArray& json)
{
    m_table.setValue(kEmojiRecent, json);
}

QByteArray RefDataInfoModel::reactionEmojiRecent() const
{
    return m_table.value(kReactionEmojiRecent);
}

void RefDataInfoModel::saveReactionEmojiRecent(const QByteArray& json)
{
    m_table.setValue(kReactionEmojiRecent, json);
}

QByteArray RefAccountSettingModel::privacySettings() const
{
    return m_table.value(kPrivacySettings);
}

void RefAccountSettingModel::savePrivacySettings(const QByteArray& bytes)
{
    m_table.setValue(kPrivacySettings, bytes);
}

QVariantMap RefAccountSettingModel::readNotifyConfig(const QHash<QString, QByteArray>& rows)
{
    return jsonToMap(rows.value(kNotifyConfig));
}

void RefAccountSettingModel::primeNotifyConfig(const QVariantMap& config)
{
    QMutexLocker lock(&m_notifyMutex);
    m_notifyConfig = config;
}

QVariantMap RefAccountSettingModel::notifyConfig() const
{
    QMutexLocker lock(&m_notifyMutex);
    return m_notifyConfig;
}

void RefAccountSettingModel::updateNotifyConfig(const QVariantMap& config)
{
    primeNotifyConfig(config);
    m_table.setValueLater(kNotifyConfig, [config] { return mapToJson(config); });
}

void RefAccountSettingModel::updateMutedGroupNotification(const QString& dialogId, bool reply, bool at,
                                                          bool atAll)
{
    const QVariantMap entry{{QStringLiteral("dialogID"), dialogId},
                            {QStringLiteral("reply"), reply},
                            {QStringLiteral("at"), at},
                            {QStringLiteral("atAll"), atAll}};
    editExceptions(dialogId, &entry);
}

void RefAccountSettingModel::deleteMutedGroupNotification(const QString& dialogId)
{
    editExceptions(dialogId, nullptr);
}

void RefAccountSettingModel::editExceptions(const QString& dialogId, const QVariantMap* entry)
{
    const QString groupKey = QStringLiteral("group");
    const QString listKey = QStringLiteral("exceptionMention");
    QVariantMap config = notifyConfig();
    QVariantMap group = config.value(groupKey).toMap();
    QVariantList exceptions;
    bool replaced = false;
    for (const QVariant& value : group.value(listKey).toList()) {
        if (value.toMap().value(QStringLiteral("dialogID")).toString() != dialogId) {
            exceptions.append(value);
        } else if (entry && !replaced) {
            exceptions.append(*entry);
            replaced = true;
        }
    }
    if (entry && !replaced)
        exceptions.append(*entry);
    group.insert(listKey, exceptions);
    config.insert(groupKey, group);
    primeNotifyConfig(config);
    const QByteArray json = mapToJson(config);
    m_table.setValue(kNotifyConfig, json);
    if (m_notifySync)
        m_notifySync(json);
}

bool RefAccountSettingModel::globalMessagePreview() const
{
    return notifyConfig().value(QStringLiteral("messagePreview"), true).toBool();
}

QByteArray RefAccountSettingModel::chatFolderConfig() const
{
    return m_table.value(kChatFolderConfig);
}

void RefAccountSettingModel::updateChatFolderConfig(const QByteArray& config)
{
    m_table.setValue(kChatFolderConfig, config);
}

bool RefAccountSettingModel::mediaMessageExif() const
{
    return m_table.value(kMediaExif) == "1";
}

void RefAccountSettingModel::setMediaMessageExif(bool keep, bool sync)
{
    setExif(kMediaExif, true, keep, sync);
}

bool RefAccountSettingModel::fileMessageExif() const
{
    return m_table.value(kFileExif) == "1";
}

void RefAccountSettingModel::setFileMessageExif(bool keep, bool sync)
{
    setExif(kFileExif, false, keep, sync);
}

void RefAccountSettingModel::setExif(const QString& key, bool media, bool keep, bool sync)
{
    m_table.setValue(key, keep ? "1" : "0");
    if (sync && m_exifSync)
        m_exifSync(media, keep);
}

int RefAccountDeviceModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant RefAccountDeviceModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.parent().isValid() || index.row() >= count())
        return {};
    const Device& d = m_devices.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case NameRole: return d.name;
    case IdRole: return d.id;
    case PlatformRole: return d.platform;
    case AppVersionRole: return d.appVersion;
    case LastActiveRole: return d.lastActive;
    case CurrentRole: return d.current;
    case LocationRole: return d.location;
    default: return {};
    }
}

QHash<int, QByteArray> RefAccountDeviceModel::roleNames() const
{
    return {{IdRole, "deviceId"},           {NameRole, "name"},
            {PlatformRole, "platform"},     {AppVersionRole, "appVersion"},
            {LastActiveRole, "lastActive"}, {CurrentRole, "current"},
            {LocationRole, "location"}};
}

void RefAccountDeviceModel::setDeviceList(const im::user::ListDevicesResp& resp)
{
    QList<Device> devices;
    devices.reserve(resp.devices_size());
    for (const auto& d : resp.devices())
        devices.append({d.id(), QString::fromStdString(d.name()), QString::fromStdString(d.platform()),
                        QString::fromStdString(d.app_version()), d.last_active(), d.current(),
                        QString::fromStdString(d.location())});
    const bool countChanges = devices.size() != m_devices.size();
    beginResetModel();
    m_devices = std::move(devices);
    endResetModel();
    if (countChanges)
        emit countChanged();
    if (resp.delete_timer() != 0)
        setDeviceDeleteTimer(resp.delete_timer());
}

void RefAccountDeviceModel::removeDevices(const QVariantList& deviceIds)
{
    QSet<int> ids;
    for (const QVariant& id : deviceIds)
        ids.insert(id.toInt());
    bool removed = false;
    for (int row = count() - 1; row >= 0; --row) {
        if (!ids.contains(m_devices.at(row).id))
            continue;
        beginRemoveRows({}, row, row);
        m_devices.removeAt(row);
        endRemoveRows();
        removed = true;
    }
    if (removed)
        emit countChanged();
}

void RefAccountDeviceModel::setDeviceDeleteTimer(int timerType)
{
    if (m_deleteTimer == timerType)
        return;
    m_deleteTimer = timerType;
    emit deleteTimerChanged();
}

QByteArray RefAccountSettingModel::currentTheme() const
{
    return m_table.value(kCurrentTheme);
}

void RefAccountSettingModel::updateCurrentTheme(const QByteArray& bytes)
{
    m_table.setValue(kCurrentTheme, bytes);
}

QByteArray RefAccountSettingModel::colorCircles() const
{
    return m_table.value(kColorCircles);
}

void RefAccountSettingModel::updateColorCircles(const QByteArray& json)
{
    m_table.setValue(kColorCircles, json);
}

int RefAccountSettingModel::selectColorCircleId() const
{
    bool ok = false;
    const int id = m_table.value(kSelectColorCircle).toInt(&ok);
    return ok ? id : -1;
}

void RefAccountSettingModel::setSelectColorCircleId(int id)
{
    m_table.setValue(kSelectColorCircle, QByteArray::number(id));
}

QByteArray RefAccountSettingModel::pendingThemeColors() const
{
    return m_table.value(kPendingThemeColors);
}

void RefAccountSettingModel::setPendingThemeColors(const QByteArray& json)
{
    m_table.setValue(kPendingThemeColors, json);
}

void RefAccountSettingModel::clearCustomThemeInfo()
{
    for (const char* key : kLegacyKeys)
        m_table.setValue(QLatin1String(key), QByteArray());
}

bool RefAccountSettingModel::containsCustomThemeInfo() const
{
    // A cleared key holds an empty value.
    for (const char* key : kLegacyKeys) {
        if (!m_table.value(QLatin1String(key)).isEmpty())
            return true;
    }
    return false;
}

QString RefAccountSettingModel::chatBackgroundColor() const
{
    return QString::fromUtf8(m_table.value(QStringLiteral("chat_background_color")));
}

QString RefAccountSettingModel::chatBackgroundGradientColor() const
{
    return QString::fromUtf8(m_table.value(QStringLiteral("chat_background_gradient_color")));
}

QString RefAccountSettingModel::darkModeChatBackgroundColor() const
{
    return QString::fromUtf8(m_table.value(QStringLiteral("dark_mode_chat_background_color")));
}

QString RefAccountSettingModel::chatBackgroundId() const
{
    return QString::fromUtf8(m_table.value(QStringLiteral("chat_background_id")));
}

int RefAccountSettingModel::chatBackgroundBlur() const
{
    return m_table.value(QStringLiteral("chat_background_blur")).toInt();
}

int RefAccountSettingModel::chatBackgroundGradientRotation() const
{
    return m_table.value(QStringLiteral("chat_background_gradient_rotation")).toInt();
}

int RefAccountSettingModel::chatShaderOpacity() const
{
    return m_table.value(QStringLiteral("chat_shader_opacity")).toInt();
}

void RefAccountSettingModel::setLegacyAppearance(const QVariantMap& values)
{
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        m_table.setValue(it.key(), it.value().toString().toUtf8());
}
