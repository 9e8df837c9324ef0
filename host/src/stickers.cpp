#include "host/stickers.h"

#include "host/accountbase.h"

#include <QJSEngine>

StickerItem::StickerItem(qint64 pid, int sourceType, QObject* parent)
    : QObject(parent),
      m_pid(pid),
      m_sourceType(sourceType)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

CustomEmojiItem::CustomEmojiItem(qint64 packId, qint64 customEmojiId, QObject* parent)
    : QObject(parent),
      m_packId(packId),
      m_customEmojiId(customEmojiId)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

QStringList StickerItem::getDownloadSticker() const
{
    QStringList ids;
    for (const StickerDataPtr& file : {m_sourceFile, m_animatedFile}) {
        if (file && !file->fileId().isEmpty() && !file->fileExist() && !ids.contains(file->fileId()))
            ids.append(file->fileId());
    }
    return ids;
}

CustomEmojiItem::CustomEmojiItem(const QVariantMap& map, int sourceType, AccountBase* account,
                                 QObject* parent)
    : QObject(parent),
      m_packId(map.value(QStringLiteral("packId")).toLongLong()),
      m_customEmojiId(map.value(QStringLiteral("customEmojiId")).toLongLong())
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
    FileManager* files = account ? account->fileManager() : nullptr;
    if (files && !map.value(QStringLiteral("fileId")).toString().isEmpty())
        m_file = files->createStickerData(map, sourceType);
}

QStringList CustomEmojiItem::getDownloadFiles() const
{
    if (!m_file || m_file->fileId().isEmpty() || m_file->fileExist())
        return {};
    return {m_file->fileId()};
}
