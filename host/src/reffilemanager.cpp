#include "reffilemanager.h"

#include "host/accountmanager.h"

#include "host/accountbase.h"
#include "host/constants.h"
#include "host/cryptoaes.h"
#include "host/stickers.h"
#include "host/storage.h"
#include "host/threadmanager.h"
#include "host/util.h"
#include "im/content.pb.h"
#include "im/file.pb.h"
#include "sqlitedatabase.h"
#include "transport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QPointer>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <algorithm>

Q_LOGGING_CATEGORY(lcHostFiles, "im.host.files")

namespace {

constexpr int kKeySize = 32;
// A server delete lost while online goes again after this long.
constexpr int kDeleteRetryMs = 2000;
// Encryption wraps the content in a nonce and a tag.
constexpr qint64 kMaxStoredBytes = FILE_SIZE_LIMIT + 64;

QString md5Hex(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

template <class Message> QByteArray bytesOf(const Message& message)
{
    return QByteArray::fromStdString(message.SerializeAsString());
}

template <class Message> bool parse(Message& message, const QByteArray& body)
{
    return message.ParseFromArray(body.constData(), int(body.size()));
}

// Network trouble and server faults may pass; a refusal will not.
int statusFor(int code)
{
    switch (code) {
    case 400:
    case 409:
    case 413: return upload::Refused;
    default: return upload::Failed;
    }
}

bool runQuery(QSqlQuery& query)
{
    if (query.exec())
        return true;
    qCWarning(lcHostFiles) << "file record query failed:" << query.lastError().text();
    return false;
}

// Writes bytes so that the path holds either nothing or all of them.
bool writeWhole(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.commit();
}

bool copyWhole(const QString& from, const QString& to)
{
    QFile source(from.startsWith(QLatin1String("qrc:")) ? from.mid(3) : from);
    if (!source.open(QIODevice::ReadOnly) || source.size() > FILE_SIZE_LIMIT)
        return false;
    return writeWhole(to, source.readAll());
}

struct PrepareInput {
    QString path;
    QByteArray key;
    QString cacheTarget;
};

struct PreparedFile {
    qint64 size = 0;
    QString md5;
    QByteArray cipher;
    QString cipherMd5;
    QString cachePath;
};

struct Prepared {
    int status = upload::Ok;
    QList<PreparedFile> files;
};

// Reads, measures, encrypts and caches the files of one upload, off the manager's thread.
Prepared prepareUpload(const QList<PrepareInput>& inputs)
{
    Prepared out;
    for (const PrepareInput& input : inputs) {
        const QString path = input.path.startsWith(QLatin1String("qrc:")) ? input.path.mid(3) : input.path;
        QFile file(path);
        if (path.isEmpty() || !file.exists() || file.size() <= 0 || file.size() > FILE_SIZE_LIMIT ||
            !file.open(QIODevice::ReadOnly)) {
            qCWarning(lcHostFiles) << "cannot upload" << input.path << "size" << file.size();
            out.status = upload::Refused;
            return out;
        }
        const QByteArray plain = file.readAll();
        if (plain.size() != file.size()) {
            out.status = upload::Refused;
            return out;
        }
        PreparedFile prepared;
        prepared.size = plain.size();
        prepared.md5 = md5Hex(plain);
        prepared.cipher = CryptoAES::encrypt(plain, input.key);
        if (prepared.cipher.isEmpty()) {
            out.status = upload::Failed;
            return out;
        }
        prepared.cipherMd5 = md5Hex(prepared.cipher);
        // The account keeps its own copy, so that deleting the local copy never touches the
        // user's file, and the content stays readable when the source moves.
        if (QFileInfo(path).absoluteFilePath() == QFileInfo(input.cacheTarget).absoluteFilePath() ||
            writeWhole(input.cacheTarget, plain))
            prepared.cachePath = input.cacheTarget;
        out.files.append(prepared);
    }
    return out;
}

// Decrypts a downloaded file to its cached path once it checks out: the GCM tag fails a wrong
// key and any altered byte, then the record's size and MD5 must match. Empty when not.
QString verifyDownload(const QByteArray& cipher, const QByteArray& key, qint64 size, const QString& md5,
                       const QString& target)
{
    bool ok = false;
    const QByteArray plain = CryptoAES::decrypt(cipher, key, &ok);
    if (!ok) {
        qCWarning(lcHostFiles) << "download is damaged or not for its key:" << target;
        return {};
    }
    if ((size > 0 && plain.size() != size) ||
        (!md5.isEmpty() && md5Hex(plain).compare(md5, Qt::CaseInsensitive))) {
        qCWarning(lcHostFiles) << "download differs from its record:" << target;
        return {};
    }
    return writeWhole(target, plain) ? target : QString();
}

} // namespace

struct RefFileManager::UploadJob {
    struct Item {
        FileDataPtr file;
        QByteArray cipher;
        QString cipherMd5;
        qint64 offset = 0;
    };
    UploadMultiFileFilterPtr filter;
    int mode = upload::Normal;
    QList<Item> items;
    int index = 0;
    bool cancelled = false;
    bool sent = false;

