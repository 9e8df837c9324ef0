#pragma once

#include "host/files.h"
#include "host/hostglobal.h"

#include <QObject>
#include <QSharedPointer>
#include <QStringList>
#include <QVariantMap>

class AccountBase;

// A sticker image file, with its pixel size.
class HOST_EXPORT StickerData : public FileData {
    Q_OBJECT
public:
    using FileData::FileData;
    int width() const { return m_width; }
    int height() const { return m_height; }
    void setDimensions(int width, int height)
    {
        m_width = width;
        m_height = height;
    }

private:
    int m_width = 0;
    int m_height = 0;
};
using StickerDataPtr = QSharedPointer<StickerData>;

// One sticker of a pack: its still image and, for animated stickers, the animation.
class HOST_EXPORT StickerItem : public QObject {
    Q_OBJECT
    Q_PROPERTY(qint64 pid READ pid CONSTANT)
public:
    StickerItem(qint64 pid, int sourceType, QObject* parent = nullptr);

    qint64 pid() const { return m_pid; }
    int sourceType() const { return m_sourceType; }
    StickerDataPtr sourceFile() const { return m_sourceFile; }
    void setSourceFile(StickerDataPtr file) { m_sourceFile = std::move(file); }
    StickerDataPtr animatedFile() const { return m_animatedFile; }
    void setAnimatedFile(StickerDataPtr file) { m_animatedFile = std::move(file); }
    // The ids of its files that are not on this device.
    QStringList getDownloadSticker() const;

private:
    qint64 m_pid;
    int m_sourceType;
    StickerDataPtr m_sourceFile;
    StickerDataPtr m_animatedFile;
};

// One custom emoji of a pack.
class HOST_EXPORT CustomEmojiItem : public QObject {
    Q_OBJECT
    Q_PROPERTY(qint64 packId READ packId CONSTANT)
    Q_PROPERTY(qint64 customEmojiId READ customEmojiId CONSTANT)
public:
    CustomEmojiItem(qint64 packId, qint64 customEmojiId, QObject* parent = nullptr);
    // "packId", "customEmojiId", and its image when the map names it ("fileId", "aesKey").
    CustomEmojiItem(const QVariantMap& map, int sourceType, AccountBase* account, QObject* parent = nullptr);
    qint64 packId() const { return m_packId; }
    qint64 customEmojiId() const { return m_customEmojiId; }
    StickerDataPtr file() const { return m_file; }
    // The ids of its files that are not on this device.
    QStringList getDownloadFiles() const;

private:
    qint64 m_packId;
    qint64 m_customEmojiId;
    StickerDataPtr m_file;
};

// Fetches sticker and custom emoji images in the background.
class HOST_EXPORT DownloadStickerMgr {
public:
    virtual ~DownloadStickerMgr();
    virtual void download(const QStringList& fileIds) = 0;
};

// The account's sticker packs, favourites and GIF history.
class HOST_EXPORT StickerBoxSetMgr {
public:
    virtual ~StickerBoxSetMgr();
    // The favourite stickers as synchronised from the server.
    virtual void updateFavorite(const QByteArray& value) = 0;
    // The answer to this device's favourites write.
    virtual void updateFavorite(bool ok, const QVariantMap& context) = 0;
    virtual void updateGifHistory(const QByteArray& value) = 0;
    virtual void updateGifHistory(bool ok, const QVariantMap& context) = 0;
    // Another device's newer GIF history won; merge it and write again.
    virtual void updateGifHistoryRetry(const QByteArray& value, const QVariantMap& context) = 0;
    virtual QSharedPointer<StickerItem> stickerItemPtr(qint64 pid, const QString& fileId) = 0;
    virtual QSharedPointer<CustomEmojiItem> customEmojiItemPtr(qint64 packId, qint64 customEmojiId) = 0;
};
