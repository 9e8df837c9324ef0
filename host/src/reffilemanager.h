#pragma once

#include "host/files.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QThreadPool>
#include <QTimer>

#include <memory>
#include <optional>

class AccountBase;
class SqliteDatabase;

// What the account keeps of one file.
struct FileRecord {
    QString id;
    QString path;
    QString cachePath;
    QByteArray key;
    QString md5;
    qint64 size = 0;
    QString name;
    int fileType = 0;
    int sourceType = 0;
    bool uploaded = false;

    bool operator==(const FileRecord& o) const
    {
        return id == o.id && path == o.path && cachePath == o.cachePath && key == o.key && md5 == o.md5 &&
               size == o.size && name == o.name && fileType == o.fileType && sourceType == o.sourceType &&
               uploaded == o.uploaded;
    }
};

// The reference file services of one account. Records live in the account's database and in
// memory (loaded once when the account opens); transfers go through the account's transport in
// pieces, encrypted and verified on a pool of its own, so the thread it lives on only sends,
// receives and applies.
class HOST_EXPORT RefFileManager : public QObject,
                                   public FileManager,
                                   public FileDataMgr,
                                   public DownloadFileMgr,
                                   public UploadFileMgr,
                                   public FileServiceCmd,
                                   public PhotoDataMgr {
    Q_OBJECT
public:
    // Pieces of at most this many bytes go over the transport.
    static constexpr int kChunkSize = 256 * 1024;
    static constexpr int kMaxActiveUploads = 2;
    static constexpr int kMaxActiveDownloads = 3;
    // The code given to duplicateFiles when the server's answer does not make sense.
    static constexpr int kBadAnswer = 502;

    RefFileManager(AccountBase* account, std::shared_ptr<SqliteDatabase> db, const QString& cacheDir);
    ~RefFileManager() override;

    // Reads every record; on the storage thread. prime then hands them to the manager, where
    // records made meanwhile win.
    static QHash<QString, FileRecord> readRecords(SqliteDatabase& db);
    void prime(const QHash<QString, FileRecord>& records);
    // Server deletes not carried out yet outlive a restart: kept by store (JSON array of ids),
    // handed back at the next start by primeDeletes and sent once the account is online.
    void setDeletesStore(std::function<void(const QByteArray&)> store) { m_deletesStore = std::move(store); }
    void primeDeletes(const QByteArray& json);

    QString cacheDir() const { return m_cacheDir; }
    // The account left this computer: transfers stop, no server delete is kept to retry, and the
    // cache folder goes (after the file work already started).
    void removeCache();
    std::optional<FileRecord> record(const QString& fileId) const;
    QStringList recordIds() const;
    // Transfers waiting or running.
    int pendingTransfers() const;

    FileDataMgr* fileDataMgr() override { return this; }
    DownloadFileMgr* downloadFileMgr() override { return this; }
    UploadFileMgr* uploadFileMgr() override { return this; }
    FileServiceCmd* fileServiceCmd() override { return this; }
    PhotoDataMgr* photoDataMgr() override { return this; }

    UploadMultiFileFilterPtr makeFilter(const FileDataPtr& first, const FileDataPtr& second) override;
    void uploadMultiFile(const UploadMultiFileFilterPtr& filter, int mode) override;
    void addUploadId(const QString& fileId) override;
    FileDataPtr createFileData(const im::content::FileInfo& info, int fileType, int sourceType) override;
    FileDataPtr createFileData(const QVariantMap& map, int fileType, bool thumbnail, int sourceType) override;
    QSharedPointer<StickerData> createStickerData(const QVariantMap& map, int sourceType) override;
    void discardFile(const FileDataPtr& file) override;

    FileDataPtr duplicateFile(const FileDataPtr& file, const QString& newId, int fileType = -1) override;
    void deleteFileByRef(const FileDataPtr& file, bool removeLocal) override;
    void deleteFilesAll(const QStringList& fileIds, bool removeLocal) override;
    void saveFileInfos(const QList<FileDataPtr>& files) override;
    QStringList fileIdsOfSource(int sourceType) const override;

    void download(const FileDataPtr& file, bool highPriority, int type) override;
    void downloads(const QStringList& fileIds, bool highPriority, bool notify, bool background) override;

    void cancelUpload(const QString& ownerId, const FileDataPtr& file, const FileDataPtr& thumbnail,
                      int cancelType) override;

    void duplicateFiles(const QStringList& fileIds, DuplicateCallback callback) override;
    void deleteFiles(const QStringList& fileIds) override;

    FileDataPtr getFile(PhotoData* photo, bool download) override;

signals:
    // Each download's end; ok only when the file is at its cached path.
    void fileDownloaded(const QString& fileId, bool ok);
    // A downloads() batch asked to notify, all of it done.
    void downloadsFinished(const QStringList& fileIds, const QStringList& failedIds);
    void uploadFinished(const QString& ownerId, int status);
    void pendingTransfersChanged();

private:
    struct UploadJob;
    struct DownloadJob;
    struct Batch;

    // Under m_mutex.
    FileDataPtr liveLocked(const QString& id) const;
    FileDataPtr adoptLocked(FileData* made);
    void fillFromRecordLocked(FileData* file) const;

    FileRecord recordOf(const FileData& file) const;
    void storeRecords(const QList<FileRecord>& records);
    void forget(const QStringList& ids, bool removeLocal);
    QString cachePathFor(const QString& id, const QString& name) const;
    bool isUploaded(const QString& id) const;

    void pumpUploads();
    void startUpload(const std::shared_ptr<UploadJob>& job);
    void uploaded(const std::shared_ptr<UploadJob>& job, int status);
    void sendUploadPiece(const std::shared_ptr<UploadJob>& job);
    void finishUpload(const std::shared_ptr<UploadJob>& job, int status);

    void fetch(const FileDataPtr& file, int type, bool highPriority, bool background);
    void queueDownload(const QString& id, const QString& name, int fileType, bool highPriority,
                       bool background);
    void pumpDownloads();
    // Tells the live record of the file how its download goes.
    void showDownload(const QString& id, int state, qreal progress);
    void requestPiece(const std::shared_ptr<DownloadJob>& job);
    void pieceArrived(const std::shared_ptr<DownloadJob>& job, int code, const QByteArray& body);
    void finishDownload(const std::shared_ptr<DownloadJob>& job, const QString& path);
    void settleBatches(const QString& id, bool ok);
    void failLater(const QString& id);

    AccountBase* m_account;
    std::shared_ptr<SqliteDatabase> m_db;
    QString m_cacheDir;
    QThreadPool m_pool;

    mutable QMutex m_mutex; // the factories run on any thread
    QHash<QString, FileRecord> m_records;
    QHash<QString, QWeakPointer<FileData>> m_live;
    int m_liveSwept = 0;
    QSet<QString> m_uploadIds;
    // Files whose completion went out without an answer: the server may hold them.
    QSet<QString> m_maybeStored;
    // Server deletes that met no network: sent again once the account is online.
    QSet<QString> m_unsentDeletes;
    std::function<void(const QByteArray&)> m_deletesStore;
    void storeDeletes();
    void sendUnsentDeletes();
    QTimer m_deleteRetry;

    QList<std::shared_ptr<UploadJob>> m_waitingUploads;
    QList<std::shared_ptr<UploadJob>> m_activeUploads;
    QList<std::shared_ptr<DownloadJob>> m_waitingDownloads;
    QHash<QString, std::shared_ptr<DownloadJob>> m_downloads; // waiting and running, by id
    QSet<QString> m_failedForGood;                            // told to the user once
    int m_activeDownloads = 0;
    QList<std::shared_ptr<Batch>> m_batches;
};
