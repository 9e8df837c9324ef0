#pragma once

#include "accountcomposition.h"
#include "host/storage.h"
#include "refaccount.h"

#include <QAbstractListModel>
#include <QObject>
#include <QPointer>
#include <QStringList>

class SimServer;
class Transport;
class SettingServiceCmd;
class PrivacyModel;
class SharedPreferenceModel;
class AccountDeviceModel;
class WallpaperItem;

// The rows of a device's preference table, as its database holds them.
class PreferenceTable : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
public:
    enum Role { KeyRole = Qt::UserRole + 1, TypeRole, ValueRole, VersionRole, UnappliedRole };
    using QAbstractListModel::QAbstractListModel;
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;
    int count() const { return int(m_rows.size()); }
    void setRows(const QList<storage::SharedPreferenceInfo>& rows);

signals:
    void countChanged();

private:
    QList<storage::SharedPreferenceInfo> m_rows;
};

// One device of the user: a reference account on the simulated server with the module's
// models, made by the account composition. QML and scenarios reach the models by the names of
// the account's getters.
class DemoDevice : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString name READ name CONSTANT)
    Q_PROPERTY(int deviceId READ deviceId CONSTANT)
    Q_PROPERTY(RefAccount* account READ account NOTIFY sessionChanged)
    Q_PROPERTY(QObject* settingServiceCmd READ settingServiceCmdObject NOTIFY sessionChanged)
    Q_PROPERTY(QObject* privacyModel READ privacyModelObject NOTIFY sessionChanged)
    Q_PROPERTY(QObject* sharedPreference READ sharedPreferenceObject NOTIFY sessionChanged)
    Q_PROPERTY(QObject* deviceModel READ deviceModelObject NOTIFY sessionChanged)
    Q_PROPERTY(QObject* ringtoneManager READ ringtoneManagerObject NOTIFY sessionChanged)
    Q_PROPERTY(QObject* groupMutedSettingModel READ groupMutedSettingModelObject NOTIFY sessionChanged)
    Q_PROPERTY(QObject* wallpaperHandler READ wallpaperHandlerObject NOTIFY sessionChanged)
    Q_PROPERTY(QObject* themeHandler READ themeHandlerObject NOTIFY sessionChanged)
    Q_PROPERTY(QObject* recentEmoji READ recentEmojiObject NOTIFY sessionChanged)
    Q_PROPERTY(QObject* recentReactions READ recentReactionsObject NOTIFY sessionChanged)
    Q_PROPERTY(QObject* statusShortCut READ statusShortCutObject NOTIFY sessionChanged)
    Q_PROPERTY(QObject* alternativeProfilePhoto READ alternativeProfilePhotoObject NOTIFY sessionChanged)
    Q_PROPERTY(PreferenceTable* preferences READ preferences CONSTANT)
    Q_PROPERTY(bool online READ online WRITE setOnline NOTIFY onlineChanged)
    Q_PROPERTY(qint64 clockSkew READ clockSkew WRITE setClockSkew NOTIFY clockSkewChanged)
    Q_PROPERTY(QStringList errors READ errors NOTIFY errorsChanged)
    // What the screen shows: newest first, each {"id", "text", "failure"}, until dismissed.
    Q_PROPERTY(QVariantList messages READ messages NOTIFY errorsChanged)
    Q_PROPERTY(bool ready READ ready NOTIFY readyChanged)
    // Another device signed this one out: its data is gone from here until signIn.
    Q_PROPERTY(bool signedOut READ signedOut NOTIFY sessionChanged)
    // The people, groups, chats and chat tags this device knows, each a list of maps: people
    // {"id", "name"}, groups {"id", "name", "dialogId"}, chats {"dialogId", "name", "group"},
    // tags {"id", "name"}. The same for every session.
    Q_PROPERTY(QVariantList people READ people CONSTANT)
    Q_PROPERTY(QVariantList groups READ groups CONSTANT)
    Q_PROPERTY(QVariantList chats READ chats CONSTANT)
    Q_PROPERTY(QVariantList dialogTags READ dialogTags CONSTANT)
    // The stickers of the pack the server serves to everyone: {"pid", "name"}. None with a server
    // process: the pack is the in-process server's, its key known to this process only.
    Q_PROPERTY(QVariantList stickers READ stickersServed CONSTANT)