    void report(int stage, int status) const
    {
        if (filter->callback)
            filter->callback(stage, status);
    }
    bool holds(const FileDataPtr& file) const
    {
        return file && (filter->firstFile == file || filter->secondFile == file);
    }
};

struct RefFileManager::DownloadJob {
    QString id;
    QByteArray key;
    QString md5;
    qint64 size = 0;
    QString target;
    int fileType = 0;
    bool background = false;
    bool running = false;
    bool cancelled = false;
    // The server's refusal, or a network failure (below zero).
    int code = 0;
    qint64 total = -1;
    QString serverMd5;
    QByteArray cipher;
};

struct RefFileManager::Batch {
    QStringList ids;
    QSet<QString> pending;
    QStringList failed;
};

RefFileManager::RefFileManager(AccountBase* account, std::shared_ptr<SqliteDatabase> db,
                               const QString& cacheDir)
    : QObject(account),
      m_account(account),
      m_db(std::move(db)),
      m_cacheDir(QDir(cacheDir).absolutePath() + '/')
{
    m_pool.setMaxThreadCount(2);
    connect(account, &AccountBase::onlineChanged, this, &RefFileManager::sendUnsentDeletes);
    m_deleteRetry.setSingleShot(true);
    m_deleteRetry.setInterval(kDeleteRetryMs);
    connect(&m_deleteRetry, &QTimer::timeout, this, &RefFileManager::sendUnsentDeletes);
}

RefFileManager::~RefFileManager()
{
    for (const auto& job : std::as_const(m_activeUploads))
        job->cancelled = true;
    for (const auto& job : std::as_const(m_downloads))
        job->cancelled = true;
    m_pool.waitForDone();
}

void RefFileManager::removeCache()
{
    m_deleteRetry.stop();
    m_unsentDeletes.clear();
    m_deletesStore = {};
    m_waitingUploads.clear();
    m_waitingDownloads.clear();
    for (const auto& job : std::as_const(m_activeUploads))
        job->cancelled = true;
    for (const auto& job : std::as_const(m_downloads))
        job->cancelled = true;
    {
        QMutexLocker lock(&m_mutex);
        m_records.clear();
    }
    const QString dir = m_cacheDir;
    m_pool.start([dir] { QDir(dir).removeRecursively(); });
}

// ---- records ----

QHash<QString, FileRecord> RefFileManager::readRecords(SqliteDatabase& db)
{
    QHash<QString, FileRecord> records;
    db.read([&records](QSqlDatabase& connection) {
        QSqlQuery query(connection);
        query.prepare(QStringLiteral("SELECT file_id, path, cache_path, aes_key, md5, size, name, file_type,"
                                     " source_type, uploaded FROM file_record"));
        if (!runQuery(query))
            return false;
        while (query.next()) {
            FileRecord r;
            r.id = query.value(0).toString();
            r.path = query.value(1).toString();
            r.cachePath = query.value(2).toString();
            r.key = query.value(3).toByteArray();
            r.md5 = query.value(4).toString();
            r.size = query.value(5).toLongLong();
            r.name = query.value(6).toString();
            r.fileType = query.value(7).toInt();
            r.sourceType = query.value(8).toInt();
            r.uploaded = query.value(9).toBool();
            records.insert(r.id, r);
        }
        return true;
    });
    return records;
}

void RefFileManager::primeDeletes(const QByteArray& json)
{
    const QJsonDocument stored = QJsonDocument::fromJson(json);
    if (!json.isEmpty() && !stored.isArray())
        qCWarning(lcHostFiles) << "stored server deletes are damaged; dropped";
    for (const QJsonValue& id : stored.array()) {
        if (id.isString() && !id.toString().isEmpty())
            m_unsentDeletes.insert(id.toString());
    }
    sendUnsentDeletes();
}

void RefFileManager::sendUnsentDeletes()
{
    if (m_account->isOnline() && !m_unsentDeletes.isEmpty())
        deleteFiles(QStringList(m_unsentDeletes.cbegin(), m_unsentDeletes.cend()));
}

void RefFileManager::storeDeletes()
{
    if (!m_deletesStore)
        return;
    QJsonArray ids;
    for (const QString& id : std::as_const(m_unsentDeletes))
        ids.append(id);
    m_deletesStore(ids.isEmpty() ? QByteArray() : QJsonDocument(ids).toJson(QJsonDocument::Compact));
}

void RefFileManager::prime(const QHash<QString, FileRecord>& records)
{
    QMutexLocker lock(&m_mutex);
    for (auto it = records.cbegin(); it != records.cend(); ++it) {
        if (!m_records.contains(it.key()))
            m_records.insert(it.key(), it.value());
    }
}

QStringList RefFileManager::recordIds() const
{
    QMutexLocker lock(&m_mutex);
    return m_records.keys();
}

std::optional<FileRecord> RefFileManager::record(const QString& fileId) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_records.constFind(fileId);
    if (it == m_records.cend())
        return std::nullopt;
    return *it;
}

int RefFileManager::pendingTransfers() const
{
    return int(m_waitingUploads.size() + m_activeUploads.size() + m_downloads.size());
}

FileDataPtr RefFileManager::liveLocked(const QString& id) const
{
    return id.isEmpty() ? FileDataPtr() : m_live.value(id).toStrongRef();
}

FileDataPtr RefFileManager::adoptLocked(FileData* made)
{
    fillFromRecordLocked(made);
    if (made->thread() != thread())
        made->moveToThread(thread());
    FileDataPtr file(made, &deleteOnOwnThread<FileData>);
    if (!made->fileId().isEmpty()) {
        m_live.insert(made->fileId(), file);
        // Drop the entries of records nobody holds any more, now and then.
        if (m_live.size() > 2 * m_liveSwept + 64) {
            m_live.removeIf([](const auto& entry) { return entry.value().isNull(); });
            m_liveSwept = int(m_live.size());
        }
    }
    return file;
}

void RefFileManager::fillFromRecordLocked(FileData* file) const
{
    const auto it = m_records.constFind(file->fileId());
    if (it == m_records.cend())
        return;
    const FileRecord& r = *it;
    if (file->filePath().isEmpty())
        file->setFilePath(r.path);
    if (file->cacheFilePath().isEmpty())
        file->setCacheFilePath(r.cachePath);
    if (file->aesKey().size() != kKeySize)
        file->setAesKey(r.key);
    if (file->fileMd5().isEmpty())
        file->setFileMd5(r.md5);
    if (file->size() <= 0)
        file->setSize(r.size);
    if (file->fileName().isEmpty())
        file->setFileName(r.name);
    if (file->fileType() <= 0)
        file->setFileType(r.fileType);
    if (file->modelSourceType() <= 0)
        file->setModelSourceType(r.sourceType);
}

