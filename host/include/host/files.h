#pragma once

#include "host/hostglobal.h"

#include <QHash>
#include <QObject>
#include <QSharedPointer>
#include <QStringList>
#include <QVariantMap>

#include <functional>

namespace im::content {
class FileInfo;
}

// A file the account stores on the server, possibly cached locally. Contents travel and rest
// on the server encrypted with the file's own AES key, which only the account's records hold.
class HOST_EXPORT BaseFile : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString fileId READ fileId NOTIFY fileIdChanged)
    Q_PROPERTY(QString filePath READ filePath NOTIFY filePathChanged)
    Q_PROPERTY(QString cacheFilePath READ cacheFilePath NOTIFY cacheFilePathChanged)
    // The transfer of the content the file services run for this file, if any: its state and
    // how much of it is done (0 to 1, from the bytes the server stored or sent).
    Q_PROPERTY(int transferState READ transferState NOTIFY transferStateChanged)
    Q_PROPERTY(qreal progress READ progress NOTIFY progressChanged)
public:
    using QObject::QObject;

    enum TransferState {
        TransferIdle = 0,            // nothing under way (done, cancelled, or never started)
        TransferWaiting = 1,         // queued behind other transfers
        TransferRunning = 2,         // bytes are moving
        TransferFailedWillRetry = 3, // the network or the server failed: it may go through later
        TransferFailed = 4,          // it never will (a file missing, refused, or gone from the server)
    };
    Q_ENUM(TransferState)

    QString fileId() const { return m_fileId; }
    void setFileId(const QString& id);
    QByteArray aesKey() const { return m_aesKey; }
    void setAesKey(const QByteArray& key) { m_aesKey = key; }
    QString fileMd5() const { return m_fileMd5; }
    void setFileMd5(const QString& md5) { m_fileMd5 = md5; }
    qint64 size() const { return m_size; }
    void setSize(qint64 size) { m_size = size; }
    // Where the content was read from when it was made on this device (a picked file, which
    // the file services never delete), or the cached copy when it came from the server.
    QString filePath() const { return m_filePath; }
    void setFilePath(const QString& path);
    // The account's own copy in its cache folder, complete and verified; empty until there is
    // one. Deleting a file's local copy deletes only this.
    QString cacheFilePath() const { return m_cacheFilePath; }
    void setCacheFilePath(const QString& path);
    // The path to read the content from: the cached copy when there is one.
    QString localPath() const { return m_cacheFilePath.isEmpty() ? m_filePath : m_cacheFilePath; }
    int modelSourceType() const { return m_modelSourceType; }
    void setModelSourceType(int type) { m_modelSourceType = type; }
    int transferState() const { return m_transferState; }
    qreal progress() const { return m_progress; }
    // Set by the file services as the transfer moves; progress is clamped to 0..1.
    void setTransfer(int state, qreal progress);

signals:
    void fileIdChanged();
    void filePathChanged();
    void cacheFilePathChanged();
    void transferStateChanged();
    void progressChanged();

private:
    QString m_fileId;
    QByteArray m_aesKey;
    QString m_fileMd5;
    qint64 m_size = 0;
    QString m_filePath;
    QString m_cacheFilePath;
    int m_modelSourceType = 0;
    int m_transferState = TransferIdle;
    qreal m_progress = 0;
};

class HOST_EXPORT FileData : public BaseFile {
    Q_OBJECT
    Q_PROPERTY(QString fileName READ fileName CONSTANT)
public:
    using BaseFile::BaseFile;

    int fileType() const { return m_fileType; }
    void setFileType(int type) { m_fileType = type; }
    QString fileName() const { return m_fileName; }
    void setFileName(const QString& name) { m_fileName = name; }
    // Whether the content can be read here: the cached copy or the local file exists
    // ("qrc:" paths name the application's resources).
    Q_INVOKABLE bool fileExist() const;
    // The same for paths read earlier, callable from any thread.
    static bool existsAt(const QString& cacheFilePath, const QString& filePath);

private:
    int m_fileType = 0;
    QString m_fileName;
};

// A file that ships with the application.
class HOST_EXPORT InnerFileData : public FileData {
    Q_OBJECT
public:
    using FileData::FileData;
};

// A photo. Made from a local path, it gets a new file id, ready to be uploaded.
class HOST_EXPORT PhotoData : public FileData {
    Q_OBJECT
public:
    explicit PhotoData(const QString& path, QObject* parent = nullptr);
};

using FileDataPtr = QSharedPointer<FileData>;
class StickerData;

// What the upload callback of a pair reports, as (stage, status).
namespace upload {
enum Stage {
    Prepared = 0, // every file has its key, size and MD5, and its cached copy (status Ok)
    Finished = 1, // the pair's outcome, exactly once, with a status below
    Progress = 2, // a piece was stored by the server (status Ok); only in mode ReportProgress
};
enum Status {
    Ok = 0,
    Failed = 2,    // the network or the server failed: the same upload may succeed later
    Refused = 3,   // it never will: the file is missing, empty, too large or refused
    Cancelled = 4, // cancelled by cancelUpload with a cancel type other than CancelQuietly
};
enum Mode { Normal = 0, ReportProgress = 1 };
// cancelUpload: the owner already dropped the upload and hears nothing more of it.
constexpr int CancelQuietly = 2;
} // namespace upload

