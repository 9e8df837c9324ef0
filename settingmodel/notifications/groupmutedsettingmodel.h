#pragma once

#include "generation.h"
#include "host/modelbase.h"
#include "notifications/ringtonesetting.h"
#include "settingmodel_global.h"

#include <QAbstractListModel>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QSharedPointer>
#include <QThreadPool>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

#include <atomic>
#include <functional>
#include <optional>

class AccountBase;

// The muted groups that still notify of replies, mentions or mentions of everyone, with a
// search over the groups' names. The server's copy is the account's notification preference;
// edits go to the account's settings, which write that preference. Exceptions an older client
// kept inside per-chat ringtone maps are migrated in.
class SETTINGMODEL_EXPORT GroupMutedSettingModel : public QAbstractListModel, public ModelBase {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("GroupMutedSettingModel is made by the module")
    Q_PROPERTY(int count READ count NOTIFY countChanged)
public:
    enum Role { ItemRole = Qt::UserRole + 1 };

    explicit GroupMutedSettingModel(AccountBase* account);
    ~GroupMutedSettingModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    Q_INVOKABLE void updateGroupNotification(const QString& dialogId, bool reply, bool at, bool atAll);
    // False when the chat has no exception, and with sync false.
    Q_INVOKABLE bool deleteGroupNotification(const QString& dialogId, bool sync);
    Q_INVOKABLE void search(const QString& text);
    Q_INVOKABLE void searchFinish();
    Q_INVOKABLE GroupMutedSetting* mutedSetting(const QList<GroupMutedSetting*>& settings,
                                                const QString& dialogId) const;
    Q_INVOKABLE GroupMutedSetting* mutedSetting(const QString& dialogId) const;

    // Every exception's object: makes those nobody asked for yet (on this model's thread).
    QList<GroupMutedSetting*> settings() const;
    int count() const;
    bool isLoaded() const;
    QString searchText() const { return m_searchText; }

    // A notification map with its version; a newer one rebuilds the list when flush is set and
    // the list has loaded.
    void updateSettings(const QVariantMap& map, qint64 time, bool flush);
    // Rebuilds the list from the last notification map and the older clients' maps, and sets
    // loaded. Objects still listed are kept (with the new flags); the others are deleted once the
    // interface has seen the reset.
    void flushSettings();
    // An older client's exception, from a chat's ringtone map.
    void udpateFromOldVer(const QString& dialogId, const QVariantMap& map, qint64 time);
    void addOldLocalSetting(const QString& dialogId, const QVariantMap& map, qint64 time);

    void initConnection() override;
    void initData() override;
    bool loadLocalData(bool alreadyLoaded) override;
    bool prepareToClearData(bool force) override;
    bool clearData(bool force) override;

signals:
    void countChanged();

private:
    // An exception of an older client's chat map: written to the notification preference when it
    // changed the list (time >= 0), and the chat map's old flags stripped.
    void migrate(const QString& dialogId, bool reply, bool at, bool atAll, qint64 time);
    // One group's exception as the notification value holds it.
    struct Exception {
        QString dialogId;
        bool reply = true;
        bool at = true;
        bool atAll = true;
    };
    using Exceptions = QList<Exception>;
    // A notification value read off this thread; the whole map only when asked for.
    struct Parsed {
        Exceptions exceptions;
        QVariantMap map;
    };
    // One row: a plain record, with its GroupMutedSetting made only when someone asks for it
    // (thousands of objects, each with a connection to its chat, cost several times the list).
    struct Entry {
        QString dialogId;
        qint64 time = 0;
        QWeakPointer<DialogBase> dialog;
        bool reply = true;
        bool at = true;
        bool atAll = true;
    };
    static Exceptions exceptionsOf(const QJsonObject& notification);
    // Nothing when the value is not a JSON object; an empty value is an empty setting.
    static std::optional<Parsed> parse(const QByteArray& value, bool withMap);
    void updateExceptions(const Exceptions& exceptions, qint64 time, bool flush);
    // Sets an entry's flags, and its object's when it has one.
    void setEntry(const QString& dialogId, qint64 time, bool reply, bool at, bool atAll);
    // The object of a listed chat, made on this thread when first asked for; null otherwise.
    GroupMutedSetting* objectOf(const QString& dialogId) const;
    void setLocally(const QString& dialogId, bool reply, bool at, bool atAll, qint64 time);
    // Parses a notification value off this thread, then hands the map back here; values are
    // handed back in the order they came, and one no newer than the last read is not read again.
    void parseThen(const QByteArray& value, qint64 version, bool withMap,
                   std::function<void(const Parsed& parsed)> apply);
    // The stored notification value (nothing when there is none that reads), then the first list.
    void showFirst(const std::optional<Parsed>& parsed, qint64 version);
    void addNewSetting(const QString& dialogId, bool reply, bool at, bool atAll, qint64 time);
    // Under m_lock.
    bool showsLocked(const Entry& entry) const;
    void filterLocked();
    int rowOfLocked(int index) const;
    int indexOfRowLocked(int row) const;

    AccountBase* m_account;
    mutable QMutex m_lock; // the entries, the shown rows and the pending maps
    QList<Entry> m_entries;
    QHash<QString, int> m_index; // chat id -> its entry
    QList<int> m_shown;          // the entries shown while searching
    mutable QHash<QString, GroupMutedSetting*> m_objects;
    QHash<QString, QVariantMap> m_pending;
    qint64 m_updateTime = 0;
    QString m_searchText;
    Exceptions m_exceptions;
    bool m_loaded = false;
    QThreadPool m_parser;                    // one thread: first in, first out
    std::atomic<qint64> m_parsedVersion = 0; // the newest value the parser read
    Generation m_generation;                 // a row read before a sign-out is dropped
};
