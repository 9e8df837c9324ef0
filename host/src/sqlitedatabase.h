#pragma once

#include "host/hostglobal.h"

#include <QList>
#include <QMutex>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>

// One account's SQLite file. The storage thread keeps one connection open; any other thread
// gets a connection of its own for the length of one call. Opening migrates the schema.
class HOST_EXPORT SqliteDatabase : public std::enable_shared_from_this<SqliteDatabase> {
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

    using Work = std::function<bool(QSqlDatabase&)>;
    // Runs work with a connection inside one transaction, committed when work returns true.
    // A write the disk refuses (full, read-only, an I/O error) is held, in order with every
    // later write, and written when retryHeld succeeds; it counts as done. So work must own
    // what it uses: it may run again later.
    bool write(Work work);
    // Runs work with a connection, without a transaction.
    bool read(const std::function<bool(QSqlDatabase&)>& work);

    int schemaVersion();
    // Whether the file failed SQLite's check when it was first opened and was set aside for a
    // fresh one (the damaged file stays beside it, named ".damaged-<time>"). Answers once.
    // Edits waiting to be sent (pending preference rows) that can still be read are carried
    // over into the fresh file.
    bool takeReset() { return m_reset.exchange(false); }
    // Told on the storage thread when a file found damaged while in use (SQLite reports it
    // corrupt, or no database) was set aside for a fresh one, with what could be carried over.
    void setDamageHandler(std::function<void()> handler) { m_damageHandler = std::move(handler); }
    // Writes the held writes again, in order, on the storage thread; true once none is held.
    bool retryHeld();
    int heldWrites() const { return m_heldCount.load(); }
    // Told on the storage thread when writes start to be held (true) and when the held ones
    // were written (false).
    void setHeldHandler(std::function<void(bool held)> handler) { m_heldHandler = std::move(handler); }

    // Closes the file and deletes it; later reads and writes fail without making a new one. On
    // the storage thread.
    void remove();

private:
    // code gets SQLite's result code when the connection could not be opened.
    bool withConnection(const std::function<bool(QSqlDatabase&)>& work, int* code = nullptr);
    // One transaction; code gets SQLite's result code when it fails.
    bool transact(const Work& work, int& code);
    static int errorCode(QSqlDatabase& db);
    // A failure with a code that means a damaged file: set aside for a fresh one, once per file.
    void noteFailure(int code, int epoch);
    void replaceDamaged(int epoch);
    // The pending preference rows that can be read from db, for the fresh file.
    static QList<QVariantList> readPending(QSqlDatabase& db);
    bool writeCarried(QSqlDatabase& db);
    static bool refusedByDisk(int code);
    void hold(Work work);
    bool open(QSqlDatabase& db, int* code);
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
    // Under m_migrateMutex: rows to write into a fresh file, and which file this is (a count of
    // the files set aside while in use).
    QList<QVariantList> m_carried;
    std::atomic<int> m_epoch{0};
    std::function<void()> m_damageHandler;
    std::atomic<bool> m_reset{false};
    std::atomic<bool> m_removed{false};
    // Storage thread only.
    std::deque<Work> m_held;
    std::atomic<int> m_heldCount{0};
    std::function<void(bool)> m_heldHandler;
};
