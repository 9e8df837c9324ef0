#pragma once

#include "host/hostglobal.h"

#include <QByteArray>

// Per-account sync offsets and recents. Reads are served from memory.
class HOST_EXPORT DataInfoModel {
public:
    virtual ~DataInfoModel();
    virtual qint64 sharedReferenceOffset() const = 0;
    virtual void saveSharedReferenceOffset(qint64 offset) = 0;
    virtual qint64 wallpaperOffset() const = 0;
    virtual void saveWallpaperOffset(qint64 offset) = 0;
    // The wallpaper ids whose delete the server has not confirmed (a JSON list), so that a restart
    // sends them again.
    virtual QByteArray wallpaperDeletes() const = 0;
    virtual void saveWallpaperDeletes(const QByteArray& json) = 0;
    virtual QByteArray emojiRecent() const = 0;
    virtual void saveEmojiRecent(const QByteArray& json) = 0;
    virtual QByteArray reactionEmojiRecent() const = 0;
    virtual void saveReactionEmojiRecent(const QByteArray& json) = 0;
};
