#include "sqlitestorage.h"

#include "host/threadmanager.h"

#include <QLoggingCategory>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

Q_DECLARE_LOGGING_CATEGORY(lcHostDb)

namespace {

bool run(QSqlQuery& query)
{
    if (query.exec())
        return true;
    qCWarning(lcHostDb) << "sql failed:" << query.lastQuery() << query.lastError().text();
    return false;
}

bool prepare(QSqlQuery& query, const QString& sql)
{
    if (query.prepare(sql))
        return true;
    qCWarning(lcHostDb) << "prepare failed:" << sql << query.lastError().text();
    return false;
}

bool forEach(QSqlDatabase& db, const QString& sql, const std::function<void(QSqlQuery&)>& row)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!prepare(query, sql) || !run(query))
        return false;
    while (query.next())
        row(query);
    return true;
}

const QString kPreferenceColumns =
    QStringLiteral("SELECT key, value, type, unapplied, version, spare, pending FROM shared_preference");

storage::SharedPreferenceInfo preferenceRow(const QSqlQuery& q)
{
    return {q.value(0).toString(),   q.value(1).toByteArray(), q.value(2).toInt(), q.value(3).toInt(),
            q.value(4).toLongLong(), q.value(5).toByteArray(), q.value(6).toInt()};
}

} // namespace

