#pragma once

#include "host/services.h"
#include "host/stickers.h"

#include <QHash>
#include <QList>
#include <QObject>

// Reminders as the reference host keeps them: the synchronised reminder values by key, and
// the outcome of each of this device's reminder writes.
class HOST_EXPORT RefReminderHandler : public QObject, public ReminderHandler {
    Q_OBJECT
public:
    struct SyncResult {
        QString key;
        QByteArray value;
        int result = 0;
    };
    using QObject::QObject;

    void listAndNotif(const QString& key, const QByteArray& value) override;
    void syncFinished(const QString& key, const QByteArray& value, int result) override;

    QHash<QString, QByteArray> reminders() const { return m_reminders; }
    QList<SyncResult> syncResults() const { return m_syncResults; }

signals:
    void remindersChanged();

private:
    QHash<QString, QByteArray> m_reminders;
    QList<SyncResult> m_syncResults;
};

// Sticker images come through the account's file services, in the background.
class HOST_EXPORT RefDownloadStickerMgr : public DownloadStickerMgr {
public:
    explicit RefDownloadStickerMgr(FileManager* files) : m_files(files) {}
    void download(const QStringList& fileIds) override;

private:
    FileManager* m_files;
};

// Favourite stickers and GIF history as synchronised values, sticker items by pid.
class HOST_EXPORT RefStickerBoxSetMgr : public QObject, public StickerBoxSetMgr {
    Q_OBJECT
public:
    struct Answer {
        bool ok = false;
        QVariantMap context;
    };
    using QObject::QObject;

    void updateFavorite(const QByteArray& value) override;
    void updateFavorite(bool ok, const QVariantMap& context) override;
    void updateGifHistory(const QByteArray& value) override;
    void updateGifHistory(bool ok, const QVariantMap& context) override;
    void updateGifHistoryRetry(const QByteArray& value, const QVariantMap& context) override;
    QSharedPointer<StickerItem> stickerItemPtr(qint64 pid, const QString& fileId) override;
    QSharedPointer<CustomEmojiItem> customEmojiItemPtr(qint64 packId, qint64 customEmojiId) override;

    void addSticker(const QSharedPointer<StickerItem>& sticker);
    QByteArray favorites() const { return m_favorites; }
    QByteArray gifHistory() const { return m_gifHistory; }
    QList<Answer> favoriteAnswers() const { return m_favoriteAnswers; }
    QList<Answer> gifAnswers() const { return m_gifAnswers; }
    QList<QByteArray> gifRetries() const { return m_gifRetries; }

private:
    QByteArray m_favorites;
    QByteArray m_gifHistory;
    QList<Answer> m_favoriteAnswers;
    QList<Answer> m_gifAnswers;
    QList<QByteArray> m_gifRetries;
    QHash<qint64, QSharedPointer<StickerItem>> m_stickers;
    QHash<QPair<qint64, qint64>, QSharedPointer<CustomEmojiItem>> m_customEmoji;
};