FileRecord RefFileManager::recordOf(const FileData& file) const
{
    FileRecord r;
    r.id = file.fileId();
    r.path = file.filePath();
    r.cachePath = file.cacheFilePath();
    r.key = file.aesKey();
    r.md5 = file.fileMd5();
    r.size = file.size();
    r.name = file.fileName();
    r.fileType = file.fileType();
    r.sourceType = file.modelSourceType();
    QMutexLocker lock(&m_mutex);
    r.uploaded = m_records.value(r.id).uploaded;
    return r;
}

void RefFileManager::storeRecords(const QList<FileRecord>& records)
{
    if (records.isEmpty())
        return;
    {
        QMutexLocker lock(&m_mutex);
        for (const FileRecord& r : records)
            m_records.insert(r.id, r);
    }
    auto db = m_db;
    ThreadManager::getInstance()->invoke(
        [db, records] {
            db->write([records](QSqlDatabase& connection) {
                QSqlQuery query(connection);
                query.prepare(QStringLiteral(
                    "INSERT OR REPLACE INTO file_record (file_id, path, cache_path, aes_key, md5, size, name,"
                    " file_type, source_type, uploaded) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
                for (const FileRecord& r : records) {
                    const QVariantList values{r.id,   r.path, r.cachePath, r.key,        r.md5,
                                              r.size, r.name, r.fileType,  r.sourceType, int(r.uploaded)};
                    for (int i = 0; i < values.size(); ++i)
                        query.bindValue(i, values.at(i));
                    if (!runQuery(query))
                        return false;
                }
                return true;
            });
        },
        ThreadManager::onMainThread());
}

void RefFileManager::forget(const QStringList& ids, bool removeLocal)
{
    QStringList cached;
    QList<FileDataPtr> live;
    {
        QMutexLocker lock(&m_mutex);
        for (const QString& id : ids) {
            const QString path = m_records.take(id).cachePath;
            if (!path.isEmpty())
                cached.append(path);
            if (FileDataPtr file = liveLocked(id)) {
                if (!file->cacheFilePath().isEmpty())
                    cached.append(file->cacheFilePath());
                live.append(file);
            }
            m_live.remove(id);
            m_uploadIds.remove(id);
        }
    }
    for (const QString& id : ids) {
        if (const auto job = m_downloads.value(id))
            job->cancelled = true;
    }
    auto db = m_db;
    ThreadManager::getInstance()->invoke(
        [db, ids] {
            db->write([ids](QSqlDatabase& connection) {
                QSqlQuery query(connection);
                query.prepare(QStringLiteral("DELETE FROM file_record WHERE file_id = ?"));
                for (const QString& id : ids) {
                    query.bindValue(0, id);
                    if (!runQuery(query))
                        return false;
                }
                return true;
            });
        },
        ThreadManager::onMainThread());
    if (!removeLocal)
        return;
    for (const FileDataPtr& file : std::as_const(live)) {
        if (file->thread() == QThread::currentThread())
            file->setCacheFilePath({});
    }
    // Only the account's own copies go: never a file the user picked.
    QStringList doomed;
    for (const QString& path : std::as_const(cached)) {
        if (QFileInfo(path).absoluteFilePath().startsWith(m_cacheDir) && !doomed.contains(path))
            doomed.append(path);
    }
    if (!doomed.isEmpty())
        m_pool.start([doomed] {
            for (const QString& path : doomed)
                QFile::remove(path);
        });
}

QString RefFileManager::cachePathFor(const QString& id, const QString& name) const
{
    // Ids come from the server: a name made of anything else is hashed, never used as a path.
    static const QRegularExpression safe(QStringLiteral("^[A-Za-z0-9_-]{1,128}$"));
    const QString base = safe.match(id).hasMatch() ? id : md5Hex(id.toUtf8());
    const QString suffix = QFileInfo(name).suffix().toLower();
    static const QRegularExpression safeSuffix(QStringLiteral("^[a-z0-9]{1,8}$"));
    return m_cacheDir + base + (safeSuffix.match(suffix).hasMatch() ? QLatin1Char('.') + suffix : QString());
}

bool RefFileManager::isUploaded(const QString& id) const
{
    QMutexLocker lock(&m_mutex);
    return m_records.value(id).uploaded;
}

// ---- factories ----

FileDataPtr RefFileManager::createFileData(const im::content::FileInfo& info, int fileType, int sourceType)
{
    const QString id = QString::fromStdString(info.file_id());
    QMutexLocker lock(&m_mutex);
    if (FileDataPtr live = liveLocked(id))
        return live;
    auto* file = new FileData;
    file->setFileId(id);
    file->setAesKey(QByteArray::fromStdString(info.aes_key()));
    file->setFileMd5(QString::fromStdString(info.md5()));
    file->setSize(info.size());
    file->setFileName(QString::fromStdString(info.file_name()));
    file->setFileType(fileType);
    file->setModelSourceType(sourceType);
    return adoptLocked(file);
}

FileDataPtr RefFileManager::createFileData(const QVariantMap& map, int fileType, bool thumbnail,
                                           int sourceType)
{
    const QString path =
        map.value(thumbnail ? QStringLiteral("thumbPath") : QStringLiteral("filePath")).toString();
    QString id = map.value(thumbnail ? QStringLiteral("thumbnailId") : QStringLiteral("fileId")).toString();
    if (id.isEmpty() && path.isEmpty())
        return {};
    if (id.isEmpty())
        id = Util::instance()->uuid();
    const QString keyText =
        map.value(thumbnail ? QStringLiteral("thumbnailAesKey") : QStringLiteral("aesKey")).toString();
    const auto decoded =
        QByteArray::fromBase64Encoding(keyText.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!keyText.isEmpty() && (!decoded || decoded.decoded.size() != kKeySize))
        qCWarning(lcHostFiles) << "file" << id << "has no usable key";

    QMutexLocker lock(&m_mutex);
    if (FileDataPtr live = liveLocked(id))
        return live;
    auto* file = new FileData;
    file->setFileId(id);
    file->setFilePath(path);
    if (decoded && decoded.decoded.size() == kKeySize)
        file->setAesKey(decoded.decoded);
    const QString name = map.value(QStringLiteral("fileName")).toString();
    file->setFileName(name.isEmpty() ? QFileInfo(path).fileName() : name);
    file->setFileType(fileType);
    file->setModelSourceType(sourceType);
    return adoptLocked(file);
}

QSharedPointer<StickerData> RefFileManager::createStickerData(const QVariantMap& map, int sourceType)
{
    const QString id = map.value(QStringLiteral("fileId")).toString();
    if (id.isEmpty())
        return {};
    const auto key = QByteArray::fromBase64Encoding(map.value(QStringLiteral("aesKey")).toString().toLatin1(),
                                                    QByteArray::AbortOnBase64DecodingErrors);
    QMutexLocker lock(&m_mutex);
    // One object per file id: a sticker image already live as one is shared.
    if (const auto sticker = liveLocked(id).objectCast<StickerData>())
        return sticker;
    auto* file = new StickerData;
    file->setFileId(id);
    if (key && key.decoded.size() == kKeySize)
        file->setAesKey(key.decoded);
    file->setFileType(map.value(QStringLiteral("fileType")).toInt());
    file->setSize(map.value(QStringLiteral("size")).toLongLong());
    file->setFileMd5(map.value(QStringLiteral("fileMd5")).toString());
    file->setDimensions(map.value(QStringLiteral("w")).toInt(), map.value(QStringLiteral("h")).toInt());
    file->setModelSourceType(sourceType);
    return adoptLocked(file).objectCast<StickerData>();
}

FileDataPtr RefFileManager::getFile(PhotoData* photo, bool fetch)
{
    if (!photo || photo->fileId().isEmpty())
        return {};
    FileDataPtr file;
    {
        QMutexLocker lock(&m_mutex);
        file = liveLocked(photo->fileId());
        if (!file) {
            auto* made = new FileData;
            made->setFileId(photo->fileId());
            made->setFilePath(photo->filePath());
            made->setCacheFilePath(photo->cacheFilePath());
            made->setAesKey(photo->aesKey());
            made->setFileMd5(photo->fileMd5());
            made->setSize(photo->size());
            made->setFileName(photo->fileName());
            made->setFileType(photo->fileType());
            made->setModelSourceType(photo->modelSourceType());
            file = adoptLocked(made);
        }
    }
    if (fetch && !file->fileExist())
        download(file, true, file->fileType());
    return file;
}

// ---- records the callers manage ----

FileDataPtr RefFileManager::duplicateFile(const FileDataPtr& file, const QString& newId, int fileType)
{
    if (!file || newId.isEmpty())
        return {};
    FileDataPtr copy;
    {
        QMutexLocker lock(&m_mutex);
        copy = liveLocked(newId);
        if (copy)
            return copy;
        auto* made = new FileData;
        made->setFileId(newId);
        made->setFilePath(file->filePath());
        made->setAesKey(file->aesKey());
        made->setFileMd5(file->fileMd5());
        made->setSize(file->size());
        made->setFileName(file->fileName());
        made->setFileType(fileType >= 0 ? fileType : file->fileType());
        made->setModelSourceType(file->modelSourceType());
        copy = adoptLocked(made);
    }
    FileRecord r = recordOf(*copy);
    r.uploaded = true; // the server made the copy
    storeRecords({r});
    // The copy gets a cached copy of its own, so that either can be deleted alone.
    const QString source = file->cacheFilePath();
    if (!source.isEmpty() && QFileInfo::exists(source)) {
        const QString target = cachePathFor(newId, copy->fileName());
        QWeakPointer<FileData> weak = copy;
        m_pool.start([this, source, target, weak] {
            if (!copyWhole(source, target))
                return;
            QMetaObject::invokeMethod(
                this,
                [this, target, weak] {
                    FileDataPtr made = weak.toStrongRef();
                    if (!made || !record(made->fileId()))
                        return; // deleted meanwhile
                    made->setCacheFilePath(target);
                    FileRecord r = recordOf(*made);
                    storeRecords({r});
                },
                Qt::QueuedConnection);
        });
    }
    return copy;
}

void RefFileManager::deleteFileByRef(const FileDataPtr& file, bool removeLocal)
{
    if (file && !file->fileId().isEmpty())
        forget({file->fileId()}, removeLocal);
}

void RefFileManager::deleteFilesAll(const QStringList& fileIds, bool removeLocal)
{
    QStringList ids;
    for (const QString& id : fileIds) {
        if (!id.isEmpty() && !ids.contains(id))
            ids.append(id);
    }
    if (!ids.isEmpty())
        forget(ids, removeLocal);
}

void RefFileManager::discardFile(const FileDataPtr& file)
{
    deleteFileByRef(file, true);
}

void RefFileManager::saveFileInfos(const QList<FileDataPtr>& files)
{
    QList<FileRecord> records;
    for (const FileDataPtr& file : files) {
        if (file && !file->fileId().isEmpty())
            records.append(recordOf(*file));
    }
    storeRecords(records);
}

QStringList RefFileManager::fileIdsOfSource(int sourceType) const
{
    QMutexLocker lock(&m_mutex);
    QStringList ids;
    for (const FileRecord& r : m_records) {
        if (r.sourceType == sourceType)
            ids.append(r.id);
    }
    return ids;
}

void RefFileManager::addUploadId(const QString& fileId)
{
    if (fileId.isEmpty())
        return;
    QMutexLocker lock(&m_mutex);
    m_uploadIds.insert(fileId);
}

// ---- uploads ----

UploadMultiFileFilterPtr RefFileManager::makeFilter(const FileDataPtr& first, const FileDataPtr& second)
{
    const auto needed = [this](const FileDataPtr& file) { return file && !isUploaded(file->fileId()); };
    if (!needed(first) && !needed(second))
        return {};
    auto filter = UploadMultiFileFilterPtr::create();
    filter->firstFile = first;
    filter->secondFile = second;
    return filter;
}

void RefFileManager::uploadMultiFile(const UploadMultiFileFilterPtr& filter, int mode)
{
    if (!filter)
        return;
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, filter, mode] { uploadMultiFile(filter, mode); }, Qt::QueuedConnection);
        return;
    }
    auto job = std::make_shared<UploadJob>();
    job->filter = filter;
    job->mode = mode;
    for (const FileDataPtr& file : {filter->firstFile, filter->secondFile}) {
        if (!file || isUploaded(file->fileId()))
            continue;
        if (std::none_of(job->items.cbegin(), job->items.cend(),
                         [&file](const UploadJob::Item& item) { return item.file == file; }))
            job->items.append({file, {}, {}, 0});
    }
    for (const UploadJob::Item& item : std::as_const(job->items))
        item.file->setTransfer(FileData::TransferWaiting, 0);
    if (filter->first)
        m_waitingUploads.prepend(job);
    else
        m_waitingUploads.append(job);
    emit pendingTransfersChanged();
    // Later, never inside the caller's call: the callback may run into the caller's state.
    QMetaObject::invokeMethod(this, &RefFileManager::pumpUploads, Qt::QueuedConnection);
}

