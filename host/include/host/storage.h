#pragma once

#include "host/hostglobal.h"

#include <QByteArray>
#include <QList>
#include <QMultiHash>
#include <QString>
#include <QStringList>

// The account's local tables. Each operation returns whether it succeeded; callers may
// run them from any thread (each thread gets its own database connection).
namespace storage {

struct SharedPreferenceInfo {
    QString key;
    QByteArray value; // always the plain value
    int type = 0;
    int unapplied = 0; // 1: not applied on arrival, retried at the next load
    qint64 version = 0;
    QByteArray spare;
    // An edit of this device the server has not acknowledged yet, to be sent again: the way it
    // is sent. An empty value with a pending edit is a removal.
    enum Pending { NotPending = 0, PendingPlain = 1, PendingEncrypted = 2 };
    int pending = NotPending;

    bool operator==(const SharedPreferenceInfo& o) const
    {
        return key == o.key && value == o.value && type == o.type && unapplied == o.unapplied &&
               version == o.version && spare == o.spare && pending == o.pending;
    }
};

struct WallpaperInfo {
    QString id;
    QByteArray data; // serialised im::WallPaper
    bool synced = false;
    qint64 time = 0;

    bool operator==(const WallpaperInfo& o) const
    {
        return id == o.id && data == o.data && synced == o.synced && time == o.time;
    }
};

class HOST_EXPORT SharedPreferenceStorage {
public:
    virtual ~SharedPreferenceStorage();
    virtual bool save(const SharedPreferenceInfo& info) = 0;
    virtual bool save(const QList<SharedPreferenceInfo>& infos) = 0;
    virtual bool remove(const QString& key, int type) = 0;
    virtual bool remove(const QMultiHash<QString, int>& keyTypes) = 0;
    // In the order the rows were first stored; a later save keeps a row's place.
    virtual QList<SharedPreferenceInfo> allInfos() = 0;
    // The row of this key and type; an empty key when there is none.
    virtual SharedPreferenceInfo info(const QString& key, int type) = 0;
    // The server answered the edit of this key at this version: it is no longer pending (a
    // pending removal goes). Nothing happens when the row holds another version.
    virtual bool settle(const QString& key, int type, qint64 version) = 0;
};

class HOST_EXPORT WallpaperStorage {
public:
    virtual ~WallpaperStorage();
    virtual bool save(const WallpaperInfo& info) = 0;
    virtual bool save(const QList<WallpaperInfo>& infos) = 0;
    virtual bool remove(const QString& id) = 0;
    virtual bool remove(const QStringList& ids) = 0;
    virtual bool removeAll() = 0;
    virtual QList<WallpaperInfo> allInfos() = 0;
    virtual WallpaperInfo info(const QString& id) = 0;
};

class HOST_EXPORT CacheFileStorage {
public:
    virtual ~CacheFileStorage();
    // Marks cached files as used at the given time.
    virtual bool updateTimestamp(const QStringList& fileIds, qint64 time) = 0;
};

class HOST_EXPORT UserStorageProvider {
public:
    virtual ~UserStorageProvider();
    virtual WallpaperStorage* wallpaperStorage() = 0;
    virtual SharedPreferenceStorage* sharedPreferenceStorage() = 0;
    virtual CacheFileStorage* cacheFileStorage() = 0;
};

} // namespace storage
