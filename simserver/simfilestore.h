#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QHash>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// The server's file store, shared by the users of one simulated server world. It holds what
// clients uploaded (already encrypted; the store never sees a key), owned by the uploader.
// Only the owner may read, copy or delete a file, unless the owner shared it with another
// user (as sending it in a message would): then that user may read and copy it.
class SimFileStore {
public:
    struct File {
        qint64 owner = 0;
        QByteArray bytes;
        QString md5;
        QSet<qint64> readers;
        // The server's own file (a default wallpaper's image): every user may read it.
        bool everyone = false;
    };
    enum class Result { Ok, NotFound, Conflict, TooLarge, Mismatch };

    Result appendChunk(qint64 user, const QString& fileId, qint64 offset, qint64 totalSize,
                       const QByteArray& data, qint64& received);
    Result completeUpload(qint64 user, const QString& fileId, qint64 size, const QString& md5);
    // The file, when user may read it.
    const File* readable(qint64 user, const QString& fileId) const;
    // Copies under new ids owned by user; all or nothing. Returns old id to new id.
    std::optional<QHash<QString, QString>> duplicate(qint64 user, const QStringList& fileIds);
    // Removes the files user owns; returns their ids. Others' files stay.
    QStringList remove(qint64 user, const QStringList& fileIds);

    void share(const QString& fileId, qint64 reader);
    // Stores a file of the server's own, readable by every user and deleted by none.
    void publish(const QString& fileId, const QByteArray& bytes);
    bool contains(const QString& fileId) const { return m_files.contains(fileId); }
    // The ids of the files a user uploaded or copied (not the server's own).
    QStringList ownedBy(qint64 user) const;
    int count() const { return int(m_files.size()); }
    qint64 bytesStored() const;
    // Flips one stored byte without changing the recorded MD5: a disk or transfer fault.
    void corrupt(const QString& fileId);

    // Told of every stored file that came, changed or went (null then), for a store kept on
    // disk; uploads under way are not told of until complete.
    using Journal = std::function<void(const QString& fileId, const File* file)>;
    void setJournal(Journal journal) { m_journal = std::move(journal); }
    // A file kept from before, as the journal was told of it.
    void restore(const QString& fileId, const File& file) { m_files.insert(fileId, file); }
    // Told of every chunk an upload under way takes (offset 0 starts it again), and of the
    // upload's end (complete, refused or removed: data is null then), for a store kept on disk.
    struct UploadChunk {
        qint64 owner = 0;
        QString fileId;
        qint64 totalSize = 0;
        qint64 offset = 0;
        const QByteArray* data = nullptr;
    };
    using UploadJournal = std::function<void(const UploadChunk& chunk)>;
    void setUploadJournal(UploadJournal journal) { m_uploadJournal = std::move(journal); }
    // An upload under way kept from before, with the bytes it had taken.
    void restoreUpload(qint64 owner, const QString& fileId, qint64 totalSize, const QByteArray& bytes);

private:
    struct Upload {
        qint64 owner = 0;
        qint64 totalSize = 0;
        QByteArray bytes;
        std::shared_ptr<QCryptographicHash> md5;
    };
    static QString key(qint64 user, const QString& fileId);
    void changed(const QString& fileId) const;

    QHash<QString, File> m_files;
    QHash<QString, Upload> m_uploads; // by uploader and file id
    Journal m_journal;
    UploadJournal m_uploadJournal;
    void uploadEnded(qint64 owner, const QString& fileId) const;
};
