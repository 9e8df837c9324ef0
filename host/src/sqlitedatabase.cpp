#include "sqlitedatabase.h"

#include "host/threadmanager.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUrl>

#include <iterator>

Q_LOGGING_CATEGORY(lcHostDb, "im.host.db")

namespace {

QString uniqueConnectionName(const QString& prefix)
{
    static QAtomicInteger<quint64> counter;
    return QStringLiteral("%1#%2").arg(prefix).arg(counter.fetchAndAddRelaxed(1));
}

bool exec(QSqlQuery& query, const QString& sql)
{
    if (query.exec(sql))
        return true;
    qCWarning(lcHostDb) << "sql failed:" << sql << query.lastError().text();
    return false;
}

// Each step brings the schema from version (index) to version (index + 1).
const char* const kMigrations[][6] = {
    {
        "CREATE TABLE shared_preference (key TEXT NOT NULL, type INTEGER NOT NULL, value BLOB,"
        " unapplied INTEGER NOT NULL DEFAULT 0, version INTEGER NOT NULL DEFAULT 0, spare BLOB,"
        " PRIMARY KEY (key, type))",
        "CREATE TABLE wallpaper (id TEXT PRIMARY KEY NOT NULL, data BLOB, synced INTEGER NOT NULL"
        " DEFAULT 0, time INTEGER NOT NULL DEFAULT 0)",
        "CREATE TABLE cache_file (file_id TEXT PRIMARY KEY NOT NULL, used_at INTEGER NOT NULL)",
        "CREATE TABLE data_info (key TEXT PRIMARY KEY NOT NULL, value BLOB)",
        "CREATE TABLE account_setting (key TEXT PRIMARY KEY NOT NULL, value BLOB)",
        nullptr,
    },
    {
        "CREATE TABLE file_record (file_id TEXT PRIMARY KEY NOT NULL, path TEXT, cache_path TEXT,"
        " aes_key BLOB, md5 TEXT, size INTEGER NOT NULL DEFAULT 0, name TEXT, file_type INTEGER NOT NULL"
        " DEFAULT 0, source_type INTEGER NOT NULL DEFAULT 0, uploaded INTEGER NOT NULL DEFAULT 0)",
        nullptr,
    },
    {
        "ALTER TABLE shared_preference ADD COLUMN pending INTEGER NOT NULL DEFAULT 0",
        nullptr,
    },
};
static_assert(std::size(kMigrations) == SqliteDatabase::kSchemaVersion);

} // namespace

QString SqliteDatabase::memoryLocation(const QString& name)
{
    static QAtomicInteger<quint64> counter;
    return QStringLiteral("file:%1-%2?mode=memory&cache=shared")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(name)))
        .arg(counter.fetchAndAddRelaxed(1));
}

SqliteDatabase::SqliteDatabase(const QString& path)
    : m_path(path),
      m_inMemory(path.startsWith(QLatin1String("file:")) && path.contains(QLatin1String("mode=memory"))),
      m_storageConnection(uniqueConnectionName(QStringLiteral("storage:") + path))
{
    if (!m_inMemory)
        QDir().mkpath(QFileInfo(path).absolutePath());
}

SqliteDatabase::~SqliteDatabase()
{
    // Close the storage thread's connection after the work already posted for this file.
    const QString name = m_storageConnection;
    auto* threads = ThreadManager::getInstance();
    if (threads->isStorageThread()) {
        QSqlDatabase::removeDatabase(name);
        return;
    }
    threads->invoke([name] { QSqlDatabase::removeDatabase(name); }, false);
    threads->waitForIdle();
}

bool SqliteDatabase::write(const std::function<bool(QSqlDatabase&)>& work)
{
    return withConnection([&work](QSqlDatabase& db) {
        if (!db.transaction()) {
            qCWarning(lcHostDb) << "begin failed:" << db.lastError().text();
            return false;
        }
        if (!work(db)) {
            db.rollback();
            return false;
        }
        if (db.commit())
            return true;
        qCWarning(lcHostDb) << "commit failed:" << db.lastError().text();
        db.rollback();
        return false;
    });
}

bool SqliteDatabase::read(const std::function<bool(QSqlDatabase&)>& work)
{
    return withConnection(work);
}