void RefFileManager::pumpUploads()
{
    while (m_activeUploads.size() < kMaxActiveUploads && !m_waitingUploads.isEmpty()) {
        const auto job = m_waitingUploads.takeFirst();
        m_activeUploads.append(job);
        startUpload(job);
    }
}

void RefFileManager::startUpload(const std::shared_ptr<UploadJob>& job)
{
    if (job->items.isEmpty()) {
        job->report(upload::Prepared, upload::Ok);
        finishUpload(job, upload::Ok);
        return;
    }
    if (!m_account->isOnline()) {
        finishUpload(job, upload::Failed);
        return;
    }
    QList<PrepareInput> inputs;
    for (const UploadJob::Item& item : std::as_const(job->items)) {
        FileData& file = *item.file;
        file.setTransfer(FileData::TransferRunning, 0);
        if (file.fileId().isEmpty())
            file.setFileId(Util::instance()->uuid());
        // A file keeps its key across retries: its holders may already have stored it.
        if (file.aesKey().size() != kKeySize)
            file.setAesKey(CryptoAES::createKey(kKeySize));
        inputs.append(
            {file.localPath(), file.aesKey(),
             cachePathFor(file.fileId(), file.fileName().isEmpty() ? file.filePath() : file.fileName())});
    }
    m_pool.start([this, job, inputs] {
        const Prepared prepared = prepareUpload(inputs);
        QMetaObject::invokeMethod(
            this,
            [this, job, prepared] {
                if (job->cancelled) {
                    // Cancelled while it was read: the copies made for it go with it.
                    QStringList made;
                    for (int i = 0; i < prepared.files.size(); ++i) {
                        const QString path = prepared.files.at(i).cachePath;
                        if (!path.isEmpty() && path != job->items.at(i).file->cacheFilePath())
                            made.append(path);
                    }
                    m_pool.start([made] {
                        for (const QString& path : made)
                            QFile::remove(path);
                    });
                    return;
                }
                if (prepared.status != upload::Ok) {
                    finishUpload(job, prepared.status);
                    return;
                }
                QList<FileRecord> records;
                for (int i = 0; i < job->items.size(); ++i) {
                    UploadJob::Item& item = job->items[i];
                    const PreparedFile& file = prepared.files.at(i);
                    item.cipher = file.cipher;
                    item.cipherMd5 = file.cipherMd5;
                    item.file->setSize(file.size);
                    item.file->setFileMd5(file.md5);
                    if (!file.cachePath.isEmpty())
                        item.file->setCacheFilePath(file.cachePath);
                    records.append(recordOf(*item.file));
                }
                storeRecords(records);
                job->report(upload::Prepared, upload::Ok);
                if (!job->cancelled)
                    sendUploadPiece(job);
            },
            Qt::QueuedConnection);
    });
}

