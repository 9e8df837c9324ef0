#include "serverstore.h"

#include "simstate.pb.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

Q_LOGGING_CATEGORY(lcServerStore, "im.server.store")

ServerStore::ServerStore() : m_connection(QStringLiteral("serverstore-") + QUuid::createUuid().toString()) {}

ServerStore::~ServerStore()
{
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
}

bool ServerStore::open(const QString& directory, QString* error)
{
    m_directory = directory;
    if (!QDir().mkpath(QDir(directory).filePath(QStringLiteral("files"))) ||
        !QDir().mkpath(QDir(directory).filePath(QStringLiteral("uploads")))) {
        *error = QStringLiteral("cannot make %1").arg(directory);
        return false;
    }
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    m_db.setDatabaseName(QDir(directory).filePath(QStringLiteral("server.db")));
    if (!m_db.open()) {
        *error = m_db.lastError().text();
        return false;
    }
    // Committed writes survive the process being killed; WAL keeps each commit short.
    const bool ready =
        exec(QStringLiteral("PRAGMA journal_mode=WAL")) &&
        exec(QStringLiteral("CREATE TABLE IF NOT EXISTS users (name TEXT PRIMARY KEY, id "
                            "INTEGER UNIQUE NOT NULL, state BLOB)")) &&
        exec(QStringLiteral("CREATE TABLE IF NOT EXISTS sessions (token_hash TEXT PRIMARY KEY, "
                            "user_id INTEGER NOT NULL, device_id INTEGER NOT NULL)")) &&
        exec(QStringLiteral("CREATE TABLE IF NOT EXISTS files (id TEXT PRIMARY KEY, record BLOB "
                            "NOT NULL)")) &&
        exec(QStringLiteral("CREATE TABLE IF NOT EXISTS preferences (user_id INTEGER NOT NULL, key TEXT "
                            "NOT NULL, type INTEGER NOT NULL, record BLOB NOT NULL, PRIMARY KEY (user_id, "
                            "key, type))")) &&
        exec(QStringLiteral("CREATE TABLE IF NOT EXISTS uploads (owner INTEGER NOT NULL, file_id TEXT "
                            "NOT NULL, total INTEGER NOT NULL, PRIMARY KEY (owner, file_id))"));
    if (!ready)
        *error = m_db.lastError().text();
    return ready;
}

bool ServerStore::exec(const QString& statement, const QVariantList& values)
{
    QSqlQuery query(m_db);
    if (!query.prepare(statement)) {
        qCWarning(lcServerStore) << "cannot prepare" << statement << query.lastError().text();
        return false;
    }
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!query.exec()) {
        qCWarning(lcServerStore) << "write failed:" << query.lastError().text();
        return false;
    }
    return true;
}

qint64 ServerStore::userId(const QString& name) const
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT id FROM users WHERE name = ?"));
    query.addBindValue(name);
    return query.exec() && query.next() ? query.value(0).toLongLong() : 0;
}

bool ServerStore::saveUserId(const QString& name, qint64 id)
{
    return exec(QStringLiteral("INSERT OR IGNORE INTO users (name, id) VALUES (?, ?)"), {name, id});
}

qint64 ServerStore::largestUserId() const
{
    QSqlQuery query(m_db);
    return query.exec(QStringLiteral("SELECT MAX(id) FROM users")) && query.next()
               ? query.value(0).toLongLong()
               : 0;
}

std::optional<im::server::UserState> ServerStore::userState(qint64 id, bool* readable) const
{
    *readable = true;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT state FROM users WHERE id = ? AND state IS NOT NULL"));
    query.addBindValue(id);
    if (!query.exec() || !query.next())
        return std::nullopt;
    im::server::UserState state;
    const QByteArray bytes = query.value(0).toByteArray();
    *readable = state.ParseFromArray(bytes.constData(), int(bytes.size()));
    // After the state's own: a state written before preferences had rows holds them itself, and
    // a row is newer.
    QSqlQuery rows(m_db);
    rows.prepare(QStringLiteral("SELECT record FROM preferences WHERE user_id = ?"));
    rows.addBindValue(id);
    *readable = rows.exec() && *readable;
    while (rows.next()) {
        const QByteArray record = rows.value(0).toByteArray();
        *readable =
            state.add_preferences()->ParseFromArray(record.constData(), int(record.size())) && *readable;
    }
    return state;
}

bool ServerStore::saveUserState(qint64 id, im::server::UserState state)
{
    if (!m_db.transaction()) {
        qCWarning(lcServerStore) << "cannot begin a write:" << m_db.lastError().text();
        return false;
    }
    QSqlQuery row(m_db);
    bool written = row.prepare(QStringLiteral(
        "INSERT OR REPLACE INTO preferences (user_id, key, type, record) VALUES (?, ?, ?, ?)"));
    for (int i = 0; written && i < state.preferences_size(); ++i) {
        const im::server::UserState::Preference& preference = state.preferences(i);
        row.bindValue(0, id);
        row.bindValue(1, QString::fromStdString(preference.record().key()));
        row.bindValue(2, preference.record().type());
        row.bindValue(3, QByteArray::fromStdString(preference.SerializeAsString()));
        written = row.exec();
    }
    if (!written)
        qCWarning(lcServerStore) << "write failed:" << row.lastError().text();
    state.clear_preferences();
    written = written && exec(QStringLiteral("UPDATE users SET state = ? WHERE id = ?"),
                              {QByteArray::fromStdString(state.SerializeAsString()), id});
    if (written && m_db.commit())
        return true;
    m_db.rollback();
    return false;
}