namespace storage {

bool SqliteSharedPreferenceStorage::save(const SharedPreferenceInfo& info)
{
    return save(QList<SharedPreferenceInfo>{info});
}

bool SqliteSharedPreferenceStorage::save(const QList<SharedPreferenceInfo>& infos)
{
    if (infos.isEmpty())
        return true;
    return m_db->write([infos](QSqlDatabase& db) {
        QSqlQuery query(db);
        if (!prepare(query,
                     QStringLiteral("INSERT INTO shared_preference (key, type, value, unapplied,"
                                    " version, spare, pending) VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT"
                                    " (key, type) DO UPDATE SET value = excluded.value, unapplied ="
                                    " excluded.unapplied, version = excluded.version, spare ="
                                    " excluded.spare, pending = excluded.pending")))
            return false;
        for (const SharedPreferenceInfo& info : infos) {
            query.bindValue(0, info.key);
            query.bindValue(1, info.type);
            query.bindValue(2, info.value);
            query.bindValue(3, info.unapplied);
            query.bindValue(4, info.version);
            query.bindValue(5, info.spare);
            query.bindValue(6, info.pending);
            if (!run(query))
                return false;
        }
        return true;
    });
}

bool SqliteSharedPreferenceStorage::remove(const QString& key, int type)
{
    QMultiHash<QString, int> one;
    one.insert(key, type);
    return remove(one);
}

bool SqliteSharedPreferenceStorage::remove(const QMultiHash<QString, int>& keyTypes)
{
    if (keyTypes.isEmpty())
        return true;
    return m_db->write([keyTypes](QSqlDatabase& db) {
        QSqlQuery query(db);
        if (!prepare(query, QStringLiteral("DELETE FROM shared_preference WHERE key = ? AND type = ?")))
            return false;
        for (auto it = keyTypes.cbegin(); it != keyTypes.cend(); ++it) {
            query.bindValue(0, it.key());
            query.bindValue(1, it.value());
            if (!run(query))
                return false;
        }
        return true;
    });
}

QList<SharedPreferenceInfo> SqliteSharedPreferenceStorage::allInfos()
{
    QList<SharedPreferenceInfo> infos;
    m_db->read([&infos](QSqlDatabase& db) {
        return forEach(db, kPreferenceColumns + QStringLiteral(" ORDER BY rowid"),
                       [&infos](QSqlQuery& q) { infos.append(preferenceRow(q)); });
    });
    return infos;
}

SharedPreferenceInfo SqliteSharedPreferenceStorage::info(const QString& key, int type)
{
    SharedPreferenceInfo info;
    m_db->read([&](QSqlDatabase& db) {
        QSqlQuery query(db);
        if (!prepare(query, kPreferenceColumns + QStringLiteral(" WHERE key = ? AND type = ?")))
            return false;
        query.bindValue(0, key);
        query.bindValue(1, type);
        if (!run(query))
            return false;
        if (query.next())
            info = preferenceRow(query);
        return true;
    });
    return info;
}

bool SqliteSharedPreferenceStorage::settle(const QString& key, int type, qint64 version)
{
    return m_db->write([key, type, version](QSqlDatabase& db) {
        for (const QString& sql :
             {QStringLiteral("DELETE FROM shared_preference WHERE key = ? AND type = ? AND"
                             " version = ? AND pending <> 0 AND (value IS NULL OR length(value) = 0)"),
              QStringLiteral("UPDATE shared_preference SET pending = 0 WHERE key = ? AND"
                             " type = ? AND version = ? AND pending <> 0")}) {
            QSqlQuery query(db);
            if (!prepare(query, sql))
                return false;
            query.bindValue(0, key);
            query.bindValue(1, type);
            query.bindValue(2, version);
            if (!run(query))
                return false;
        }
        return true;
    });
}

bool SqliteWallpaperStorage::save(const WallpaperInfo& info)
{
    return save(QList<WallpaperInfo>{info});
}

bool SqliteWallpaperStorage::save(const QList<WallpaperInfo>& infos)
{
    if (infos.isEmpty())
        return true;
    return m_db->write([infos](QSqlDatabase& db) {
        QSqlQuery query(db);
        if (!prepare(query,
                     QStringLiteral("INSERT INTO wallpaper (id, data, synced, time) VALUES (?, ?, ?, ?)"
                                    " ON CONFLICT (id) DO UPDATE SET data = excluded.data, synced ="
                                    " excluded.synced, time = excluded.time")))
            return false;
        for (const WallpaperInfo& info : infos) {
            query.bindValue(0, info.id);
            query.bindValue(1, info.data);
            query.bindValue(2, info.synced ? 1 : 0);
            query.bindValue(3, info.time);
            if (!run(query))
                return false;
        }
        return true;
    });
}

bool SqliteWallpaperStorage::remove(const QString& id)
{
    return remove(QStringList{id});
}

bool SqliteWallpaperStorage::remove(const QStringList& ids)
{
    if (ids.isEmpty())
        return true;
    return m_db->write([ids](QSqlDatabase& db) {
        QSqlQuery query(db);
        if (!prepare(query, QStringLiteral("DELETE FROM wallpaper WHERE id = ?")))
            return false;
        for (const QString& id : ids) {
            query.bindValue(0, id);
            if (!run(query))
                return false;
        }
        return true;
    });
}

bool SqliteWallpaperStorage::removeAll()
{
    return m_db->write([](QSqlDatabase& db) {
        QSqlQuery query(db);
        return prepare(query, QStringLiteral("DELETE FROM wallpaper")) && run(query);
    });
}

QList<WallpaperInfo> SqliteWallpaperStorage::allInfos()
{
    QList<WallpaperInfo> infos;
    m_db->read([&infos](QSqlDatabase& db) {
        return forEach(db, QStringLiteral("SELECT id, data, synced, time FROM wallpaper ORDER BY rowid"),
                       [&infos](QSqlQuery& q) {
                           infos.append({q.value(0).toString(), q.value(1).toByteArray(),
                                         q.value(2).toInt() != 0, q.value(3).toLongLong()});
                       });
    });
    return infos;
}

WallpaperInfo SqliteWallpaperStorage::info(const QString& id)
{
    WallpaperInfo info;
    m_db->read([&info, &id](QSqlDatabase& db) {
        QSqlQuery query(db);
        if (!prepare(query, QStringLiteral("SELECT id, data, synced, time FROM wallpaper WHERE id = ?")))
            return false;
        query.bindValue(0, id);
        if (!run(query))
            return false;
        if (query.next())
            info = {query.value(0).toString(), query.value(1).toByteArray(), query.value(2).toInt() != 0,
                    query.value(3).toLongLong()};
        return true;
    });
    return info;
}

bool SqliteCacheFileStorage::updateTimestamp(const QStringList& fileIds, qint64 time)
{
    if (fileIds.isEmpty())
        return true;
    return m_db->write([fileIds, time](QSqlDatabase& db) {
        QSqlQuery query(db);
        if (!prepare(query, QStringLiteral("INSERT OR REPLACE INTO cache_file (file_id, used_at)"
                                           " VALUES (?, ?)")))
            return false;
        for (const QString& id : fileIds) {
            query.bindValue(0, id);
            query.bindValue(1, time);
            if (!run(query))
                return false;
        }
        return true;
    });
}

qint64 SqliteCacheFileStorage::lastUsed(const QString& fileId)
{
    qint64 usedAt = 0;
    m_db->read([&usedAt, &fileId](QSqlDatabase& db) {
        QSqlQuery query(db);
        if (!prepare(query, QStringLiteral("SELECT used_at FROM cache_file WHERE file_id = ?")))
            return false;
        query.bindValue(0, fileId);
        if (!run(query))
            return false;
        if (query.next())
            usedAt = query.value(0).toLongLong();
        return true;
    });
    return usedAt;
}

SqliteStorageProvider::SqliteStorageProvider(std::shared_ptr<SqliteDatabase> db)
    : m_wallpapers(db),
      m_preferences(db),
      m_cacheFiles(db)
{
}

} // namespace storage