void RefFileManager::sendUploadPiece(const std::shared_ptr<UploadJob>& job)
{
    if (!m_account->isOnline()) {
        finishUpload(job, upload::Failed);
        return;
    }
    UploadJob::Item& item = job->items[job->index];
    const QString id = item.file->fileId();
    QPointer<RefFileManager> self(this);
    job->sent = true;
    if (item.offset < item.cipher.size()) {
        im::file::UploadChunkReq req;
        req.set_file_id(id.toStdString());
        req.set_offset(item.offset);
        req.set_total_size(item.cipher.size());
        const qint64 length = std::min<qint64>(kChunkSize, item.cipher.size() - item.offset);
        req.set_data(item.cipher.constData() + item.offset, size_t(length));
        m_account->sendRequest(
            FileUploadChunk, bytesOf(req),
            [self, job, length](int code, const QByteArray& body) {
                if (!self || job->cancelled)
                    return;
                UploadJob::Item& sent = job->items[job->index];
                im::file::UploadChunkResp resp;
                if (code != 0 || !parse(resp, body) || resp.received() != sent.offset + length) {
                    self->finishUpload(job, code != 0 ? statusFor(code) : int(upload::Failed));
                    return;
                }
                sent.offset += length;
                sent.file->setTransfer(FileData::TransferRunning,
                                       double(sent.offset) / double(sent.cipher.size()));
                if (job->mode == upload::ReportProgress)
                    job->report(upload::Progress, upload::Ok);
                if (!job->cancelled)
                    self->sendUploadPiece(job);
            },
            false, {});
        return;
    }
    im::file::CompleteUploadReq req;
    req.set_file_id(id.toStdString());
    req.set_size(item.cipher.size());
    req.set_md5(item.cipherMd5.toStdString());
    m_account->sendRequest(FileCompleteUpload, bytesOf(req),
                           [self, job](int code, const QByteArray&) {
                               if (!self || job->cancelled)
                                   return;
                               if (code != 0) {
                                   // The next try sends the file again from its start.
                                   job->items[job->index].offset = 0;
                                   if (code < 0)
                                       self->m_maybeStored.insert(job->items[job->index].file->fileId());
                                   self->finishUpload(job, statusFor(code));
                                   return;
                               }
                               self->uploaded(job, upload::Ok);
                           },
                           false, {});
}

