#pragma once

#include "simfilestore.h"
#include "simstate.pb.h"

#include <QHash>
#include <QSqlDatabase>
#include <QString>

#include <optional>

// What the server process keeps across restarts, in one SQLite file (server.db) with the
// stored files' bytes beside it (files/): each user's id and state (its preferences a row each,
// so that a change writes only what changed), the sessions (by a hash of their token, never the
// token) and the file records. Every write is committed before it returns, so what the server
// answered after writing survives a kill.
class ServerStore {
public:
    struct Session {
        qint64 userId = 0;
        int deviceId = 0;
    };

    ServerStore();
    ~ServerStore();
    ServerStore(const ServerStore&) = delete;
    ServerStore& operator=(const ServerStore&) = delete;

    bool open(const QString& directory, QString* error);

    // The user's id from an earlier run, or 0.
    qint64 userId(const QString& name) const;
    bool saveUserId(const QString& name, qint64 id);
    qint64 largestUserId() const;
    // The user's state from an earlier run with every preference kept; nullopt when there is
    // none, and *readable false when a part of it does not parse.
    std::optional<im::server::UserState> userState(qint64 id, bool* readable) const;
    // The state with the preferences that changed since the last write (the others are kept).
    bool saveUserState(qint64 id, im::server::UserState state);

    QHash<QString, Session> sessions() const;
    bool saveSession(const QString& tokenHash, const Session& session);
    bool removeSession(const QString& tokenHash);

    // Every stored file into the store.
    bool loadFiles(SimFileStore& files) const;
    // The journal of a file store: the file's bytes and record, or its removal.
    bool saveFile(const QString& fileId, const SimFileStore::File* file);
    // The upload journal of a file store: the chunk appended to the upload's bytes, or the
    // upload gone.
    bool saveUploadChunk(const SimFileStore::UploadChunk& chunk);

private:
    QString filePath(const QString& fileId) const;
    QString uploadPath(qint64 owner, const QString& fileId) const;
    bool exec(const QString& statement, const QVariantList& values = {});

    QString m_connection;
    QString m_directory;
    QSqlDatabase m_db;
};
