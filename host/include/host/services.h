#pragma once

#include "host/hostglobal.h"

#include <QByteArray>
#include <QSharedPointer>
#include <QString>
#include <QVariantMap>

// Host services that later models call. Each account's reference host provides them.

class HOST_EXPORT ReminderHandler {
public:
    virtual ~ReminderHandler();
    virtual void listAndNotif(const QString& key, const QByteArray& value) = 0;
    // result: -1 failed, 1 another device's newer value wins (key and value given), 0 done.
    virtual void syncFinished(const QString& key, const QByteArray& value, int result) = 0;
};

class HOST_EXPORT EmojiParser {
public:
    static EmojiParser* instance();
    // The emoji at an index of the host's emoji table, wrapping around.
    QString emojiByIndex(qint64 index) const;
};

class StickerItem;
class CustomEmojiItem;

class HOST_EXPORT StickerBoxSetMgr {
public:
    virtual ~StickerBoxSetMgr();
    virtual void updateFavorite(const QByteArray& value) = 0;
    virtual void updateFavorite(bool ok, const QVariantMap& context) = 0;
    virtual void updateGifHistory(const QByteArray& value) = 0;
    virtual void updateGifHistory(bool ok, const QVariantMap& context) = 0;
    virtual void updateGifHistoryRetry(const QByteArray& value, const QVariantMap& context) = 0;
    virtual QSharedPointer<StickerItem> stickerItemPtr(qint64 pid, const QString& fileId) = 0;
    virtual QSharedPointer<CustomEmojiItem> customEmojiItemPtr(qint64 packId, qint64 customEmojiId) = 0;
};

namespace network {
class HOST_EXPORT NetworkSubject {
public:
    static NetworkSubject* instance();
    bool networkReachable() const { return m_reachable; }
    void setNetworkReachable(bool reachable) { m_reachable = reachable; }

private:
    bool m_reachable = true;
};
} // namespace network
