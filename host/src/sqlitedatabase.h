#pragma once

#include "host/hostglobal.h"

#include <QMutex>
#include <QSqlDatabase>
#include <QString>

#include <atomic>
#include <functional>

// One account's SQLite file. The storage thread keeps one connection open; any other thread
// gets a connection of its own for the length of one call. Opening migrates the schema.
class HOST_EXPORT SqliteDatabase {
public:
    static constexpr int kSchemaVersion = 3;

    explicit SqliteDatabase(const QString& path);
    // A location in memory, shared by this process's connections to it and gone with the last
    // of them (the storage thread keeps one open); unique per call.
    static QString memoryLocation(const QString& name);
    ~SqliteDatabase();
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    QString path() const { return m_path; }

    // Runs work with a connection inside one transaction, committed when work returns true.
    bool write(const std::function<bool(QSqlDatabase&)>& work);
    // Runs work with a connection, without a transaction.
    bool read(const std::function<bool(QSqlDatabase&)>& work);

    int schemaVersion();
    // Whether the file failed SQLite's check when it was first opened and was set aside for a
    // fresh one (the damaged file stays beside it, named ".damaged-<time>"). Answers once.
    bool takeReset() { return m_reset.exchange(false); }
    // Closes the file and deletes it; later reads and writes fail without making a new one. On
    // the storage thread.
    void remove();

private:
    bool withConnection(const std::function<bool(QSqlDatabase&)>& work);
    bool open(QSqlDatabase& db);
    bool migrate(QSqlDatabase& db);
    // SQLite's quick check of the file; false for a file that is no database or is damaged.
    static bool healthy(QSqlDatabase& db);
    void setAside();

    QString m_path;
    bool m_inMemory = false;
    QString m_storageConnection;
    QMutex m_migrateMutex;
    bool m_migrated = false;
    bool m_checked = false;
    std::atomic<bool> m_reset{false};
    std::atomic<bool> m_removed{false};
};
