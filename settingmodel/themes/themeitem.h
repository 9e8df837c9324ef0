#pragma once

#include "im/common.pb.h"
#include "settingmodel_global.h"
#include "wallpapers/wallpaperitem.h"

#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

class AccountBase;
class ColorCircleComponentItem;
class ColorCircleItem;
class QThread;

// One half of a theme (light or dark mode): accent colours, message-bubble colours, the chat
// wallpaper and the animation flag. While the user edits the wallpaper, a working copy holds the
// change until it is committed or cancelled.
class SETTINGMODEL_EXPORT ThemeComponentItem : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("ThemeComponentItem is made by the module")
    Q_PROPERTY(QStringList themeColors READ themeColors WRITE setThemeColors NOTIFY themeColorsChanged)
    Q_PROPERTY(
        QStringList messageColors READ messageColors WRITE setMessageColors NOTIFY messageColorsChanged)
    Q_PROPERTY(
        WallpaperItem* wallpaperItem READ wallpaperItem WRITE setWallpaperItem NOTIFY wallpaperItemChanged)
    Q_PROPERTY(WallpaperItem* editWallpaper READ editWallpaper NOTIFY editWallpaperChanged)
    Q_PROPERTY(bool animated READ animated WRITE setAnimated NOTIFY animatedChanged)
public:
    // "theme" and "message" (a colour name or a list of them) and the wallpaper's map keys.
    explicit ThemeComponentItem(const QVariantMap& map, QObject* parent = nullptr);
    explicit ThemeComponentItem(const ThemeComponentItem* source, QObject* parent = nullptr);
    ThemeComponentItem(AccountBase* account, const im::Theme_ThemeComponent& message,
                       QObject* parent = nullptr);

    QStringList themeColors() const { return m_themeColors; }
    void setThemeColors(const QStringList& colors);
    QStringList messageColors() const { return m_messageColors; }
    void setMessageColors(const QStringList& colors);
    QList<int> themeColorValues() const { return m_themeValues; }
    QList<int> messageColorValues() const { return m_messageValues; }
    WallpaperItem* wallpaperItem() const { return m_wallpaper.data(); }
    WallpaperItemPtr wallpaperPtr() const { return m_wallpaper; }
    // Takes a copy of wallpaper.
    void setWallpaperItem(WallpaperItem* wallpaper);
    WallpaperItem* editWallpaper() const { return m_editWallpaper.data(); }
    bool animated() const { return m_animated; }
    void setAnimated(bool animated);

    Q_INVOKABLE void updatePattern(WallpaperItem* wallpaper);
    Q_INVOKABLE void clearPhoto(bool allPhotoFile = false);

    // Wallpaper editing: a working copy of the wallpaper; commit makes it the wallpaper; finish
    // also drops the working copy.
    void beginEdit();
    // A wallpaper chosen while editing (the half keeps this object): the live one and the working
    // copy, so that a commit keeps it.
    void chooseWallpaper(const WallpaperItemPtr& wallpaper);
    void commitEdit();
    void finishEdit();
    void applyColorCircle(const ColorCircleComponentItem* circle);
    // Takes another device's version of this half.
    void update(AccountBase* account, const im::Theme_ThemeComponent& message);
    void serialize(im::Theme_ThemeComponent* out) const;

signals:
    void themeColorsChanged();
    void messageColorsChanged();
    void wallpaperItemChanged();
    void editWallpaperChanged();
    void animatedChanged();

private:
    void setWallpaperPtr(const WallpaperItemPtr& wallpaper);
    // The cached copies of a custom wallpaper that is being replaced.
    static void dropFiles(const WallpaperItemPtr& old, const WallpaperItemPtr& replacement);

    QStringList m_themeColors;
    QStringList m_messageColors;
    QList<int> m_themeValues;
    QList<int> m_messageValues;
    WallpaperItemPtr m_wallpaper;
    WallpaperItemPtr m_editWallpaper;
    // Between beginEdit and finishEdit, even while the half has no wallpaper to copy.
    bool m_editing = false;
    bool m_animated = false;
};