void RefFileManager::uploaded(const std::shared_ptr<UploadJob>& job, int status)
{
    UploadJob::Item& item = job->items[job->index];
    item.cipher.clear();
    item.file->setTransfer(FileData::TransferIdle, 1);
    FileRecord r = recordOf(*item.file);
    r.uploaded = true;
    m_maybeStored.remove(r.id);
    storeRecords({r});
    {
        QMutexLocker lock(&m_mutex);
        m_uploadIds.remove(r.id);
    }
    if (++job->index < job->items.size())
        sendUploadPiece(job);
    else
        finishUpload(job, status);
}

void RefFileManager::finishUpload(const std::shared_ptr<UploadJob>& job, int status)
{
    m_activeUploads.removeOne(job);
    m_waitingUploads.removeOne(job);
    // The files not stored yet: a failure starts them again from nothing.
    const int state = status == upload::Ok          ? FileData::TransferIdle
                      : status == upload::Failed    ? FileData::TransferFailedWillRetry
                      : status == upload::Cancelled ? FileData::TransferIdle
                                                    : FileData::TransferFailed;
    for (int i = job->index; i < job->items.size(); ++i)
        job->items[i].file->setTransfer(state, status == upload::Ok ? 1 : 0);
    for (UploadJob::Item& item : job->items) {
        item.cipher.clear();
        item.offset = 0;
    }
    if (status != upload::Ok)
        qCWarning(lcHostFiles) << "upload of" << job->filter->ownerId << "ended with status" << status;
    emit uploadFinished(job->filter->ownerId, status);
    emit pendingTransfersChanged();
    job->report(upload::Finished, status);
    QMetaObject::invokeMethod(this, &RefFileManager::pumpUploads, Qt::QueuedConnection);
}

void RefFileManager::cancelUpload(const QString& ownerId, const FileDataPtr& file,
                                  const FileDataPtr& thumbnail, int cancelType)
{
    QList<std::shared_ptr<UploadJob>> cancelled;
    for (const auto* jobs : {&m_waitingUploads, &m_activeUploads}) {
        for (const auto& job : *jobs) {
            if ((!ownerId.isEmpty() && job->filter->ownerId == ownerId) || job->holds(file) ||
                job->holds(thumbnail))
                cancelled.append(job);
        }
    }
    // Files whose upload already finished: the server keeps them until told.
    QStringList finished;
    for (const FileDataPtr& given : {file, thumbnail}) {
        if (!given || finished.contains(given->fileId()) ||
            !(isUploaded(given->fileId()) || m_maybeStored.contains(given->fileId())))
            continue;
        const bool inJob = std::any_of(cancelled.cbegin(), cancelled.cend(),
                                       [&given](const auto& job) { return job->holds(given); });
        if (!inJob)
            finished.append(given->fileId());
    }
    if (!finished.isEmpty())
        deleteFiles(finished);
    for (const auto& job : std::as_const(cancelled)) {
        job->cancelled = true;
        m_activeUploads.removeOne(job);
        m_waitingUploads.removeOne(job);
        QStringList ids;
        for (UploadJob::Item& item : job->items) {
            item.cipher.clear();
            item.file->setTransfer(FileData::TransferIdle, 0);
            ids.append(item.file->fileId());
        }
        {
            QMutexLocker lock(&m_mutex);
            for (const QString& id : std::as_const(ids))
                m_uploadIds.remove(id);
        }
        // What the server received of it goes too.
        if (job->sent)
            deleteFiles(ids);
        emit uploadFinished(job->filter->ownerId, upload::Cancelled);
        if (cancelType != upload::CancelQuietly)
            job->report(upload::Finished, upload::Cancelled);
    }
    if (!cancelled.isEmpty()) {
        emit pendingTransfersChanged();
        QMetaObject::invokeMethod(this, &RefFileManager::pumpUploads, Qt::QueuedConnection);
    }
}

// ---- downloads ----

void RefFileManager::download(const FileDataPtr& file, bool highPriority, int type)
{
    fetch(file, type, highPriority, false);
}

void RefFileManager::fetch(const FileDataPtr& file, int type, bool highPriority, bool background)
{
    if (!file || file->fileId().isEmpty() || file->fileExist())
        return;
    {
        QMutexLocker lock(&m_mutex);
        if (m_uploadIds.contains(file->fileId()))
            return;
        // What the caller's object knows is what the download needs, even before any record.
        FileRecord& r = m_records[file->fileId()];
        if (r.id.isEmpty()) {
            r.id = file->fileId();
            r.name = file->fileName();
            r.fileType = file->fileType() > 0 ? file->fileType() : type;
            r.sourceType = file->modelSourceType();
        }
        if (r.key.size() != kKeySize)
            r.key = file->aesKey();
        if (r.md5.isEmpty())
            r.md5 = file->fileMd5();
        if (r.size <= 0)
            r.size = file->size();
    }
    queueDownload(file->fileId(), file->fileName(), type, highPriority, background);
}

