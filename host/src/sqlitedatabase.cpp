#include "sqlitedatabase.h"

#include "host/threadmanager.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUrl>

#include <iterator>

#include <sqlite3.h>

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

bool SqliteDatabase::write(Work work)
{
    ThreadManager* threads = ThreadManager::getInstance();
    const bool storageThread = threads->isStorageThread();
    // Behind held writes, a write waits its turn: the order of writes is the order of changes.
    if (storageThread && !m_held.empty() && !retryHeld()) {
        hold(std::move(work));
        return true;
    }
    int code = 0;
    if (transact(work, code))
        return true;
    if (!refusedByDisk(code))
        return false;
    qCWarning(lcHostDb) << "the disk refused a write to" << m_path << "(SQLite code" << code
                        << "); it is held and written again later";
    if (storageThread) {
        hold(std::move(work));
    } else {
        std::weak_ptr<SqliteDatabase> self = weak_from_this();
        threads->invoke(
            [self, work = std::move(work)] {
                if (auto db = self.lock())
                    db->write(work);
            },
            ThreadManager::onMainThread());
    }
    return true;
}

bool SqliteDatabase::transact(const Work& work, int& code)
{
    const int epoch = m_epoch;
    const bool ok = withConnection(
        [&work, &code](QSqlDatabase& db) {
            if (!db.transaction()) {
                code = errorCode(db);
                qCWarning(lcHostDb) << "begin failed:" << db.lastError().text();
                return false;
            }
            if (!work(db)) {
                code = errorCode(db);
                db.rollback();
                return false;
            }
            if (db.commit())
                return true;
            code = errorCode(db);
            qCWarning(lcHostDb) << "commit failed:" << db.lastError().text();
            db.rollback();
            return false;
        },
        &code);
    if (!ok)
        noteFailure(code, epoch);
    return ok;
}

int SqliteDatabase::errorCode(QSqlDatabase& db)
{
    const QVariant handle = db.driver()->handle();
    if (qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return SQLITE_ERROR;
    auto* connection = *static_cast<sqlite3* const*>(handle.constData());
    return connection ? sqlite3_extended_errcode(connection) : SQLITE_ERROR;
}

bool SqliteDatabase::refusedByDisk(int code)
{
    switch (code & 0xff) {
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN: return true;
    default: return false;
    }
}

void SqliteDatabase::hold(Work work)
{
    const bool first = m_held.empty();
    m_held.push_back(std::move(work));
    m_heldCount = int(m_held.size());
    if (first && m_heldHandler)
        m_heldHandler(true);
}

bool SqliteDatabase::retryHeld()
{
    if (m_held.empty())
        return true;
    while (!m_held.empty()) {
        int code = 0;
        if (!transact(m_held.front(), code) && refusedByDisk(code))
            return false;
        // Written, or failed for another reason (which no retry mends).
        m_held.pop_front();
        m_heldCount = int(m_held.size());
    }
    if (m_heldHandler)
        m_heldHandler(false);
    return true;
}

bool SqliteDatabase::read(const std::function<bool(QSqlDatabase&)>& work)
{
    const int epoch = m_epoch;
    int code = 0;
    const bool ok = withConnection(
        [&work, &code](QSqlDatabase& db) {
            if (work(db))
                return true;
            code = errorCode(db);
            return false;
        },
        &code);
    if (!ok)
        noteFailure(code, epoch);
    return ok;
}

void SqliteDatabase::noteFailure(int code, int epoch)
{
    const int primary = code & 0xff;
    if (m_inMemory || (primary != SQLITE_CORRUPT && primary != SQLITE_NOTADB))
        return;
    qCWarning(lcHostDb) << m_path << "is damaged (SQLite code" << code << ")";
    if (ThreadManager::getInstance()->isStorageThread()) {
        replaceDamaged(epoch);
        return;
    }
    std::weak_ptr<SqliteDatabase> self = weak_from_this();
    ThreadManager::getInstance()->invoke(
        [self, epoch] {
            if (auto db = self.lock())
                db->replaceDamaged(epoch);
        },
        ThreadManager::onMainThread());
}

void SqliteDatabase::replaceDamaged(int epoch)
{
    // Several calls may meet the same damage; the first sets the file aside.
    if (m_removed || !m_epoch.compare_exchange_strong(epoch, epoch + 1))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_storageConnection, false);
        QMutexLocker lock(&m_migrateMutex);
        if (db.isValid())
            m_carried = readPending(db);
        m_migrated = false;
    }
    QSqlDatabase::removeDatabase(m_storageConnection);
    setAside();
    m_reset = true;
    if (m_damageHandler)
        m_damageHandler();
}

QList<QVariantList> SqliteDatabase::readPending(QSqlDatabase& db)
{
    QList<QVariantList> rows;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT key, type, value, unapplied, version, spare, pending FROM"
                                   " shared_preference WHERE pending <> 0")))
        return rows;
    while (query.next()) {
        QVariantList row;
        for (int column = 0; column < 7; ++column)
            row.append(query.value(column));
        rows.append(row);
    }
    qCInfo(lcHostDb) << rows.size() << "edits waiting to be sent could be read from the damaged file";
    return rows;
}

bool SqliteDatabase::writeCarried(QSqlDatabase& db)
{
    if (m_carried.isEmpty())
        return true;
    QSqlQuery query(db);
    if (!db.transaction() ||
        !query.prepare(QStringLiteral("INSERT OR REPLACE INTO shared_preference (key, type,"
                                      " value, unapplied, version, spare, pending)"
                                      " VALUES (?, ?, ?, ?, ?, ?, ?)")))
        return false;
    for (const QVariantList& row : std::as_const(m_carried)) {
        for (int column = 0; column < row.size(); ++column)
            query.bindValue(column, row.at(column));
        if (!query.exec()) {
            qCWarning(lcHostDb) << "an edit could not be carried over:" << query.lastError().text();
            db.rollback();
            return false;
        }
    }
    m_carried.clear();
    return db.commit();
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

bool SqliteDatabase::withConnection(const std::function<bool(QSqlDatabase&)>& work, int* code)
{
    if (m_removed)
        return false;
    if (ThreadManager::getInstance()->isStorageThread()) {
        QSqlDatabase db = QSqlDatabase::database(m_storageConnection, false);
        if (!db.isValid()) {
            db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_storageConnection);
            if (!open(db, code)) {
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
        ok = open(db, code) && work(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

bool SqliteDatabase::open(QSqlDatabase& db, int* code)
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
            m_carried = readPending(db);
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
        !exec(query, QStringLiteral("PRAGMA synchronous=NORMAL"))) {
        if (code)
            *code = errorCode(db);
        return false;
    }
    QMutexLocker lock(&m_migrateMutex);
    if (!m_migrated)
        m_migrated = migrate(db) && writeCarried(db);
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