KeyValueTable::KeyValueTable(std::shared_ptr<SqliteDatabase> db, QString table)
    : m_db(std::move(db)),
      m_table(std::move(table))
{
}

QHash<QString, QByteArray> KeyValueTable::readAll() const
{
    QHash<QString, QByteArray> rows;
    m_db->read([this, &rows](QSqlDatabase& db) {
        return forEach(db, QStringLiteral("SELECT key, value FROM %1").arg(m_table), [&rows](QSqlQuery& q) {
            rows.insert(q.value(0).toString(), q.value(1).toByteArray());
        });
    });
    return rows;
}

void KeyValueTable::prime(const QHash<QString, QByteArray>& rows)
{
    QMutexLocker lock(&m_mutex);
    // Values written before the table was loaded are newer than what the file held.
    for (auto it = rows.cbegin(); it != rows.cend(); ++it) {
        if (!m_rows.contains(it.key()))
            m_rows.insert(it.key(), it.value());
    }
}

QByteArray KeyValueTable::value(const QString& key) const
{
    QMutexLocker lock(&m_mutex);
    return m_rows.value(key);
}

void KeyValueTable::setValue(const QString& key, const QByteArray& value)
{
    {
        QMutexLocker lock(&m_mutex);
        m_rows.insert(key, value);
    }
    persist(
        key, [value] { return value; }, false);
}

void KeyValueTable::setValueLater(const QString& key, std::function<QByteArray()> make)
{
    persist(key, std::move(make), true);
}

void KeyValueTable::persist(const QString& key, std::function<QByteArray()> make, bool remember)
{
    ThreadManager::getInstance()->invoke(
        [this, db = m_db, table = m_table, key, make = std::move(make), remember] {
            const QByteArray value = make();
            if (remember) {
                QMutexLocker lock(&m_mutex);
                m_rows.insert(key, value);
            }
            db->write([table, key, value](QSqlDatabase& conn) {
                QSqlQuery query(conn);
                if (!prepare(
                        query,
                        QStringLiteral("INSERT OR REPLACE INTO %1 (key, value) VALUES (?, ?)").arg(table)))
                    return false;
                query.bindValue(0, key);
                query.bindValue(1, value);
                return run(query);
            });
        },
        ThreadManager::onMainThread());
}