void RefFileManager::downloads(const QStringList& fileIds, bool highPriority, bool notify, bool background)
{
    auto batch = std::make_shared<Batch>();
    for (const QString& id : fileIds) {
        if (id.isEmpty() || batch->ids.contains(id))
            continue;
        batch->ids.append(id);
        FileDataPtr live;
        bool known = false;
        {
            QMutexLocker lock(&m_mutex);
            if (m_uploadIds.contains(id))
                continue;
            live = liveLocked(id);
            known = live || m_records.contains(id);
        }
        if (live) {
            if (live->fileExist())
                continue;
            fetch(live, live->fileType(), highPriority, background);
        } else if (!known) {
            qCWarning(lcHostFiles) << "download of unknown file" << id;
            batch->pending.insert(id);
            failLater(id);
            continue;
        } else {
            const FileRecord r = *record(id);
            if ((!r.cachePath.isEmpty() && QFileInfo::exists(r.cachePath)) ||
                (!r.path.isEmpty() && QFileInfo::exists(r.path)))
                continue;
            queueDownload(id, r.name, r.fileType, highPriority, background);
        }
        batch->pending.insert(id);
    }
    if (!notify)
        return;
    if (batch->pending.isEmpty()) {
        QMetaObject::invokeMethod(
            this, [this, batch] { emit downloadsFinished(batch->ids, batch->failed); }, Qt::QueuedConnection);
        return;
    }
    m_batches.append(batch);
}

void RefFileManager::failLater(const QString& id)
{
    QMetaObject::invokeMethod(
        this,
        [this, id] {
            emit fileDownloaded(id, false);
            settleBatches(id, false);
        },
        Qt::QueuedConnection);
}

void RefFileManager::queueDownload(const QString& id, const QString& name, int fileType, bool highPriority,
                                   bool background)
{
    if (const auto queued = m_downloads.value(id); queued && !queued->cancelled) {
        if (highPriority && m_waitingDownloads.removeOne(queued))
            m_waitingDownloads.prepend(queued);
        return;
    }
    const FileRecord r = *record(id);
    auto job = std::make_shared<DownloadJob>();
    job->id = id;
    job->key = r.key;
    job->md5 = r.md5;
    job->size = r.size;
    job->fileType = fileType;
    job->background = background;
    job->target = cachePathFor(id, name.isEmpty() ? r.name : name);
    if (job->key.size() != kKeySize) {
        qCWarning(lcHostFiles) << "file" << id << "has no key to open it with";
        failLater(id);
        return;
    }
    m_downloads.insert(id, job);
    showDownload(id, FileData::TransferWaiting, 0);
    if (highPriority) {
        m_waitingDownloads.prepend(job);
    } else if (background) {
        m_waitingDownloads.append(job);
    } else {
        const auto firstBackground = std::find_if(m_waitingDownloads.begin(), m_waitingDownloads.end(),
                                                  [](const auto& waiting) { return waiting->background; });
        m_waitingDownloads.insert(firstBackground, job);
    }
    emit pendingTransfersChanged();
    QMetaObject::invokeMethod(this, &RefFileManager::pumpDownloads, Qt::QueuedConnection);
}

void RefFileManager::showDownload(const QString& id, int state, qreal progress)
{
    FileDataPtr live;
    {
        QMutexLocker lock(&m_mutex);
        live = liveLocked(id);
    }
    if (live)
        live->setTransfer(state, progress);
}

void RefFileManager::pumpDownloads()
{
    while (m_activeDownloads < kMaxActiveDownloads && !m_waitingDownloads.isEmpty()) {
        const auto job = m_waitingDownloads.takeFirst();
        if (job->cancelled) {
            finishDownload(job, {});
            continue;
        }
        job->running = true;
        ++m_activeDownloads;
        requestPiece(job);
    }
}

void RefFileManager::requestPiece(const std::shared_ptr<DownloadJob>& job)
{
    if (!m_account->isOnline()) {
        finishDownload(job, {});
        return;
    }
    im::file::DownloadChunkReq req;
    req.set_file_id(job->id.toStdString());
    req.set_offset(job->cipher.size());
    req.set_length(kChunkSize);
    QPointer<RefFileManager> self(this);
    m_account->sendRequest(FileDownloadChunk, bytesOf(req),
                           [self, job](int code, const QByteArray& body) {
                               if (self)
                                   self->pieceArrived(job, code, body);
                           },
                           false, {});
}

void RefFileManager::pieceArrived(const std::shared_ptr<DownloadJob>& job, int code, const QByteArray& body)
{
    im::file::DownloadChunkResp resp;
    if (job->cancelled || code != 0 || !parse(resp, body)) {
        if (code != 0)
            qCWarning(lcHostFiles) << "download of" << job->id << "failed with code" << code;
        job->code = code;
        finishDownload(job, {});
        return;
    }
    const qint64 total = resp.file().size();
    const QString md5 = QString::fromStdString(resp.file().md5());
    if (job->total < 0) {
        if (total <= 0 || total > kMaxStoredBytes) {
            finishDownload(job, {});
            return;
        }
        job->total = total;
        job->serverMd5 = md5;
        job->cipher.reserve(total);
    }
    const qint64 length = qint64(resp.data().size());
    // The file must not change under the download, and every answer must move it on.
    if (total != job->total || md5 != job->serverMd5 || length == 0 || job->cipher.size() + length > total) {
        finishDownload(job, {});
        return;
    }
    job->cipher.append(resp.data().data(), length);
    showDownload(job->id, FileData::TransferRunning, double(job->cipher.size()) / double(job->total));
    if (job->cipher.size() < job->total) {
        requestPiece(job);
        return;
    }
    m_pool.start([this, job] {
        const QString path = verifyDownload(job->cipher, job->key, job->size, job->md5, job->target);
        QMetaObject::invokeMethod(
            this, [this, job, path] { finishDownload(job, path); }, Qt::QueuedConnection);
    });
}

