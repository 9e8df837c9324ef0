#pragma once

#include "host/accountdevicemodel.h"
#include "host/accountsettingmodel.h"
#include "host/datainfomodel.h"
#include "sqlitestorage.h"

#include <QList>

#include <functional>

class HOST_EXPORT RefDataInfoModel : public DataInfoModel {
public:
    explicit RefDataInfoModel(std::shared_ptr<SqliteDatabase> db)
        : m_table(std::move(db), QStringLiteral("data_info"))
    {
    }
    KeyValueTable& table() { return m_table; }

    qint64 sharedReferenceOffset() const override;
    void saveSharedReferenceOffset(qint64 offset) override;
    qint64 wallpaperOffset() const override;
    void saveWallpaperOffset(qint64 offset) override;
    QByteArray wallpaperDeletes() const override;
    void saveWallpaperDeletes(const QByteArray& json) override;
    QByteArray emojiRecent() const override;
    void saveEmojiRecent(const QByteArray& json) override;
    QByteArray reactionEmojiRecent() const override;
    void saveReactionEmojiRecent(const QByteArray& json) override;

private:
    KeyValueTable m_table;
};

class HOST_EXPORT RefAccountSettingModel : public AccountSettingModel {
public:
    // Tells the server of an EXIF choice made on this device (media or file, keep).
    using ExifSync = std::function<void(bool media, bool keep)>;
    // Sends a rewritten notification preference (JSON) to the server.
    using NotifySync = std::function<void(const QByteArray& json)>;

    explicit RefAccountSettingModel(std::shared_ptr<SqliteDatabase> db)
        : m_table(std::move(db), QStringLiteral("account_setting"))
    {
    }
    KeyValueTable& table() { return m_table; }
    // The notification preference, read once from the table on the storage thread at open.
    static QVariantMap readNotifyConfig(const QHash<QString, QByteArray>& rows);
    void primeNotifyConfig(const QVariantMap& config);
    void setExifSync(ExifSync sync) { m_exifSync = std::move(sync); }
    void setNotifySync(NotifySync sync) { m_notifySync = std::move(sync); }

    QByteArray privacySettings() const override;
    void savePrivacySettings(const QByteArray& bytes) override;
    QVariantMap notifyConfig() const override;
    void updateNotifyConfig(const QVariantMap& config) override;
    void updateMutedGroupNotification(const QString& dialogId, bool reply, bool at, bool atAll) override;
    void deleteMutedGroupNotification(const QString& dialogId) override;
    bool globalMessagePreview() const override;
    QByteArray chatFolderConfig() const override;
    void updateChatFolderConfig(const QByteArray& config) override;
    bool mediaMessageExif() const override;
    void setMediaMessageExif(bool keep, bool sync) override;
    bool fileMessageExif() const override;
    void setFileMessageExif(bool keep, bool sync) override;
    QByteArray currentTheme() const override;
    void updateCurrentTheme(const QByteArray& bytes) override;
    QByteArray colorCircles() const override;
    void updateColorCircles(const QByteArray& json) override;
    int selectColorCircleId() const override;
    void setSelectColorCircleId(int id) override;
    QByteArray pendingThemeColors() const override;
    void setPendingThemeColors(const QByteArray& json) override;
    bool containsCustomThemeInfo() const override;
    void clearCustomThemeInfo() override;
    QString chatBackgroundColor() const override;
    QString chatBackgroundGradientColor() const override;
    QString darkModeChatBackgroundColor() const override;
    QString chatBackgroundId() const override;
    int chatBackgroundBlur() const override;
    int chatBackgroundGradientRotation() const override;
    int chatShaderOpacity() const override;
    // Writes the appearance settings of the versions before themes (keys as above, in lower
    // case with underscores: "chat_background_color", ...), as an older client left them.
    void setLegacyAppearance(const QVariantMap& values);

private:
    void setExif(const QString& key, bool media, bool keep, bool sync);
    // Rewrites the exceptions of the notification preference and sends it.
    void editExceptions(const QString& dialogId, const QVariantMap* entry);

    KeyValueTable m_table;
    ExifSync m_exifSync;
    NotifySync m_notifySync;
    // Served from memory: the value is large enough (every muted-group exception) that
    // parsing or writing its JSON belongs off the main thread.
    mutable QMutex m_notifyMutex;
    QVariantMap m_notifyConfig;
};

// The device list for the devices screen: one row per device, current device first as the
// server lists it.
class HOST_EXPORT RefAccountDeviceModel : public AccountDeviceModel {
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(int deleteTimer READ deleteTimer NOTIFY deleteTimerChanged)
public:
    enum Role {
        IdRole = Qt::UserRole + 1,
        NameRole,
        PlatformRole,
        AppVersionRole,
        LastActiveRole,
        CurrentRole,
        LocationRole
    };
    struct Device {
        int id = 0;
        QString name;
        QString platform;
        QString appVersion;
        qint64 lastActive = 0;
        bool current = false;
        QString location;
    };

    using AccountDeviceModel::AccountDeviceModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    void setDeviceList(const im::user::ListDevicesResp& resp) override;
    void removeDevices(const QVariantList& deviceIds) override;
    void setDeviceDeleteTimer(int timerType) override;

    int count() const { return int(m_devices.size()); }
    int deleteTimer() const { return m_deleteTimer; }
    QList<Device> devices() const { return m_devices; }

signals:
    void countChanged();
    void deleteTimerChanged();

private:
    QList<Device> m_devices;
    int m_deleteTimer = 0;
};