// The two files of one upload, with the callback that reports its stages. Either file may be
// null; the two may be the same file.
struct UploadMultiFileFilter {
    QString ownerId;
    // The pair goes ahead of every upload still waiting.
    bool first = false;
    FileDataPtr firstFile;
    FileDataPtr secondFile;
    // Runs on the thread that started the upload.
    std::function<void(int stage, int status)> callback;
};
using UploadMultiFileFilterPtr = QSharedPointer<UploadMultiFileFilter>;

// The account's file records: kept in its database, so a restarted device still knows its
// files, their keys and their cached copies.
class HOST_EXPORT FileDataMgr {
public:
    virtual ~FileDataMgr();
    // A record for newId (a server-side copy of file), sharing its key and content; fileType
    // -1 keeps the file's type.
    virtual FileDataPtr duplicateFile(const FileDataPtr& file, const QString& newId, int fileType = -1) = 0;
    // Forgets the record; removeLocal also deletes the cached copy.
    virtual void deleteFileByRef(const FileDataPtr& file, bool removeLocal) = 0;
    virtual void deleteFilesAll(const QStringList& fileIds, bool removeLocal) = 0;
    virtual void saveFileInfos(const QList<FileDataPtr>& files) = 0;
    // The ids of the kept records a model of this source type made, for the model to forget the
    // ones nothing of it names any more; a host that cannot tell lists none.
    virtual QStringList fileIdsOfSource(int sourceType) const
    {
        Q_UNUSED(sourceType)
        return {};
    }
};

// Downloads run in the background. A file appears at its cached path only complete and
// verified; the file's record and every live FileData of it learn the path then.
class HOST_EXPORT DownloadFileMgr {
public:
    virtual ~DownloadFileMgr();
    // type: the file type to record when the file has none yet.
    virtual void download(const FileDataPtr& file, bool highPriority, int type) = 0;
    // Files known to the account by id. notify: announce the batch when all of it is done;
    // background: queue behind every other download.
    virtual void downloads(const QStringList& fileIds, bool highPriority, bool notify, bool background) = 0;
};

class HOST_EXPORT UploadFileMgr {
public:
    virtual ~UploadFileMgr();
    // Stops the owner's upload holding these files, waiting or running, and drops what the
    // server received of it, or of the files when their upload already finished. See
    // upload::CancelQuietly.
    virtual void cancelUpload(const QString& ownerId, const FileDataPtr& file, const FileDataPtr& thumbnail,
                              int cancelType) = 0;
};

class HOST_EXPORT FileServiceCmd {
public:
    using DuplicateCallback = std::function<void(const QHash<QString, QString>& oldToNew, int code)>;
    virtual ~FileServiceCmd();
    // Server-side copies, all or none; the callback runs once on the file manager's thread,
    // code 0 with the map, else an error code and an empty map. Callable from any thread.
    virtual void duplicateFiles(const QStringList& fileIds, DuplicateCallback callback) = 0;
    virtual void deleteFiles(const QStringList& fileIds) = 0;
};

class HOST_EXPORT PhotoDataMgr {
public:
    virtual ~PhotoDataMgr();
    // The account's record of the photo's file; download fetches it when it is not here.
    virtual FileDataPtr getFile(PhotoData* photo, bool download) = 0;
};

// The account's file services. Factories may be called from any thread; what they return
// belongs to the file manager's thread, and one file id gives one shared record while any
// holder keeps it.
class HOST_EXPORT FileManager {
public:
    virtual ~FileManager();
    virtual FileDataMgr* fileDataMgr() = 0;
    virtual DownloadFileMgr* downloadFileMgr() = 0;
    virtual UploadFileMgr* uploadFileMgr() = 0;
    virtual FileServiceCmd* fileServiceCmd() = 0;
    virtual PhotoDataMgr* photoDataMgr() = 0;
    // Null when neither file needs uploading (none given, or both already on the server).
    virtual UploadMultiFileFilterPtr makeFilter(const FileDataPtr& first, const FileDataPtr& second) = 0;
    // mode: upload::Mode.
    virtual void uploadMultiFile(const UploadMultiFileFilterPtr& filter, int mode) = 0;
    // The file is local and will be uploaded: never downloaded meanwhile.
    virtual void addUploadId(const QString& fileId) = 0;
    virtual FileDataPtr createFileData(const im::content::FileInfo& info, int fileType, int sourceType) = 0;
    // Keys "filePath", "fileId", "aesKey" (Base64), "thumbPath", "thumbnailAesKey",
    // "thumbnailId"; thumbnail selects the thumbnail entries. "fileName" names the file when
    // present. A path without an id gets a new id.
    virtual FileDataPtr createFileData(const QVariantMap& map, int fileType, bool thumbnail,
                                       int sourceType) = 0;
    // A sticker or custom emoji image: "fileId", "aesKey" (Base64), "fileType", "w", "h", "size",
    // "fileMd5".
    virtual QSharedPointer<StickerData> createStickerData(const QVariantMap& map, int sourceType) = 0;
    // Receives each file of a deleted wallpaper: its cached copy and its record go.
    virtual void discardFile(const FileDataPtr& file) = 0;
};

class HOST_EXPORT FileUtil {
public:
    // Reads an audio file's duration (ms) and format ("wav", "mp3", "ogg", "opus", "flac",
    // "m4a"), judged by content, not by name; false when it is not audio.
    static bool audioFormat(const QString& path, qint64& durationMs, QString& format);
};

class HOST_EXPORT ModelBaseUtil {
public:
    // Image formats accepted as wallpapers, lower case.
    static QStringList wallpaperFormat();
};
