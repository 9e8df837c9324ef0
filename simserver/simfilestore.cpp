#include "simfilestore.h"

#include "host/constants.h"

#include <QUuid>

namespace {
// Encryption adds a nonce and a tag around the content.
constexpr qint64 kMaxStoredBytes = FILE_SIZE_LIMIT + 64;
} // namespace

QStringList SimFileStore::ownedBy(qint64 user) const
{
    QStringList ids;
    for (auto it = m_files.cbegin(); it != m_files.cend(); ++it) {
        if (it->owner == user && !it->everyone)
            ids.append(it.key());
    }
    return ids;
}

QString SimFileStore::key(qint64 user, const QString& fileId)
{
    return QString::number(user) + QLatin1Char('/') + fileId;
}

SimFileStore::Result SimFileStore::appendChunk(qint64 user, const QString& fileId, qint64 offset,
                                               qint64 totalSize, const QByteArray& data, qint64& received)
{
    received = 0;
    if (fileId.isEmpty() || totalSize <= 0)
        return Result::Mismatch;
    if (totalSize > kMaxStoredBytes)
        return Result::TooLarge;
    // An id is its owner's: nobody else may write over it.
    const auto existing = m_files.constFind(fileId);
    if (existing != m_files.cend() && existing->owner != user)
        return Result::Conflict;
    const QString uploadKey = key(user, fileId);
    if (offset == 0) {
        Upload fresh;
        fresh.owner = user;
        fresh.totalSize = totalSize;
        fresh.md5 = std::make_shared<QCryptographicHash>(QCryptographicHash::Md5);
        m_uploads.insert(uploadKey, fresh);
    }
    const auto it = m_uploads.find(uploadKey);
    if (it == m_uploads.end())
        return Result::NotFound;
    if (offset != it->bytes.size() || it->totalSize != totalSize || offset + data.size() > totalSize)
        return Result::Mismatch;
    it->bytes.append(data);
    it->md5->addData(data);
    received = it->bytes.size();
    if (m_uploadJournal)
        m_uploadJournal({user, fileId, totalSize, offset, &data});
    return Result::Ok;
}

SimFileStore::Result SimFileStore::completeUpload(qint64 user, const QString& fileId, qint64 size,
                                                  const QString& md5)
{
    const auto it = m_uploads.find(key(user, fileId));
    if (it == m_uploads.end())
        return Result::NotFound;
    const Upload upload = *it;
    m_uploads.erase(it);
    uploadEnded(user, fileId);
    const QString stored = QString::fromLatin1(upload.md5->result().toHex());
    if (upload.bytes.size() != upload.totalSize || size != upload.totalSize || md5 != stored)
        return Result::Mismatch;
    File file;
    file.owner = user;
    file.bytes = upload.bytes;
    file.md5 = stored;
    m_files.insert(fileId, file);
    changed(fileId);
    return Result::Ok;
}

const SimFileStore::File* SimFileStore::readable(qint64 user, const QString& fileId) const
{
    const auto it = m_files.constFind(fileId);
    if (it == m_files.cend() || (it->owner != user && !it->everyone && !it->readers.contains(user)))
        return nullptr;
    return &*it;
}

std::optional<QHash<QString, QString>> SimFileStore::duplicate(qint64 user, const QStringList& fileIds)
{
    for (const QString& id : fileIds) {
        if (!readable(user, id))
            return std::nullopt;
    }
    QHash<QString, QString> oldToNew;
    for (const QString& id : fileIds) {
        if (oldToNew.contains(id))
            continue;
        File copy = m_files.value(id);
        copy.owner = user;
        copy.readers.clear();
        const QString newId = QUuid::createUuid().toString(QUuid::Id128);
        m_files.insert(newId, copy);
        changed(newId);
        oldToNew.insert(id, newId);
    }
    return oldToNew;
}

QStringList SimFileStore::remove(qint64 user, const QStringList& fileIds)
{
    QStringList removed;
    for (const QString& id : fileIds) {
        if (m_uploads.remove(key(user, id)))
            uploadEnded(user, id);
        const auto it = m_files.find(id);
        if (it == m_files.end() || it->owner != user)
            continue;
        m_files.erase(it);
        changed(id);
        removed.append(id);
    }
    return removed;
}

void SimFileStore::share(const QString& fileId, qint64 reader)
{
    const auto it = m_files.find(fileId);
    if (it == m_files.end() || it->readers.contains(reader))
        return;
    it->readers.insert(reader);
    changed(fileId);
}

void SimFileStore::changed(const QString& fileId) const
{
    if (!m_journal)
        return;
    const auto it = m_files.constFind(fileId);
    m_journal(fileId, it == m_files.cend() ? nullptr : &*it);
}

qint64 SimFileStore::bytesStored() const
{
    qint64 total = 0;
    for (const File& file : m_files)
        total += file.bytes.size();
    return total;
}

void SimFileStore::corrupt(const QString& fileId)
{
    const auto it = m_files.find(fileId);
    if (it != m_files.end() && !it->bytes.isEmpty())
        it->bytes[it->bytes.size() / 2] = char(it->bytes.at(it->bytes.size() / 2) ^ 0x5a);
}

void SimFileStore::publish(const QString& fileId, const QByteArray& bytes)
{
    File file;
    file.bytes = bytes;
    file.md5 = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
    file.everyone = true;
    m_files.insert(fileId, file);
    changed(fileId);
}

void SimFileStore::restoreUpload(qint64 owner, const QString& fileId, qint64 totalSize,
                                 const QByteArray& bytes)
{
    Upload upload;
    upload.owner = owner;
    upload.totalSize = totalSize;
    upload.bytes = bytes;
    upload.md5 = std::make_shared<QCryptographicHash>(QCryptographicHash::Md5);
    upload.md5->addData(bytes);
    m_uploads.insert(key(owner, fileId), upload);
}

void SimFileStore::uploadEnded(qint64 owner, const QString& fileId) const
{
    if (m_uploadJournal)
        m_uploadJournal({owner, fileId, 0, 0, nullptr});
}