// A named pair of halves: a built-in theme (preset), or one the user made or changed. Sorted
// newest first: by create time, then by id.
class SETTINGMODEL_EXPORT ThemeItem : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("ThemeItem is made by the module")
    Q_PROPERTY(QString themeId READ themeId CONSTANT)
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(ThemeComponentItem* light READ light WRITE setLight NOTIFY lightChanged)
    Q_PROPERTY(ThemeComponentItem* dark READ dark WRITE setDark NOTIFY darkChanged)
    Q_PROPERTY(bool modified READ modified NOTIFY modifiedChanged)
    Q_PROPERTY(bool preset READ preset CONSTANT)
public:
    // "uuid", "emoji" (the name), "light" and "dark": a built-in theme.
    ThemeItem(const QVariantMap& map, qint64 createTime, QObject* parent = nullptr);
    explicit ThemeItem(const ThemeItem* source, QObject* parent = nullptr);
    ThemeItem(AccountBase* account, const QString& themeId, const im::Theme& theme,
              QObject* parent = nullptr);
    ~ThemeItem() override;

    QString themeId() const { return m_themeId; }
    QString name() const { return m_name; }
    void setName(const QString& name);
    ThemeComponentItem* light() const { return m_light; }
    ThemeComponentItem* dark() const { return m_dark; }
    // Takes the half, deleting the one it replaces.
    void setLight(ThemeComponentItem* light);
    void setDark(ThemeComponentItem* dark);
    bool modified() const { return m_modified; }
    void setModify(bool modified);
    bool preset() const { return m_preset; }
    void setPreset(bool preset) { m_preset = preset; }
    qint64 createTime() const { return m_createTime; }
    void setCreateTime(qint64 time) { m_createTime = time; }

    // Makes a copy a theme of the user's own.
    void newThemeId();
    void serialize(im::Theme* out);
    // Takes another device's version.
    void update(AccountBase* account, const im::Theme& theme);
    void resetThemeTo(const ThemeItem* source);
    void updateColors(const ColorCircleItem* circle);
    void updateColors(bool dark, const ColorCircleItem* circle);

    void createEditWallpaper();
    Q_INVOKABLE void cancelEditWallpaper();
    Q_INVOKABLE void saveEditWallpaper();
    void editWallpaperFinish();

    // The files of wallpapers the user made (a preset's belong to everyone).
    void getCustomFileIds(QList<QString>& ids) const;
    void downloadFile(AccountBase* account) const;
    void duplicatedFiles(AccountBase* account, const QHash<QString, QString>& oldToNew,
                         QList<QSharedPointer<FileData>>& replaced);
    // Deletes the cached images of its own wallpapers, but those at a path in keep.
    void deleteFile(const QSet<QString>& keep = {}) const;
    void cachedFilePaths(QSet<QString>& paths) const;
    void moveToThread(QThread* thread);

    // The list order: true when a comes before b (newer, or as new with a greater id).
    static bool before(const ThemeItem& a, const ThemeItem& b);
    bool operator==(const ThemeItem& other) const
    {
        return m_createTime == other.m_createTime && m_themeId == other.m_themeId;
    }
    bool operator<(const ThemeItem& other) const { return before(*this, other); }
    bool operator>(const ThemeItem& other) const { return before(other, *this); }

signals:
    void startDestroy();
    void nameChanged();
    void lightChanged();
    void darkChanged();
    void modifiedChanged();

private:
    void replaceHalf(ThemeComponentItem*& half, ThemeComponentItem* replacement,
                     void (ThemeItem::*changed)());
    void updateHalf(AccountBase* account, ThemeComponentItem*& half, bool present,
                    const im::Theme_ThemeComponent& message, void (ThemeItem::*changed)());

    ThemeComponentItem* m_light = nullptr;
    ThemeComponentItem* m_dark = nullptr;
    im::Theme m_message;
    QString m_themeId;
    QString m_name;
    qint64 m_createTime = 0;
    bool m_modified = false;
    bool m_preset = false;
};
