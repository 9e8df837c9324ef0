#pragma once

#include "host/storage.h"
#include "sqlitedatabase.h"

#include <QHash>
#include <QMutex>

#include <functional>
#include <memory>

namespace storage {

class HOST_EXPORT SqliteSharedPreferenceStorage : public SharedPreferenceStorage {
public:
    explicit SqliteSharedPreferenceStorage(std::shared_ptr<SqliteDatabase> db) : m_db(std::move(db)) {}
    bool save(const SharedPreferenceInfo& info) override;
    bool save(const QList<SharedPreferenceInfo>& infos) override;
    bool remove(const QString& key, int type) override;
    bool remove(const QMultiHash<QString, int>& keyTypes) override;
    QList<SharedPreferenceInfo> allInfos() override;
    SharedPreferenceInfo info(const QString& key, int type) override;
    bool settle(const QString& key, int type, qint64 version) override;

private:
    std::shared_ptr<SqliteDatabase> m_db;
};

class HOST_EXPORT SqliteWallpaperStorage : public WallpaperStorage {
public:
    explicit SqliteWallpaperStorage(std::shared_ptr<SqliteDatabase> db) : m_db(std::move(db)) {}
    bool save(const WallpaperInfo& info) override;
    bool save(const QList<WallpaperInfo>& infos) override;
    bool remove(const QString& id) override;
    bool remove(const QStringList& ids) override;
    bool removeAll() override;
    QList<WallpaperInfo> allInfos() override;
    WallpaperInfo info(const QString& id) override;

private:
    std::shared_ptr<SqliteDatabase> m_db;
};

class HOST_EXPORT SqliteCacheFileStorage : public CacheFileStorage {
public:
    explicit SqliteCacheFileStorage(std::shared_ptr<SqliteDatabase> db) : m_db(std::move(db)) {}
    bool updateTimestamp(const QStringList& fileIds, qint64 time) override;
    // When a cached file was last used, 0 when never.
    qint64 lastUsed(const QString& fileId);

private:
    std::shared_ptr<SqliteDatabase> m_db;
};

class HOST_EXPORT SqliteStorageProvider : public UserStorageProvider {
public:
    explicit SqliteStorageProvider(std::shared_ptr<SqliteDatabase> db);
    WallpaperStorage* wallpaperStorage() override { return &m_wallpapers; }
    SharedPreferenceStorage* sharedPreferenceStorage() override { return &m_preferences; }
    CacheFileStorage* cacheFileStorage() override { return &m_cacheFiles; }

private:
    SqliteWallpaperStorage m_wallpapers;
    SqliteSharedPreferenceStorage m_preferences;
    SqliteCacheFileStorage m_cacheFiles;
};

} // namespace storage

// A key/blob table served from memory once loaded: reads never touch the database, writes
// update memory at once and persist on the storage thread.
class HOST_EXPORT KeyValueTable {
public:
    KeyValueTable(std::shared_ptr<SqliteDatabase> db, QString table);

    // Reads every row; call on the storage thread, then hand the result to prime.
    QHash<QString, QByteArray> readAll() const;
    void prime(const QHash<QString, QByteArray>& rows);

    QByteArray value(const QString& key) const;
    void setValue(const QString& key, const QByteArray& value);
    // The value is made on the storage thread, for values costly to serialise.
    void setValueLater(const QString& key, std::function<QByteArray()> make);

private:
    // remember: the table's memory takes the value once it is made.
    void persist(const QString& key, std::function<QByteArray()> make, bool remember);

    std::shared_ptr<SqliteDatabase> m_db;
    QString m_table;
    mutable QMutex m_mutex;
    QHash<QString, QByteArray> m_rows;
};
