#include "refservices.h"

void RefReminderHandler::listAndNotif(const QString& key, const QByteArray& value)
{
    if (value.isEmpty())
        m_reminders.remove(key);
    else
        m_reminders.insert(key, value);
    emit remindersChanged();
}

void RefReminderHandler::syncFinished(const QString& key, const QByteArray& value, int result)
{
    m_syncResults.append({key, value, result});
    if (result == 1)
        listAndNotif(key, value); // another device's newer reminder replaces ours
}

void RefStickerBoxSetMgr::updateFavorite(const QByteArray& value)
{
    m_favorites = value;
}

void RefStickerBoxSetMgr::updateFavorite(bool ok, const QVariantMap& context)
{
    m_favoriteAnswers.append({ok, context});
}

void RefStickerBoxSetMgr::updateGifHistory(const QByteArray& value)
{
    m_gifHistory = value;
}

void RefStickerBoxSetMgr::updateGifHistory(bool ok, const QVariantMap& context)
{
    m_gifAnswers.append({ok, context});
}

void RefStickerBoxSetMgr::updateGifHistoryRetry(const QByteArray& value, const QVariantMap& context)
{
    Q_UNUSED(context)
    m_gifHistory = value;
    m_gifRetries.append(value);
}

QSharedPointer<StickerItem> RefStickerBoxSetMgr::stickerItemPtr(qint64 pid, const QString& fileId)
{
    const auto sticker = m_stickers.value(pid);
    if (!sticker || (!fileId.isEmpty() && sticker->sourceFile() && sticker->sourceFile()->fileId() != fileId))
        return {};
    return sticker;
}

QSharedPointer<CustomEmojiItem> RefStickerBoxSetMgr::customEmojiItemPtr(qint64 packId, qint64 customEmojiId)
{
    auto& item = m_customEmoji[qMakePair(packId, customEmojiId)];
    if (!item)
        item = QSharedPointer<CustomEmojiItem>::create(packId, customEmojiId);
    return item;
}

void RefStickerBoxSetMgr::addSticker(const QSharedPointer<StickerItem>& sticker)
{
    m_stickers.insert(sticker->pid(), sticker);
}

void RefDownloadStickerMgr::download(const QStringList& fileIds)
{
    if (m_files && !fileIds.isEmpty())
        m_files->downloadFileMgr()->downloads(fileIds, false, false, true);
}
