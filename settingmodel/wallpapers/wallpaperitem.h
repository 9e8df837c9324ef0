#pragma once

#include "host/files.h"
#include "im/common.pb.h"
#include "settingmodel_global.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QSharedPointer>
#include <QStringList>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

#include <optional>

class AccountBase;

// One chat wallpaper: an image the user uploaded, a pattern over colours (shipped with the
// application or stored on the server) or one of the server's presets. Built from and written
// back to the protocol message, whose fields the item does not manage pass through unchanged.
class SETTINGMODEL_EXPORT WallpaperItem : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("WallpaperItem is made by the module")
    Q_PROPERTY(QString wallpaperId READ wallpaperId CONSTANT)
    Q_PROPERTY(QByteArray thumbBytes READ thumbBytes CONSTANT)
    Q_PROPERTY(FileData* loPhoto READ loPhoto NOTIFY loPhotoChanged)
    Q_PROPERTY(FileData* hiPhoto READ hiPhoto NOTIFY hiPhotoChanged)
    Q_PROPERTY(bool isOwner READ isOwner CONSTANT)
    Q_PROPERTY(bool isPreset READ isPreset CONSTANT)
    Q_PROPERTY(bool hasPattern READ hasPattern WRITE setHasPattern NOTIFY hasPatternChanged)
    Q_PROPERTY(bool isDark READ isDark WRITE setIsDark NOTIFY isDarkChanged)
    Q_PROPERTY(QStringList bgColors READ bgColors WRITE setBgColors NOTIFY bgColorsChanged)
    Q_PROPERTY(int rotation READ rotation WRITE setRotation NOTIFY rotationChanged)
    Q_PROPERTY(int blur READ blur WRITE setBlur NOTIFY blurChanged)
    Q_PROPERTY(bool isMotion READ isMotion WRITE setIsMotion NOTIFY isMotionChanged)
    Q_PROPERTY(int intensity READ intensity WRITE setIntensity NOTIFY intensityChanged)
    Q_PROPERTY(int scale READ scale WRITE setScale NOTIFY scaleChanged)
    Q_PROPERTY(int fillType READ fillType WRITE setFillType NOTIFY fillTypeChanged)
    Q_PROPERTY(bool unsynced READ unsynced NOTIFY unsyncedChanged)
    // An unsynced wallpaper whose upload failed: it waits for the handler's reuploadFailed,
    // where one without it is on its way.
    Q_PROPERTY(bool uploadFailed READ uploadFailed NOTIFY uploadFailedChanged)
    Q_PROPERTY(bool internalPattern READ internalPattern CONSTANT)
    Q_PROPERTY(bool themePlace READ themePlace CONSTANT)
public:
    // The file type and model source type of wallpaper images.
    static constexpr int kFileType = 10;
    static constexpr int kSourceType = 16;

    // A preset pattern of the application: "bg" (colour names), "fileId" and "pattern" (its path).
    explicit WallpaperItem(const QVariantMap& map, QObject* parent = nullptr);
    // presetDark: a preset's darkness as presetDarkOf gave it, when it was worked out already.
    WallpaperItem(AccountBase* account, const im::WallPaper& message, QObject* parent = nullptr,
                  std::optional<bool> presetDark = std::nullopt);
    WallpaperItem(AccountBase* account, bool isOwner, QObject* parent = nullptr);
    explicit WallpaperItem(const WallpaperItem* other, QObject* parent = nullptr);
    ~WallpaperItem() override;
    // Copies everything but unsynced and themePlace.
    WallpaperItem& operator=(const WallpaperItem& other);

    QString wallpaperId() const { return m_wallpaperId; }
    void setWallpaperId(const QString& id) { m_wallpaperId = id; }
    QByteArray thumbBytes() const { return m_thumbBytes; }
    void setThumbBytes(const QByteArray& bytes) { m_thumbBytes = bytes; }
    qint64 lastUpdated() const { return m_lastUpdated; }
    void setLastUpdated(qint64 time) { m_lastUpdated = time; }
    FileData* loPhoto() const { return m_loPhoto.data(); }
    FileData* hiPhoto() const { return m_hiPhoto.data(); }
    FileDataPtr loPhotoPtr() const { return m_loPhoto; }
    FileDataPtr hiPhotoPtr() const { return m_hiPhoto; }
    void setLoPhoto(const FileDataPtr& file);
    void setHiPhoto(const FileDataPtr& file);
    bool isOwner() const { return m_isOwner; }
    bool isPreset() const { return m_isPreset; }
    void setIsPreset(bool preset) { m_isPreset = preset; }
    bool hasPattern() const { return m_hasPattern; }
    void setHasPattern(bool hasPattern);
    bool isDark() const { return m_isDark; }
    // Sets the dark flag the order reads as well.
    void setIsDark(bool dark);
    bool sortDark() const { return m_sortDark; }
    QStringList bgColors() const { return m_bgColorNames; }
    QList<int> bgColorValues() const { return m_bgColors; }
    void setBgColors(const QStringList& names);
    void setBgColors(const QList<int>& colors);
    int rotation() const { return m_rotation; }
    void setRotation(int rotation);
    int blur() const { return m_blur; }
    void setBlur(int blur);
    bool isMotion() const { return m_isMotion; }
    void setIsMotion(bool motion);
    int intensity() const { return m_intensity; }
    void setIntensity(int intensity);
    int scale() const { return m_scale; }
    void setScale(int scale);
    int fillType() const { return m_fillType; }
    void setFillType(int fillType);
    bool unsynced() const { return m_unsynced; }
    void setUnsynced(bool unsynced);
    bool uploadFailed() const { return m_uploadFailed; }
    void setUploadFailed(bool failed);
    bool deleted() const { return m_deleted; }
    void setDeleted(bool deleted) { m_deleted = deleted; }
    bool internalPattern() const { return m_internalPattern; }
    bool themePlace() const { return m_themePlace; }
    void setThemePalce(bool themePlace) { m_themePlace = themePlace; }
    AccountBase* account() const { return m_account; }
    const im::WallPaper& message() const { return m_message; }

    Q_INVOKABLE bool hasThumbBytes() const { return !m_thumbBytes.isEmpty(); }
    Q_INVOKABLE bool sameWallpaper(WallpaperItem* other) const;

    // Writes the item into target: with forSave the id goes into the local id (the server
    // answers with its own id), else into the id.
    void serialize(im::WallPaper* target, bool forSave);

    // The order of the wallpaper list, greatest first, under the host's dark mode.
    bool operator>(const WallpaperItem& other) const;
    bool operator<(const WallpaperItem& other) const { return other > *this; }
    bool operator==(const WallpaperItem& other) const { return m_wallpaperId == other.m_wallpaperId; }
    // The same order under a given dark mode.
    static bool greater(const WallpaperItem& a, const WallpaperItem& b, bool darkMode);
    // What the order reads of an item, for a message not made into an item yet.
    struct SortKey {
        QString id;
        qint64 time = 0;
        bool hasPattern = false;
        bool hiPhoto = false;
        bool sortDark = false;
        bool isOwner = false;
    };
    static SortKey sortKeyOf(AccountBase* account, const im::WallPaper& message);
    static bool greater(const SortKey& a, const SortKey& b, bool darkMode);

