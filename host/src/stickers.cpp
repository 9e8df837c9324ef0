#include "host/stickers.h"

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