void RefFileManager::finishDownload(const std::shared_ptr<DownloadJob>& job, const QString& path)
{
    if (m_downloads.value(job->id) == job)
        m_downloads.remove(job->id);
    if (job->running) {
        job->running = false;
        --m_activeDownloads;
    }
    job->cipher.clear();
    bool ok = !path.isEmpty();
    if (ok && job->cancelled) {
        // Deleted while it came: it must not stay behind.
        m_pool.start([path] { QFile::remove(path); });
        ok = false;
    }
    // A file someone waits for that the server does not have, or that arrives damaged, will not
    // come by trying again (unlike after a network failure or a server error): said once per file.
    const bool forGood = job->code >= 0 && job->code < 500;
    if (!ok && !job->cancelled && !job->background && forGood && !m_failedForGood.contains(job->id)) {
        m_failedForGood.insert(job->id);
        AccountManager::getInstance()->report(m_account->accountId(), AccountManager::Failure, job->code,
                                              qtTrId("file_download_failed"), FileDownloadChunk);
    }
    if (ok) {
        FileDataPtr live;
        {
            QMutexLocker lock(&m_mutex);
            live = liveLocked(job->id);
        }
        if (live)
            live->setCacheFilePath(path);
        auto r = record(job->id);
        if (r) {
            r->cachePath = path;
            r->uploaded = true;
            if (r->fileType <= 0)
                r->fileType = job->fileType;
            storeRecords({*r});
        }
        if (auto* storage = m_account->storage()) {
            const QStringList ids{job->id};
            const qint64 now = m_account->currentTime();
            ThreadManager::getInstance()->invoke(
                [storage, ids, now] { storage->cacheFileStorage()->updateTimestamp(ids, now); },
                ThreadManager::onMainThread());
        }
    }
    showDownload(job->id,
                 ok || job->cancelled ? FileData::TransferIdle
                 : forGood            ? FileData::TransferFailed
                                      : FileData::TransferFailedWillRetry,
                 ok ? 1 : 0);
    emit fileDownloaded(job->id, ok);
    settleBatches(job->id, ok);
    emit pendingTransfersChanged();
    QMetaObject::invokeMethod(this, &RefFileManager::pumpDownloads, Qt::QueuedConnection);
}

void RefFileManager::settleBatches(const QString& id, bool ok)
{
    for (auto it = m_batches.begin(); it != m_batches.end();) {
        const auto batch = *it;
        if (batch->pending.remove(id) && !ok)
            batch->failed.append(id);
        if (batch->pending.isEmpty()) {
            it = m_batches.erase(it);
            emit downloadsFinished(batch->ids, batch->failed);
        } else {
            ++it;
        }
    }
}

// ---- server-side copies and deletions ----

void RefFileManager::duplicateFiles(const QStringList& fileIds, DuplicateCallback callback)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, fileIds, callback] { duplicateFiles(fileIds, callback); }, Qt::QueuedConnection);
        return;
    }
    const auto answer = [this, callback](const QHash<QString, QString>& map, int code) {
        QMetaObject::invokeMethod(
            this,
            [callback, map, code] {
                if (callback)
                    callback(map, code);
            },
            Qt::QueuedConnection);
    };
    if (fileIds.isEmpty()) {
        answer({}, 0);
        return;
    }
    if (!m_account->isOnline()) {
        answer({}, AccountBase::kNetworkError);
        return;
    }
    im::file::DuplicateFilesReq req;
    for (const QString& id : fileIds)
        req.add_file_ids(id.toStdString());
    m_account->sendRequest(FileDuplicate, bytesOf(req),
                           [fileIds, callback](int code, const QByteArray& body) {
                               if (!callback)
                                   return;
                               if (code != 0) {
                                   callback({}, code);
                                   return;
                               }
                               im::file::DuplicateFilesResp resp;
                               QHash<QString, QString> map;
                               if (parse(resp, body)) {
                                   for (const auto& [from, to] : resp.old_to_new())
                                       map.insert(QString::fromStdString(from), QString::fromStdString(to));
                               }
                               // Every file must have its copy, or none counts.
                               const bool complete =
                                   std::all_of(fileIds.cbegin(), fileIds.cend(), [&map](const QString& id) {
                                       return !map.value(id).isEmpty();
                                   });
                               if (!complete) {
                                   callback({}, kBadAnswer);
                                   return;
                               }
                               callback(map, 0);
                           },
                           false, {});
}

void RefFileManager::deleteFiles(const QStringList& fileIds)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, fileIds] { deleteFiles(fileIds); }, Qt::QueuedConnection);
        return;
    }
    if (fileIds.isEmpty())
        return;
    im::file::DeleteFilesReq req;
    for (const QString& id : fileIds) {
        req.add_file_ids(id.toStdString());
        m_unsentDeletes.insert(id);
        m_maybeStored.remove(id);
    }
    storeDeletes();
    QPointer<RefFileManager> self(this);
    m_account->sendRequest(FileDelete, bytesOf(req),
                           [self, fileIds](int code, const QByteArray&) {
                               if (!self)
                                   return;
                               if (code < 0) {
                                   // Lost on the way while still online: tried again a little later.
                                   if (self->m_account->isOnline() && !self->m_deleteRetry.isActive())
                                       self->m_deleteRetry.start();
                                   return;
                               }
                               for (const QString& id : fileIds)
                                   self->m_unsentDeletes.remove(id);
                               self->storeDeletes();
                               if (code != 0)
                                   qCWarning(lcHostFiles)
                                       << "deleting" << fileIds << "on the server failed with code" << code;
                           },
                           false, {});
}
