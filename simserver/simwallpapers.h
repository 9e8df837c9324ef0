#pragma once

#include "im/common.pb.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QStringList>

#include <functional>
#include <optional>

class SimFileStore;
namespace im::server {
class UserState;
} // namespace im::server

// One user's wallpapers on the server. Every change takes the next sequence number, which is
// the offset devices page from; a deleted wallpaper stays as a tombstone so that a device that
// pages later learns of it. A new user starts with the default set: preset and pattern
// wallpapers whose images the server draws itself and stores, encrypted, for every user to read.
class SimWallpapers {
public:
    struct Result {
        int code = 0;
        QByteArray body;
        // What the user's other devices are told.
        QList<im::WallPaper> changed;
    };

    SimWallpapers(std::function<qint64()> clock, SimFileStore* files, qint64 userId);

    void setFileStore(SimFileStore* files, qint64 userId);
    void setPageSize(int size) { m_pageSize = size; }

    Result list(const QByteArray& body);
    Result save(const QByteArray& body);
    Result remove(const QByteArray& body);
    Result get(const QByteArray& body);
    Result reset();

    // Live (not deleted) wallpapers, and those of the user's own.
    int count() const;
    int ownCount() const;
    std::optional<im::WallPaper> wallpaper(const QString& id) const;
    // The live wallpapers' ids in the order they last changed.
    QStringList ids() const;
    // The live wallpapers, serialised one after another.
    QByteArray liveBytes() const;

    void saveState(im::server::UserState* state) const;
    void restoreState(const im::server::UserState& state);

private:
    struct Stored {
        im::WallPaper wallpaper;
        qint64 sequence = 0;
    };
    void seedDefaults();
    // Stores a change under the next sequence number.
    const im::WallPaper& store(im::WallPaper wallpaper);
    im::WallPaper tombstone(const im::WallPaper& wallpaper);
    bool filesReadable(const im::WallPaper& wallpaper) const;
    QStringList fileIdsOf(const im::WallPaper& wallpaper) const;

    std::function<qint64()> m_clock;
    SimFileStore* m_files;
    qint64 m_userId;
    QHash<QString, Stored> m_wallpapers;
    qint64 m_sequence = 0;
    int m_pageSize = 50;
    bool m_seeded = false;
};