QHash<QString, ServerStore::Session> ServerStore::sessions() const
{
    QHash<QString, Session> sessions;
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("SELECT token_hash, user_id, device_id FROM sessions")))
        return sessions;
    while (query.next())
        sessions.insert(query.value(0).toString(), {query.value(1).toLongLong(), query.value(2).toInt()});
    return sessions;
}

bool ServerStore::saveSession(const QString& tokenHash, const Session& session)
{
    return exec(
        QStringLiteral("INSERT OR REPLACE INTO sessions (token_hash, user_id, device_id) VALUES (?, ?, ?)"),
        {tokenHash, session.userId, session.deviceId});
}

bool ServerStore::removeSession(const QString& tokenHash)
{
    return exec(QStringLiteral("DELETE FROM sessions WHERE token_hash = ?"), {tokenHash});
}

QString ServerStore::filePath(const QString& fileId) const
{
    // Any id names a file safely: its hash is the name.
    const QByteArray name = QCryptographicHash::hash(fileId.toUtf8(), QCryptographicHash::Sha256).toHex();
    return QDir(m_directory).filePath(QStringLiteral("files/") + QString::fromLatin1(name));
}

bool ServerStore::loadFiles(SimFileStore& files) const
{
    QSqlQuery uploads(m_db);
    if (!uploads.exec(QStringLiteral("SELECT owner, file_id, total FROM uploads")))
        return false;
    while (uploads.next()) {
        const qint64 owner = uploads.value(0).toLongLong();
        const QString fileId = uploads.value(1).toString();
        QFile taken(uploadPath(owner, fileId));
        // An upload whose bytes are gone starts again from nothing, as the device is told.
        files.restoreUpload(owner, fileId, uploads.value(2).toLongLong(),
                            taken.open(QIODevice::ReadOnly) ? taken.readAll() : QByteArray());
    }
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("SELECT id, record FROM files")))
        return false;
    while (query.next()) {
        const QString id = query.value(0).toString();
        const QByteArray bytes = query.value(1).toByteArray();
        im::server::FileRecord record;
        QFile content(filePath(id));
        if (!record.ParseFromArray(bytes.constData(), int(bytes.size())) ||
            !content.open(QIODevice::ReadOnly)) {
            qCWarning(lcServerStore) << "a stored file's record or bytes are missing:" << id;
            continue;
        }
        SimFileStore::File file;
        file.owner = record.owner();
        file.md5 = QString::fromStdString(record.md5());
        file.everyone = record.everyone();
        for (qint64 reader : record.readers())
            file.readers.insert(reader);
        file.bytes = content.readAll();
        files.restore(id, file);
    }
    return true;
}

bool ServerStore::saveFile(const QString& fileId, const SimFileStore::File* file)
{
    if (!file) {
        const bool removed = exec(QStringLiteral("DELETE FROM files WHERE id = ?"), {fileId});
        QFile::remove(filePath(fileId));
        return removed;
    }
    // The bytes first: a record never names bytes that are not there.
    QSaveFile content(filePath(fileId));
    if (!content.open(QIODevice::WriteOnly) || content.write(file->bytes) != file->bytes.size() ||
        !content.commit()) {
        qCWarning(lcServerStore) << "cannot write a file's bytes:" << content.errorString();
        return false;
    }
    im::server::FileRecord record;
    record.set_owner(file->owner);
    record.set_md5(file->md5.toStdString());
    record.set_everyone(file->everyone);
    for (qint64 reader : file->readers)
        record.add_readers(reader);
    return exec(QStringLiteral("INSERT OR REPLACE INTO files (id, record) VALUES (?, ?)"),
                {fileId, QByteArray::fromStdString(record.SerializeAsString())});
}

QString ServerStore::uploadPath(qint64 owner, const QString& fileId) const
{
    const QByteArray name = QCryptographicHash::hash(QString::number(owner).toUtf8() + '/' + fileId.toUtf8(),
                                                     QCryptographicHash::Sha256)
                                .toHex();
    return QDir(m_directory).filePath(QStringLiteral("uploads/") + QString::fromLatin1(name));
}

bool ServerStore::saveUploadChunk(const SimFileStore::UploadChunk& chunk)
{
    const QString path = uploadPath(chunk.owner, chunk.fileId);
    if (!chunk.data) {
        QFile::remove(path);
        return exec(QStringLiteral("DELETE FROM uploads WHERE owner = ? AND file_id = ?"),
                    {chunk.owner, chunk.fileId});
    }
    // Appended and flushed before the chunk is answered; the first chunk starts the bytes again.
    QFile taken(path);
    const QIODevice::OpenMode mode = chunk.offset == 0 ? QIODevice::WriteOnly | QIODevice::Truncate
                                                       : QIODevice::WriteOnly | QIODevice::Append;
    if (!taken.open(mode) || taken.write(*chunk.data) != chunk.data->size() || !taken.flush()) {
        qCWarning(lcServerStore) << "cannot keep an upload's chunk:" << taken.errorString();
        return false;
    }
    return chunk.offset != 0 ||
           exec(QStringLiteral("INSERT OR REPLACE INTO uploads (owner, file_id, total) VALUES (?, ?, ?)"),
                {chunk.owner, chunk.fileId, chunk.totalSize});
}