public:
    // Makes the transport of each new session.
    using Connector = std::function<std::unique_ptr<Transport>()>;

    // A device of the in-process simulated server.
    DemoDevice(const QString& name, int deviceId, const QString& dataDir, SimServer* server,
               std::function<qint64()> worldClock, QObject* parent = nullptr);
    // A device of a server elsewhere (the server process): its online state follows the
    // connection.
    DemoDevice(const QString& name, int deviceId, const QString& dataDir, Connector connector,
               std::function<qint64()> worldClock, QObject* parent = nullptr);
    ~DemoDevice() override;

    QString name() const { return m_name; }
    int deviceId() const { return m_deviceId; }
    RefAccount* account() const { return m_account; }
    AccountComposition* composition() const { return m_composition; }
    SettingServiceCmd* settingServiceCmd() const { return m_composition->settingServiceCmd(); }
    PrivacyModel* privacyModel() const { return m_composition->privacyModel(); }
    SharedPreferenceModel* sharedPreference() const { return m_composition->sharedPreference(); }
    QObject* settingServiceCmdObject() const;
    QObject* privacyModelObject() const;
    QObject* sharedPreferenceObject() const;
    QObject* deviceModelObject() const;
    QObject* ringtoneManagerObject() const;
    QObject* groupMutedSettingModelObject() const;
    QObject* wallpaperHandlerObject() const;
    QObject* themeHandlerObject() const;
    QObject* recentEmojiObject() const;
    QObject* recentReactionsObject() const;
    QObject* statusShortCutObject() const;
    QObject* alternativeProfilePhotoObject() const;
    PreferenceTable* preferences() const { return m_table; }
    bool online() const;
    void setOnline(bool online);
    qint64 clockSkew() const { return m_clockSkew; }
    void setClockSkew(qint64 skew);
    // Every message the account's user was given, oldest first (the scenario checks these).
    QStringList errors() const { return m_errors; }
    QVariantList messages() const { return m_messages; }
    Q_INVOKABLE void dismissMessage(int id);
    bool ready() const { return m_ready; }

    bool signedOut() const { return m_account->isSignedOut(); }
    // A new session for a device signed out: a fresh account that loads from the server, in
    // dataDir when given (else where the last one was).
    Q_INVOKABLE void signIn(const QString& dataDir = QString());

    // Starts the account the way a host does: local copies first, then the server.
    void start();
    // Signs the account out: every model lets go of its data.
    void stop();

    // The synchronised value of a preference key, as text.
    Q_INVOKABLE QString preference(const QString& key) const;
    // Writes a preference through the store's general write (stored here, then sent).
    Q_INVOKABLE void writePreference(int type, const QString& key, const QString& value);
    Q_INVOKABLE void refreshPreferences();
    // Asks the server what changed, as the host does when a device comes back.
    Q_INVOKABLE void sync();
    Q_INVOKABLE void clearErrors();
    // The file ids of the custom ringtones, in list order.
    Q_INVOKABLE QStringList customRingtoneIds() const;
    // Whether a chat's notifications are silenced.
    Q_INVOKABLE bool chatSilent(const QString& dialogId) const;
    // A chat's name as the chat list shows it.
    Q_INVOKABLE QString chatName(const QString& dialogId) const;
    // A chat as the account knows it, with its look as the server holds it (themeId, wallpaper).
    Q_INVOKABLE QObject* chat(const QString& dialogId) const;
    // A chat's own wallpaper as an item QML can draw, or null when it has none.
    Q_INVOKABLE QObject* chatWallpaper(const QString& dialogId);
    // Every emoji of the host's emoji table, in its order: the names themes may take.
    Q_INVOKABLE static QStringList emojiTable();
    // Puts the sticker pack on the server (its images, encrypted, readable by everyone); once,
    // before devices ask for stickers.
    static void publishStickers(SimServer* server);
    static QVariantList stickers();
    QVariantList stickersServed() const { return m_server ? stickers() : QVariantList(); }
    // Where a status shortcut's sticker (a StickerItem) can be read, empty until it is here.
    Q_INVOKABLE QString stickerImage(QObject* sticker) const;
    static QVariantList people();
    static QVariantList groups();
    static QVariantList chats();
    static QVariantList dialogTags();
    // The wallpapers' ids in list order, all of them or the user's own.
    Q_INVOKABLE QStringList wallpaperIds(bool ownOnly) const;
    // Whether a wallpaper's full image is on this device.
    Q_INVOKABLE bool wallpaperImageHere(const QString& id) const;
    // How many wallpapers wait for another upload attempt.
    Q_INVOKABLE int failedWallpaperUploads() const;
    // The user's own themes by name, newest first.
    Q_INVOKABLE QStringList customThemeNames() const;
    // Whether the light wallpaper image of the theme of that name is on this device.
    Q_INVOKABLE bool themeImageHere(const QString& name) const;
    // Adds an alternative profile photo drawn in that colour.
    Q_INVOKABLE void addAlternativePhoto(const QString& color);
    // Writes the status shortcuts: one per description, with the emoji of the same place.
    Q_INVOKABLE void writeStatusShortcuts(const QStringList& descriptions, const QStringList& emoji);
    // Writes the status shortcuts as given, in order: maps with "desc", "emoji", "time" and
    // either "sticker" (a shortcut's StickerItem, kept) or "stickerPid" (one of `stickers`).
    Q_INVOKABLE void writeStatusShortcutEntries(const QVariantList& entries);
    // Adds an alternative profile photo from an image file: a worker crops it square and writes
    // the two sizes the list takes; a file that is not a picture is said, and nothing is added.
    Q_INVOKABLE void addAlternativePhotoFromFile(const QString& path);

signals:
    void onlineChanged();
    void clockSkewChanged();
    void errorsChanged();
    void readyChanged();
    // A new account and models (signed in again), or the session ended.
    void sessionChanged();

private:
    // The account of one session with its models, wired to this device.
    void makeSession();
    // Gives the session's account the people, groups and chats of the directory.
    void seedDirectory();
    // A new account and models in place of the present ones, which go once the screens moved.
    void renewSession();

    QString m_name;
    int m_deviceId;
    QString m_dataDir;
    // Null for a server elsewhere.
    SimServer* m_server = nullptr;
    Connector m_connector;
    std::function<qint64()> m_worldClock;
    RefAccount* m_account = nullptr;
    AccountComposition* m_composition = nullptr;
    PreferenceTable* m_table;
    qint64 m_clockSkew = 0;
    void addMessage(const QString& text, bool failure);

    // The items drawn for chats' wallpapers, by chat, with the bytes each was made from.
    QHash<QString, std::pair<QByteArray, QPointer<WallpaperItem>>> m_chatWallpapers;
    QStringList m_errors;
    QVariantList m_messages;
    int m_nextMessageId = 1;
    bool m_ready = false;
};
