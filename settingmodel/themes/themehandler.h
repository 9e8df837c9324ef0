#pragma once

#include "generation.h"
#include "host/modelbase.h"
#include "settingmodel_global.h"
#include "themes/colorcirclemodel.h"
#include "themes/thememodel.h"

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QtQml/qqmlregistration.h>

#include <atomic>
#include <functional>

class AccountBase;
class QTimer;
class SharedPreferenceModel;
namespace storage {
struct WallpaperInfo;
}

// The account's themes: the built-in ones (as the user changed them), the user's own (at most
// ten), the current theme, the working copy of a theme being made or edited, and the colour
// circles. Changed and custom themes are synchronised preferences (type 24, Base64 of the theme
// message, keyed by theme id); the current theme lives in the account's settings; a chat's theme
// or wallpaper is sent on its own command.
class SETTINGMODEL_EXPORT ThemeHandler : public QObject, public ModelBase {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("ThemeHandler is made by the module")
    Q_PROPERTY(ThemeModel* presetThemeModel READ presetThemeModel CONSTANT)
    Q_PROPERTY(ThemeModel* themeModel READ themeModel CONSTANT)
    Q_PROPERTY(ThemeModel* customThemeModel READ customThemeModel CONSTANT)
    Q_PROPERTY(ThemeItem* currentTheme READ currentTheme WRITE setCurrentTheme NOTIFY currentThemeChanged)
    Q_PROPERTY(ColorCircleModel* colorCircleModel READ colorCircleModel CONSTANT)
public:
    static constexpr int kMaxCustomThemes = 10;
    // A burst of colour changes goes to the server once, this long after its first change.
    static constexpr int kSyncDelayMs = 5000;

    explicit ThemeHandler(AccountBase* account);
    ~ThemeHandler() override;

    ThemeModel* presetThemeModel() const { return m_presetThemeModel; }
    ThemeModel* themeModel() const { return m_themeModel; }
    ThemeModel* customThemeModel() const { return m_customThemeModel; }
    ThemeItem* currentTheme() const { return m_currentTheme; }
    // Takes a copy of theme.
    void setCurrentTheme(ThemeItem* theme);
    ColorCircleModel* colorCircleModel() const { return m_colorCircleModel; }
    ThemeItem* editingTheme() const { return m_editTheme; }
    bool isSyncScheduled() const;

    Q_INVOKABLE void resetPresetTheme(ThemeItem* theme);
    // A working copy of a theme, as a new theme of the user's own or to edit it.
    Q_INVOKABLE ThemeItem* createTheme(ThemeItem* sourceTheme);
    Q_INVOKABLE ThemeItem* editTheme(ThemeItem* editedTheme);
    Q_INVOKABLE void setWallpaper(bool bLight, WallpaperItem* wallpaper);
    Q_INVOKABLE QString generateThemeName();
    Q_INVOKABLE bool inValidThemeName(const QString& themeName);
    Q_INVOKABLE void syncEditTheme();
    Q_INVOKABLE void syncCustomTheme();
    Q_INVOKABLE void cancel();
    Q_INVOKABLE void removeTheme(const QString& themeId);
    Q_INVOKABLE void updateThemeWithColorCircle(bool dark, int colorId);
    Q_INVOKABLE void updateThemeWithColorCircle(int colorId);
    Q_INVOKABLE void syncDialogTheme(const QString& dialogId, ThemeItem* theme);
    Q_INVOKABLE void removeDialogTheme(const QString& dialogId);
    Q_INVOKABLE WallpaperItem* editWallpaper(WallpaperItem* wallpaper);
    Q_INVOKABLE void cancelEditWallpaper();
    Q_INVOKABLE void syncDialogWallpaper(const QString& dialogId, WallpaperItem* wallpaper, bool bothSides);
    Q_INVOKABLE void removeDialogWallPaper(const QString& dialogId);
    Q_INVOKABLE void onTimeout();

    // A theme record from the preference store: an empty value removes it.
    void updateTheme(const QString& key, const QByteArray& value);
    static QVariantMap getPresetThemeData(int index);
    static QString patternPathWithId(const QString& fileId);

    void initConnection() override;
    void initData() override;
    bool loadLocalData(bool alreadyLoaded) override;
    bool prepareToClearData(bool force) override;
    bool clearData(bool force) override;
    void getNewData() override;

signals:
    void startDestroy();
    void currentThemeChanged();

private:
    SharedPreferenceModel* store() const;
    ThemeItem* listed(const QString& themeId) const;
    // The built-in theme of an id as it ships, or null.
    ThemeItem* builtIn(const QString& themeId) const;
    void saveCurrentTheme();
    void downloadAll();
    void scheduleSync(const QString& themeId);
    enum Halves { LightHalf = 1, DarkHalf = 2 };
    void applyColorCircle(int colorId, int halves,
                          const std::function<void(ThemeItem*, const ColorCircleItem*)>& apply);
    // Colour circles applied to a theme and not yet sent: kept in the account's settings, and put
    // back over another device's record of the theme until they go.
    struct PendingColors {
        int light = -1;
        int dark = -1;
    };
    void reapplyPendingColors(ThemeItem* theme) const;
    void savePendingColors() const;
    void restorePendingColors();
    // The cached images of every live theme but the one leaving (the current theme's always).
    QSet<QString> filesInUse(const QString& leavingId) const;
    // The lists from the built-in themes and the stored records, once the current theme is known.
    void finishLoad(bool currentLoaded);
    // The one migration of an older client's appearance settings into a theme.
    bool needsMigration() const;
    void createDefaultTheme(const storage::WallpaperInfo& stored);
    // Asks the server for copies of the files, then continues (on this thread, unless cleared);
    // failed runs when no copy could be made.
    void duplicate(const QList<QString>& fileIds, std::function<void(const QHash<QString, QString>&)> next,
                   std::function<void()> failed);
    // Takes the edit theme out for a save: a second save of it is refused until this one ends.
    ThemeItem* takeEditTheme();
    // A save that could not end: the edit theme is given back as it was (unless another edit
    // began meanwhile) and the user is told why.
    void giveBack(ThemeItem* theme, const char* messageId);
    void sendThemeRequest(const QString& dialogId, const im::Theme* theme, const im::WallPaper* wallpaper,
                          bool bothSides, const char* what);
    void post(std::function<void()> step);

    AccountBase* m_account;
    ThemeModel* m_presetThemeModel;
    ThemeModel* m_themeModel;
    ThemeModel* m_customThemeModel;
    ThemeItem* m_editTheme = nullptr;
    // Edit themes whose save is on its way, owned here until it ends.
    QList<ThemeItem*> m_saving;
    ThemeItem* m_currentTheme = nullptr;
    // The built-in plain theme, kept for resets.
    ThemeItem* m_plainTheme;
    ColorCircleModel* m_colorCircleModel;
    WallpaperItemPtr m_editingWallpaper;
    QTimer* m_syncTimer = nullptr;
    mutable QMutex m_mutex;
    QSet<QString> m_pendingThemeIds;
    QHash<QString, PendingColors> m_pendingColors;
    bool m_loaded = false;
    // Counts sign-outs; what was posted for an earlier one is dropped.
    Generation m_generation;
};