int SqliteDatabase::schemaVersion()
{
    int version = -1;
    read([&version](QSqlDatabase& db) {
        QSqlQuery query(db);
        if (!exec(query, QStringLiteral("PRAGMA user_version")) || !query.next())
            return false;
        version = query.value(0).toInt();
        return true;
    });
    return version;
}

void SqliteDatabase::remove()
{
    m_removed = true;
    QSqlDatabase::removeDatabase(m_storageConnection);
    for (const QString& part : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(m_path + part);
    qCInfo(lcHostDb) << "removed" << m_path;
}

bool SqliteDatabase::withConnection(const std::function<bool(QSqlDatabase&)>& work)
{
    if (m_removed)
        return false;
    if (ThreadManager::getInstance()->isStorageThread()) {
        QSqlDatabase db = QSqlDatabase::database(m_storageConnection, false);
        if (!db.isValid()) {
            db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_storageConnection);
            if (!open(db)) {
                db = QSqlDatabase();
                QSqlDatabase::removeDatabase(m_storageConnection);
                return false;
            }
        }
        return work(db);
    }
    const QString name = uniqueConnectionName(m_path);
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        ok = open(db) && work(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

bool SqliteDatabase::open(QSqlDatabase& db)
{
    db.setDatabaseName(m_path);
    db.setConnectOptions(m_inMemory ? QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=5000")
                                    : QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open()) {
        qCWarning(lcHostDb) << "cannot open" << m_path << db.lastError().text();
        return false;
    }
    if (!m_inMemory) {
        // The first opening checks the file: a damaged one is set aside for a fresh one, and
        // the account reads its data from the server again.
        QMutexLocker lock(&m_migrateMutex);
        if (!std::exchange(m_checked, true) && !healthy(db)) {
            db.close();
            setAside();
            m_reset = true;
            if (!db.open()) {
                qCWarning(lcHostDb) << "cannot open a fresh" << m_path << db.lastError().text();
                return false;
            }
        }
    }
    QSqlQuery query(db);
    if (m_inMemory) {
        // Readers on other threads do not wait on the storage thread's writes; and the schema is
        // made again if the last connection closed (which drops a database in memory).
        QMutexLocker lock(&m_migrateMutex);
        return exec(query, QStringLiteral("PRAGMA read_uncommitted=1")) && migrate(db);
    }
    if (!exec(query, QStringLiteral("PRAGMA journal_mode=WAL")) ||
        !exec(query, QStringLiteral("PRAGMA synchronous=NORMAL")))
        return false;
    QMutexLocker lock(&m_migrateMutex);
    if (!m_migrated)
        m_migrated = migrate(db);
    return m_migrated;
}

bool SqliteDatabase::healthy(QSqlDatabase& db)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA quick_check")) || !query.next()) {
        qCWarning(lcHostDb) << "the database does not pass its check:" << query.lastError().text();
        return false;
    }
    const QString result = query.value(0).toString();
    if (result == QLatin1String("ok"))
        return true;
    qCWarning(lcHostDb) << "the database is damaged:" << result;
    return false;
}

void SqliteDatabase::setAside()
{
    const QString suffix = QStringLiteral(".damaged-") +
                           QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    for (const QString& part : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
        if (QFile::exists(m_path + part) && !QFile::rename(m_path + part, m_path + suffix + part))
            QFile::remove(m_path + part);
    }
    qCWarning(lcHostDb) << "set aside" << m_path << "as" << m_path + suffix << "; a fresh one is made";
}

bool SqliteDatabase::migrate(QSqlDatabase& db)
{
    QSqlQuery query(db);
    if (!exec(query, QStringLiteral("PRAGMA user_version")) || !query.next())
        return false;
    const int from = query.value(0).toInt();
    if (from > kSchemaVersion) {
        qCWarning(lcHostDb) << m_path << "has schema" << from << "newer than" << kSchemaVersion;
        return false;
    }
    for (int version = from; version < kSchemaVersion; ++version) {
        if (!db.transaction())
            return false;
        bool ok = true;
        for (const char* const* sql = kMigrations[version]; ok && *sql; ++sql)
            ok = exec(query, QString::fromLatin1(*sql));
        ok = ok && exec(query, QStringLiteral("PRAGMA user_version=%1").arg(version + 1));
        if (!ok || !db.commit()) {
            db.rollback();
            return false;
        }
    }
    return true;
}