private:
    struct ItemView;

public:
    // The id an item made of the message has.
    static QString idOf(const im::WallPaper& message);
    // A preset's darkness by its picture (decoding it), nothing for other wallpapers.
    static std::optional<bool> presetDarkOf(const im::WallPaper& message);

    // File operations; a pattern that ships with the application has nothing to fetch or delete.
    void getFileIds(QStringList& ids) const;
    // The ids of files not on disk yet, appended as they come: a list gathered over many items
    // may repeat an id, and is made unique once (per item it would cost a scan of the list).
    void downloadFileIds(QStringList& ids) const;
    void downloadFile(AccountBase* account) const;
    // Where one of the wallpaper's files is, or would be, as it stood when read.
    struct FilePlace {
        QString fileId;
        QString cacheFilePath;
        QString filePath;
    };
    // The places of the files downloadFileIds would look for, to be looked for off this thread.
    void filePlaces(QList<FilePlace>& places) const;
    // Forgets the wallpaper's images (records and cached copies), but those at a path in keep.
    void deleteFile(const QSet<QString>& keep = {}) const;
    // The cached copies' paths of the wallpaper's own images.
    void cachedFilePaths(QSet<QString>& paths) const;
    // Takes the server-side copies named in oldToNew; the files replaced go to replaced.
    void duplicatedFiles(AccountBase* account, const QHash<QString, QString>& oldToNew,
                         QList<FileDataPtr>& replaced);

    void clearPattern();
    void updatePatternInfo(const WallpaperItem* other);

signals:
    void loPhotoChanged();
    void hiPhotoChanged();
    void hasPatternChanged();
    void isDarkChanged();
    void brightChanged();
    void bgColorsChanged();
    void rotationChanged();
    void blurChanged();
    void isMotionChanged();
    void intensityChanged();
    void scaleChanged();
    void fillTypeChanged();
    void unsyncedChanged();
    void uploadFailedChanged();
    void uploadFaildChanged();
    void startDestroy();

private:
    void setPatternFile(const QString& fileId, const QString& path);
    template <class T> void assign(T& field, const T& value, void (WallpaperItem::*changed)());

    AccountBase* m_account = nullptr;
    im::WallPaper m_message;
    QString m_wallpaperId;
    qint64 m_lastUpdated = 0;
    QByteArray m_thumbBytes;
    FileDataPtr m_loPhoto;
    FileDataPtr m_hiPhoto;
    QList<int> m_bgColors;
    QStringList m_bgColorNames;
    int m_rotation = 0;
    int m_blur = 0;
    int m_intensity = 40;
    int m_scale = 0;
    int m_fillType = 1;
    bool m_isOwner = false;
    bool m_isPreset = false;
    bool m_hasPattern = false;
    bool m_internalPattern = false;
    bool m_isDark = false;
    bool m_sortDark = false;
    bool m_isMotion = false;
    bool m_unsynced = false;
    bool m_uploadFailed = false;
    bool m_deleted = false;
    bool m_themePlace = false;
};

using WallpaperItemPtr = QSharedPointer<WallpaperItem>;
Q_DECLARE_METATYPE(WallpaperItemPtr)
