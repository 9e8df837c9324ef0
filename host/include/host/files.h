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

// A file the account stores on the server, possibly cached locally.
class HOST_EXPORT BaseFile : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString fileId READ fileId NOTIFY fileIdChanged)
    Q_PROPERTY(QString filePath READ filePath NOTIFY filePathChanged)
public:
    using QObject::QObject;

    QString fileId() const { return m_fileId; }
    void setFileId(const QString& id);
    QByteArray aesKey() const { return m_aesKey; }
    void setAesKey(const QByteArray& key) { m_aesKey = key; }
    QString fileMd5() const { return m_fileMd5; }
    void setFileMd5(const QString& md5) { m_fileMd5 = md5; }
    qint64 size() const { return m_size; }
    void setSize(qint64 size) { m_size = size; }
    QString filePath() const { return m_filePath; }
    void setFilePath(const QString& path);
    // Where a downloaded copy lives; the local path when the file was made here.
    QString cacheFilePath() const { return m_cacheFilePath.isEmpty() ? m_filePath : m_cacheFilePath; }
    void setCacheFilePath(const QString& path) { m_cacheFilePath = path; }
    int modelSourceType() const { return m_modelSourceType; }
    void setModelSourceType(int type) { m_modelSourceType = type; }

signals:
    void fileIdChanged();
    void filePathChanged();

private:
    QString m_fileId;
    QByteArray m_aesKey;
    QString m_fileMd5;
    qint64 m_size = 0;
    QString m_filePath;
    QString m_cacheFilePath;
    int m_modelSourceType = 0;
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
    Q_INVOKABLE bool fileExist() const;

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

class HOST_EXPORT PhotoData : public FileData {
    Q_OBJECT
public:
    explicit PhotoData(const QString& path, QObject* parent = nullptr);
};

using FileDataPtr = QSharedPointer<FileData>;

// The two files of one upload, with the callback that reports its stages.
struct UploadMultiFileFilter {
    QString ownerId;
    bool first = false;
    FileDataPtr firstFile;
    FileDataPtr secondFile;
    std::function<void(int stage, int status)> callback;
};
using UploadMultiFileFilterPtr = QSharedPointer<UploadMultiFileFilter>;

class HOST_EXPORT FileDataMgr {
public:
    virtual ~FileDataMgr();
    virtual FileDataPtr duplicateFile(const FileDataPtr& file, const QString& newId, int fileType = -1) = 0;
    virtual void deleteFileByRef(const FileDataPtr& file, bool removeLocal) = 0;
    virtual void deleteFilesAll(const QStringList& fileIds, bool removeLocal) = 0;
    virtual void saveFileInfos(const QList<FileDataPtr>& files) = 0;
};

class HOST_EXPORT DownloadFileMgr {
public:
    virtual ~DownloadFileMgr();
    virtual void download(const FileDataPtr& file, bool highPriority, int type) = 0;
    virtual void downloads(const QStringList& fileIds, bool highPriority, bool notify, bool background) = 0;
};

class HOST_EXPORT UploadFileMgr {
public:
    virtual ~UploadFileMgr();
    virtual void cancelUpload(const QString& ownerId, const FileDataPtr& file, const FileDataPtr& thumbnail,
                              int cancelType) = 0;
};

class HOST_EXPORT FileServiceCmd {
public:
    using DuplicateCallback = std::function<void(const QHash<QString, QString>& oldToNew, int code)>;
    virtual ~FileServiceCmd();
    virtual void duplicateFiles(const QStringList& fileIds, DuplicateCallback callback) = 0;
    virtual void deleteFiles(const QStringList& fileIds) = 0;
};

class HOST_EXPORT PhotoDataMgr {
public:
    virtual ~PhotoDataMgr();
    virtual FileDataPtr getFile(PhotoData* photo, bool download) = 0;
};

// The account's file services.
class HOST_EXPORT FileManager {
public:
    virtual ~FileManager();
    virtual FileDataMgr* fileDataMgr() = 0;
    virtual DownloadFileMgr* downloadFileMgr() = 0;
    virtual UploadFileMgr* uploadFileMgr() = 0;
    virtual FileServiceCmd* fileServiceCmd() = 0;
    virtual PhotoDataMgr* photoDataMgr() = 0;
    virtual UploadMultiFileFilterPtr makeFilter(const FileDataPtr& first, const FileDataPtr& second) = 0;
    virtual void uploadMultiFile(const UploadMultiFileFilterPtr& filter, int mode) = 0;
    virtual void addUploadId(const QString& fileId) = 0;
    virtual FileDataPtr createFileData(const im::content::FileInfo& info, int fileType, int sourceType) = 0;
    // Keys "filePath", "fileId", "aesKey", "thumbPath", "thumbnailAesKey", "thumbnailId";
    // thumbnail selects the thumbnail entries.
    virtual FileDataPtr createFileData(const QVariantMap& map, int fileType, bool thumbnail,
                                       int sourceType) = 0;
    // Receives each file of a deleted wallpaper.
    virtual void discardFile(const FileDataPtr& file) = 0;
};

class HOST_EXPORT FileUtil {
public:
    // Reads an audio file's duration (ms) and format; false when it is not audio.
    static bool audioFormat(const QString& path, qint64& durationMs, QString& format);
};

class HOST_EXPORT ModelBaseUtil {
public:
    // Image formats accepted as wallpapers, lower case.
    static QStringList wallpaperFormat();
};
