#include "themes/themehandler.h"

#include "commands/settingservicecmd.h"
#include "host/accountbase.h"
#include "host/accountmanager.h"
#include "host/accountsettingmodel.h"
#include "host/appsettingmodel.h"
#include "host/emojiparser.h"
#include "host/files.h"
#include "host/jsonutil.h"
#include "host/storage.h"
#include "host/threadmanager.h"
#include "host/util.h"
#include "im/chat.pb.h"
#include "im/misc.pb.h"
#include "logging.h"
#include "preferences/sharedpreferencemodel.h"
#include "protobufutil.h"
#include "reports.h"
#include "themes/presetthemes.h"

#include <QColor>
#include <QCoreApplication>
#include <QJSEngine>
#include <QRandomGenerator64>
#include <QTimer>

#include <utility>

using settingmodel::parseMessage;

namespace {

constexpr int kThemeType = SharedPreferenceModel::Theme;
// The migrated theme's id: the same on every device, so that they agree on one theme.
const QString kMigratedThemeId = QStringLiteral("a8759dcc9ece4555889d2694136276de");

QByteArray base64Of(ThemeItem* theme)
{
    im::Theme message;
    theme->serialize(&message);
    return SM_SERIALIZE(message).toBase64();
}

bool decodeTheme(const QByteArray& value, im::Theme& theme)
{
    const auto decoded = QByteArray::fromBase64Encoding(value, QByteArray::AbortOnBase64DecodingErrors);
    return decoded && parseMessage(theme, decoded.decoded);
}

// The message colours of a migrated half: the gradient's colours, or the accent blended.
QStringList migratedMessageColors(const QString& accent, const QString& start, const QString& end,
                                  const QString& overlay)
{
    const auto blend = [&overlay](const QString& color) {
        return QColor::fromString(Util::instance()->blendColor(color, overlay, 25)).name().toUpper();
    };
    if (start.isEmpty())
        return {end.isEmpty() ? blend(accent) : end};
    return end.isEmpty() ? QStringList{blend(start)} : QStringList{start, end};
}

} // namespace

ThemeHandler::ThemeHandler(AccountBase* account)
    : QObject(account),
      m_account(account),
      m_presetThemeModel(new ThemeModel(this)),
      m_themeModel(new ThemeModel(this)),
      m_customThemeModel(new ThemeModel(this)),
      m_plainTheme(new ThemeItem(getPresetThemeData(settingmodel::kPlainPresetIndex),
                                 settingmodel::presetThemeCreateTime(settingmodel::kPlainPresetIndex), this)),
      m_colorCircleModel(new ColorCircleModel(account, this))
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
    QList<ThemeItem*> presets;
    for (int i = 0; i < settingmodel::kPlainPresetIndex; ++i)
        presets.append(new ThemeItem(getPresetThemeData(i), settingmodel::presetThemeCreateTime(i)));
    m_presetThemeModel->append(presets);
}

ThemeHandler::~ThemeHandler()
{
    emit startDestroy();
    delete m_editTheme;
    qDeleteAll(m_saving);
    delete m_currentTheme;
}

QVariantMap ThemeHandler::getPresetThemeData(int index)
{
    return settingmodel::presetThemeData(index);
}

QString ThemeHandler::patternPathWithId(const QString& fileId)
{
    return settingmodel::presetPatternPath(fileId);
}

SharedPreferenceModel* ThemeHandler::store() const
{
    return qobject_cast<SharedPreferenceModel*>(m_account->sharedPreference());
}

ThemeItem* ThemeHandler::listed(const QString& themeId) const
{
    if (ThemeItem* theme = m_themeModel->itemById(themeId))
        return theme;
    return m_customThemeModel->itemById(themeId);
}

ThemeItem* ThemeHandler::builtIn(const QString& themeId) const
{
    if (themeId == m_plainTheme->themeId())
        return m_plainTheme;
    return m_presetThemeModel->itemById(themeId);
}

void ThemeHandler::post(std::function<void()> step)
{
    m_generation.post(this, std::move(step));
}

// ---- lifecycle ----

void ThemeHandler::initConnection()
{
    SharedPreferenceModel* preferences = store();
    if (!preferences)
        return;
    SharedPreferenceOwner owner;
    owner.apply = [this](const QString& key, const QByteArray& value, qint64, bool fromLocal) {
        // The local load's records are read with the lists; later ones are news.
        if (!fromLocal)
            updateTheme(key, value);
        return true;
    };
    // Another device's newer write won over this device's: the lists show the winner.
    owner.superseded = [this](const QString& key, const QByteArray& value, qint64, const QVariantMap&) {
        updateTheme(key, value);
    };
    preferences->registerOwner(kThemeType, this, owner);
}

void ThemeHandler::initData()
{
    setClearing(false);
    if (SharedPreferenceModel* preferences = store())
        connect(preferences, &SharedPreferenceBase::listFinished, this, &ThemeHandler::downloadAll,
                Qt::UniqueConnection);
}

bool ThemeHandler::loadLocalData(bool alreadyLoaded)
{
    if (alreadyLoaded)
        return true;
    const QByteArray bytes = m_account->accountSettingModel()->currentTheme();
    im::Theme stored;
    if (!bytes.isEmpty() && parseMessage(stored, bytes)) {
        delete m_currentTheme;
        m_currentTheme = new ThemeItem(m_account, QString::fromStdString(stored.id()), stored);
        post([this] { finishLoad(true); });
        return true;
    }
    if (!bytes.isEmpty() || !needsMigration()) {
        post([this] { finishLoad(false); });
        return true;
    }
    // The wallpaper the older client chose is a row of the wallpaper table, read on the storage
    // thread.
    const QString wallpaperId = m_account->accountSettingModel()->chatBackgroundId();
    storage::WallpaperStorage* table = m_account->storage()->wallpaperStorage();
    QPointer<ThemeHandler> self(this);
    const quint64 generation = m_generation.current();
    ThreadManager::getInstance()->invoke(
        [self, generation, table, wallpaperId] {
            const storage::WallpaperInfo info =
                wallpaperId.isEmpty() ? storage::WallpaperInfo() : table->info(wallpaperId);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, generation, info] {
                    if (!self || !self->m_generation.isCurrent(generation) || self->isClearing())
                        return;
                    self->createDefaultTheme(info);
                    self->finishLoad(false);
                },
                Qt::QueuedConnection);
        },
        true);
    return true;
}

void ThemeHandler::finishLoad(bool currentLoaded)
{
    m_themeModel->reset(m_presetThemeModel);
    m_themeModel->insert(new ThemeItem(m_plainTheme));
    if (currentLoaded) {
        m_currentTheme->setPreset(m_themeModel->contains(m_currentTheme->themeId()));
        emit currentThemeChanged();
    } else if (!m_currentTheme) {
        m_currentTheme = new ThemeItem(m_plainTheme);
        emit currentThemeChanged();
    }
    if (SharedPreferenceModel* preferences = store())
        m_customThemeModel->deserialize(m_account, m_themeModel, preferences->getTypeValues(kThemeType));
    m_colorCircleModel->load(currentLoaded ? m_currentTheme : nullptr);
    // Records are routed to the lists from now on, not before they exist.
    m_loaded = true;
    restorePendingColors();
}

void ThemeHandler::getNewData()
{
    post([this] { downloadAll(); });
}

bool ThemeHandler::prepareToClearData(bool force)
{
    Q_UNUSED(force)
    setClearing(true);
    m_generation.advance();
    onTimeout();
    return true;
}

bool ThemeHandler::clearData(bool force)
{
    Q_UNUSED(force)
    m_themeModel->clearData();
    m_customThemeModel->clearData();
    m_colorCircleModel->clear();
    delete m_currentTheme;
    m_currentTheme = nullptr;
    delete m_editTheme;
    m_editTheme = nullptr;
    qDeleteAll(m_saving);
    m_saving.clear();
    m_pendingColors.clear();
    m_editingWallpaper.reset();
    m_loaded = false;
    return true;
}

void ThemeHandler::downloadAll()
{
    if (m_currentTheme)
        m_currentTheme->downloadFile(m_account);
    m_themeModel->downloadFiles(m_account);
    m_customThemeModel->downloadFiles(m_account);
}

// ---- the migrated theme ----

bool ThemeHandler::needsMigration() const
{
    return m_account->accountSettingModel()->containsCustomThemeInfo() ||
           AppSettingModel::instance()->containsCustomThemeInfo();
}

void ThemeHandler::createDefaultTheme(const storage::WallpaperInfo& stored)
{
    AccountSettingModel* settings = m_account->accountSettingModel();
    const AppSettingModel* app = AppSettingModel::instance();
    const QString accent = app->themeColor();
    const QString start = app->gradientStartColor();
    const QString end = app->gradientColor();
    QStringList lightBg{settings->chatBackgroundColor()};
    if (!settings->chatBackgroundGradientColor().isEmpty())
        lightBg.append(settings->chatBackgroundGradientColor());
    const QVariantMap map{
        {QStringLiteral("emoji"), generateThemeName()},
        {QStringLiteral("uuid"), kMigratedThemeId},
        {QStringLiteral("light"),
         QVariantMap{{QStringLiteral("theme"), accent},
                     {QStringLiteral("bg"), lightBg},
                     {QStringLiteral("message"),
                      migratedMessageColors(accent, start, end, QStringLiteral("#B3FFFFFF"))}}},
        {QStringLiteral("dark"),
         QVariantMap{{QStringLiteral("theme"), accent},
                     {QStringLiteral("bg"), QStringList{settings->darkModeChatBackgroundColor()}},
                     {QStringLiteral("message"),
                      migratedMessageColors(accent, start, end, QStringLiteral("#4C000000"))}}}};
    const qint64 createTime = m_account->currentTime();
    auto* theme = new ThemeItem(map, createTime);

    im::WallPaper message;
    WallpaperItemPtr wallpaper;
    if (!stored.id.isEmpty() && parseMessage(message, stored.data)) {
        wallpaper = WallpaperItemPtr(new WallpaperItem(m_account, message));
        if (wallpaper->wallpaperId().isEmpty())
            wallpaper->setWallpaperId(stored.id);
    }
    for (ThemeComponentItem* half : {theme->light(), theme->dark()}) {
        if (wallpaper) {
            if (const WallpaperItem* current = half->wallpaperItem())
                wallpaper->setBgColors(current->bgColors());
            half->setWallpaperItem(wallpaper.data());
        }
        WallpaperItem* own = half->wallpaperItem();
        own->setBlur(settings->chatBackgroundBlur());
        own->setRotation(settings->chatBackgroundGradientRotation());
        own->setIntensity(settings->chatShaderOpacity());
        own->setFillType(app->chatBackgroundMode());
    }
    if (SharedPreferenceModel* preferences = store())
        preferences->saveToLocal(theme->themeId(), kThemeType, base64Of(theme), createTime);
    delete m_currentTheme;
    m_currentTheme = theme;
    m_currentTheme->downloadFile(m_account);
    emit currentThemeChanged();
    // Made once: the next start reads the stored theme, and the older settings are done with.
    saveCurrentTheme();
    settings->clearCustomThemeInfo();
}

// ---- the current theme ----

void ThemeHandler::setCurrentTheme(ThemeItem* theme)
{
    if (!theme)
        return;
    ThemeItem* old = m_currentTheme;
    m_currentTheme = new ThemeItem(theme);
    m_currentTheme->downloadFile(m_account);
    emit currentThemeChanged();
    // A theme removed while it was current kept its files for it; nothing else uses them now.
    if (old && !m_themeModel->itemById(old->themeId()) && !m_customThemeModel->itemById(old->themeId()))
        old->deleteFile(filesInUse(QString()));
    delete old;
    saveCurrentTheme();
}

void ThemeHandler::saveCurrentTheme()
{
    if (!m_currentTheme)
        return;
    im::Theme message;
    m_currentTheme->serialize(&message);
    m_account->accountSettingModel()->updateCurrentTheme(SM_SERIALIZE(message));
}

// ---- editing ----

ThemeItem* ThemeHandler::createTheme(ThemeItem* sourceTheme)
{
    ThemeItem* theme = editTheme(sourceTheme);
    if (theme)
        theme->newThemeId();
    return theme;
}

ThemeItem* ThemeHandler::editTheme(ThemeItem* editedTheme)
{
    if (!editedTheme)
        return nullptr;
    delete m_editTheme;
    m_editTheme = new ThemeItem(editedTheme);
    m_editTheme->createEditWallpaper();
    return m_editTheme;
}

void ThemeHandler::cancel()
{
    delete m_editTheme;
    m_editTheme = nullptr;
}

void ThemeHandler::setWallpaper(bool bLight, WallpaperItem* wallpaper)
{
    ThemeComponentItem* half = m_editTheme ? (bLight ? m_editTheme->light() : m_editTheme->dark()) : nullptr;
    if (!wallpaper || !half)
        return;
    WallpaperItemPtr copy(new WallpaperItem(wallpaper));
    copy->setWallpaperId(Util::instance()->uuid());
    half->chooseWallpaper(copy);
}

QString ThemeHandler::generateThemeName()
{
    const int start = int(QRandomGenerator64::global()->bounded(10000));
    const int n = m_customThemeModel->count() + m_themeModel->count() + m_presetThemeModel->count() + 1;
    QString candidate;
    for (int i = start; i < start + n; ++i) {
        candidate = EmojiParser::emojiByIndex(i);
        if (!m_presetThemeModel->hasThemeName(candidate) && !m_themeModel->hasThemeName(candidate) &&
            !m_customThemeModel->hasThemeName(candidate))
            return candidate;
    }
    return candidate;
}

bool ThemeHandler::inValidThemeName(const QString& themeName)
{
    return themeName.isEmpty() || m_themeModel->hasThemeName(themeName) ||
           m_customThemeModel->hasThemeName(themeName);
}

void ThemeHandler::duplicate(const QList<QString>& fileIds,
                             std::function<void(const QHash<QString, QString>&)> next,
                             std::function<void()> failed)
{
    FileManager* files = m_account->fileManager();
    if (!files) {
        failed();
        return;
    }
    QPointer<ThemeHandler> self(this);
    const quint64 generation = m_generation.current();
    files->fileServiceCmd()->duplicateFiles(fileIds, [self, generation, next = std::move(next),
                                                      failed = std::move(failed)](
                                                         const QHash<QString, QString>& oldToNew, int code) {
        if (code != 0)
            qCDebug(lcSettingModel).noquote() << QStringLiteral("duplicate file error code: %1").arg(code);
        // The answer may come on another thread: the step runs on the handler's.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, generation, next, failed, oldToNew, code] {
                if (!self || !self->m_generation.isCurrent(generation) || self->isClearing())
                    return;
                if (code == 0)
                    next(oldToNew);
                else
                    failed();
            },
            Qt::QueuedConnection);
    });
}

ThemeItem* ThemeHandler::takeEditTheme()
{
    ThemeItem* theme = std::exchange(m_editTheme, nullptr);
    if (!theme)
        return nullptr;
    m_saving.append(theme);
    // The wallpapers chosen become the theme's; the working copies stay until the save ends, so a
    // failed copy leaves the edit as it was.
    theme->saveEditWallpaper();
    return theme;
}

void ThemeHandler::giveBack(ThemeItem* theme, const char* messageId)
{
    if (!theme || !m_saving.removeOne(theme))
        return;
    if (m_editTheme)
        delete theme; // another edit began meanwhile
    else
        m_editTheme = theme;
    if (messageId)
        settingmodel::reportFailure(m_account, 0, qtTrId(messageId));
}

void ThemeHandler::syncCustomTheme()
{
    if (!m_editTheme)
        return;
    if (m_customThemeModel->count() >= kMaxCustomThemes) {
        settingmodel::reportFailure(m_account, 0, qtTrId("theme_limit_reached"));
        return;
    }
    ThemeItem* theme = takeEditTheme();
    theme->setCreateTime(m_account->currentTime());
    QPointer<ThemeItem> guard(theme);
    const auto finish = [this, guard](bool duplicated) {
        ThemeItem* made = guard.data();
        if (!made || !m_saving.contains(made))
            return;
        if (m_customThemeModel->count() >= kMaxCustomThemes) {
            // Another device filled the list meanwhile.
            giveBack(made, "theme_limit_reached");
            return;
        }
        m_saving.removeOne(made);
        made->editWallpaperFinish();
        const QByteArray value = base64Of(made);
        m_customThemeModel->insert(made);
        if (duplicated)
            made->downloadFile(m_account);
        if (SharedPreferenceModel* preferences = store())
            preferences->syncTheme(made->themeId(), value);
    };
    QList<QString> ids;
    theme->getCustomFileIds(ids);
    if (ids.isEmpty()) {
        finish(false);
        return;
    }
    duplicate(
        ids,
        [this, guard, finish](const QHash<QString, QString>& oldToNew) {
            if (!guard)
                return;
            QList<FileDataPtr> replaced;
            guard->duplicatedFiles(m_account, oldToNew, replaced);
            finish(true);
        },
        [this, guard] { giveBack(guard.data(), "theme_save_failed"); });
}

void ThemeHandler::syncEditTheme()
{
    ThemeItem* edit = takeEditTheme();
    if (!edit)
        return;
    const QString id = edit->themeId();
    QList<QString> oldIds;
    if (const ThemeItem* target = listed(id))
        target->getCustomFileIds(oldIds);
    QList<QString> newIds;
    edit->getCustomFileIds(newIds);
    QPointer<ThemeItem> guard(edit);
    const auto finish = [this, guard, id](bool duplicated) {
        ThemeItem* edited = guard.data();
        if (!edited || !m_saving.removeOne(edited))
            return;
        edited->editWallpaperFinish();
        im::Theme message;
        edited->serialize(&message);
        const QByteArray value = SM_SERIALIZE(message).toBase64();
        ThemeItem* target = listed(id);
        const bool accepted = target || m_customThemeModel->count() < kMaxCustomThemes;
        if (target) {
            target->update(m_account, message);
            if (duplicated)
                target->downloadFile(m_account);
        } else if (accepted) {
            m_customThemeModel->insert(new ThemeItem(edited));
        }
        if (m_currentTheme && m_currentTheme->themeId() == id) {
            m_currentTheme->update(m_account, message);
            saveCurrentTheme();
        }
        SharedPreferenceModel* preferences = store();
        if (accepted && preferences)
            preferences->syncTheme(id, value);
        delete edited;
    };
    FileDataMgr* records = m_account->fileManager() ? m_account->fileManager()->fileDataMgr() : nullptr;
    if (!newIds.isEmpty() && newIds != oldIds) {
        duplicate(
            newIds,
            [this, guard, oldIds, records, finish](const QHash<QString, QString>& oldToNew) {
                if (!guard)
                    return;
                QList<FileDataPtr> replaced;
                guard->duplicatedFiles(m_account, oldToNew, replaced);
                if (records && !oldIds.isEmpty())
                    records->deleteFilesAll(oldIds, true);
                finish(true);
            },
            [this, guard] { giveBack(guard.data(), "theme_save_failed"); });
        return;
    }
    if (newIds != oldIds && records && !oldIds.isEmpty())
        records->deleteFilesAll(oldIds, true);
    finish(false);
}

QSet<QString> ThemeHandler::filesInUse(const QString& leavingId) const
{
    QSet<QString> paths;
    const auto collect = [&paths, &leavingId](const ThemeItem* theme) {
        if (theme && theme->themeId() != leavingId)
            theme->cachedFilePaths(paths);
    };
    collect(m_currentTheme);
    collect(m_editTheme);
    for (const ThemeItem* theme : m_saving)
        collect(theme);
    for (const ThemeModel* model : {m_themeModel, m_customThemeModel}) {
        for (const ThemeItem* theme : model->themes())
            collect(theme);
    }
    // The current theme is a copy of a listed one: its files stay while it is current.
    if (m_currentTheme && m_currentTheme->themeId() == leavingId)
        m_currentTheme->cachedFilePaths(paths);
    return paths;
}

void ThemeHandler::removeTheme(const QString& themeId)
{
    m_customThemeModel->remove(themeId, filesInUse(themeId));
    if (SharedPreferenceModel* preferences = store())
        preferences->syncTheme(themeId, {});
}

void ThemeHandler::resetPresetTheme(ThemeItem* theme)
{
    const ThemeItem* reference = theme ? builtIn(theme->themeId()) : nullptr;
    if (!reference)
        return;
    theme->resetThemeTo(reference);
    if (m_currentTheme && m_currentTheme->themeId() == theme->themeId()) {
        m_currentTheme->resetThemeTo(reference);
        saveCurrentTheme();
    }
    if (SharedPreferenceModel* preferences = store())
        preferences->syncTheme(theme->themeId(), {});
}

// ---- colour circles ----

void ThemeHandler::applyColorCircle(int colorId, int halves,
                                    const std::function<void(ThemeItem*, const ColorCircleItem*)>& apply)
{
    const ColorCircleItem* circle = m_colorCircleModel->itemByColorId(colorId);
    if (!circle)
        return;
    m_colorCircleModel->select(colorId);
    if (!m_currentTheme)
        return;
    apply(m_currentTheme, circle);
    if (ThemeItem* row = listed(m_currentTheme->themeId())) {
        apply(row, circle);
        PendingColors& pending = m_pendingColors[row->themeId()];
        if (halves & LightHalf)
            pending.light = colorId;
        if (halves & DarkHalf)
            pending.dark = colorId;
        savePendingColors();
        scheduleSync(row->themeId());
    }
    saveCurrentTheme();
}

void ThemeHandler::updateThemeWithColorCircle(int colorId)
{
    applyColorCircle(colorId, LightHalf | DarkHalf,
                     [](ThemeItem* theme, const ColorCircleItem* circle) { theme->updateColors(circle); });
}

void ThemeHandler::updateThemeWithColorCircle(bool dark, int colorId)
{
    applyColorCircle(
        colorId, dark ? DarkHalf : LightHalf,
        [dark](ThemeItem* theme, const ColorCircleItem* circle) { theme->updateColors(dark, circle); });
}

void ThemeHandler::reapplyPendingColors(ThemeItem* theme) const
{
    const auto it = m_pendingColors.constFind(theme ? theme->themeId() : QString());
    if (it == m_pendingColors.cend())
        return;
    if (const ColorCircleItem* circle = m_colorCircleModel->itemByColorId(it->light))
        theme->updateColors(false, circle);
    if (const ColorCircleItem* circle = m_colorCircleModel->itemByColorId(it->dark))
        theme->updateColors(true, circle);
}

void ThemeHandler::savePendingColors() const
{
    QVariantMap map;
    for (auto it = m_pendingColors.cbegin(); it != m_pendingColors.cend(); ++it)
        map.insert(it.key(), QVariantList{it->light, it->dark});
    m_account->accountSettingModel()->setPendingThemeColors(map.isEmpty() ? QByteArray() : mapToJson(map));
}

void ThemeHandler::restorePendingColors()
{
    const QByteArray stored = m_account->accountSettingModel()->pendingThemeColors();
    if (stored.isEmpty())
        return;
    const QVariantMap map = jsonToMap(stored);
    if (map.isEmpty())
        qCWarning(lcSettingModel) << "stored theme colours waiting to be sent are damaged; dropped";
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const QVariantList halves = it.value().toList();
        ThemeItem* row = listed(it.key());
        if (!row || halves.size() != 2)
            continue;
        m_pendingColors.insert(it.key(), {halves.at(0).toInt(), halves.at(1).toInt()});
        reapplyPendingColors(row);
        if (m_currentTheme && m_currentTheme->themeId() == it.key()) {
            reapplyPendingColors(m_currentTheme);
            saveCurrentTheme();
        }
        scheduleSync(it.key());
    }
    savePendingColors();
}

bool ThemeHandler::isSyncScheduled() const
{
    return m_syncTimer && m_syncTimer->isActive();
}

void ThemeHandler::scheduleSync(const QString& themeId)
{
    {
        QMutexLocker lock(&m_mutex);
        m_pendingThemeIds.insert(themeId);
    }
    if (!m_syncTimer) {
        m_syncTimer = new QTimer(this);
        m_syncTimer->setSingleShot(true);
        m_syncTimer->setInterval(kSyncDelayMs);
        connect(m_syncTimer, &QTimer::timeout, this, &ThemeHandler::onTimeout);
    }
    // A burst goes together: the timer runs from its first change.
    if (!m_syncTimer->isActive())
        m_syncTimer->start();
}

void ThemeHandler::onTimeout()
{
    QSet<QString> ids;
    {
        QMutexLocker lock(&m_mutex);
        ids.swap(m_pendingThemeIds);
    }
    SharedPreferenceModel* preferences = store();
    if (ids.isEmpty() || !preferences)
        return;
    im::misc::UpdateSharedPreferencesV2Req req;
    for (const QString& id : std::as_const(ids)) {
        if (ThemeItem* theme = listed(id))
            preferences->makeSharedPreference(req.add_preferences(), id, base64Of(theme), kThemeType, true);
        m_pendingColors.remove(id);
    }
    // From here the store keeps the edit until the server has it, across restarts too.
    savePendingColors();
    if (req.preferences_size() > 0)
        preferences->updateSharedPreferences(req, true);
}

// ---- other devices' records ----

void ThemeHandler::updateTheme(const QString& key, const QByteArray& value)
{
    // Before the lists exist the store holds the record; the lists read it when they are made.
    if (!m_loaded)
        return;
    const ThemeItem* reference = builtIn(key);
    if (value.isEmpty()) {
        ThemeItem* row = reference ? m_themeModel->itemById(key) : nullptr;
        if (row) {
            row->deleteFile(filesInUse(key));
            row->resetThemeTo(reference);
        } else if (!reference) {
            m_customThemeModel->remove(key, filesInUse(key));
        }
        return;
    }
    im::Theme theme;
    if (!decodeTheme(value, theme)) {
        DroppedInput::note("a theme that does not parse", key);
        return;
    }
    // A built-in theme's record changes that theme; it is never one of the user's own.
    if (ThemeItem* row = m_themeModel->itemById(key))
        row->update(m_account, theme);
    else if (!reference)
        m_customThemeModel->sortItem(m_account, key, theme);
    ThemeItem* row = listed(key);
    // A colour chosen here and not yet sent stays over another device's record until it goes.
    reapplyPendingColors(row);
    // Another device's wallpaper is shown as soon as its image is here.
    if (row)
        row->downloadFile(m_account);
    if (m_currentTheme && m_currentTheme->themeId() == key) {
        m_currentTheme->update(m_account, theme);
        reapplyPendingColors(m_currentTheme);
        saveCurrentTheme();
    }
}

// ---- a chat's theme and wallpaper ----

void ThemeHandler::sendThemeRequest(const QString& dialogId, const im::Theme* theme,
                                    const im::WallPaper* wallpaper, bool bothSides, const char* what)
{
    SettingServiceCmd* cmd = m_account->settingServiceCmd();
    if (!cmd)
        return;
    im::chat::UpdateThemeReq req;
    req.set_dialog_id(dialogId.toStdString());
    if (theme)
        *req.mutable_theme() = *theme;
    if (wallpaper)
        *req.mutable_wallpaper() = *wallpaper;
    req.set_both_sides(bothSides);
    const QString action = QString::fromLatin1(what);
    cmd->updateThemeReq(req, [action](int code, const QByteArray&) {
        if (code == 0)
            qCDebug(lcSettingModel).noquote() << action + QStringLiteral(" success");
        else
            qCDebug(lcSettingModel).noquote()
                << action + QStringLiteral(" error code: ") + QString::number(code);
    });
}

void ThemeHandler::syncDialogTheme(const QString& dialogId, ThemeItem* theme)
{
    if (!theme || !m_account->isOnline())
        return;
    im::Theme named;
    named.set_name(theme->name().toStdString());
    named.set_id(theme->themeId().toStdString());
    sendThemeRequest(dialogId, &named, nullptr, false, "update theme");
}

void ThemeHandler::removeDialogTheme(const QString& dialogId)
{
    const im::Theme empty;
    sendThemeRequest(dialogId, &empty, nullptr, false, "remove theme");
}

WallpaperItem* ThemeHandler::editWallpaper(WallpaperItem* wallpaper)
{
    m_editingWallpaper = WallpaperItemPtr(new WallpaperItem(wallpaper));
    return m_editingWallpaper.data();
}

void ThemeHandler::cancelEditWallpaper()
{
    m_editingWallpaper.reset();
}

void ThemeHandler::syncDialogWallpaper(const QString& dialogId, WallpaperItem* wallpaper, bool bothSides)
{
    if (!wallpaper || !m_account->isOnline())
        return;
    QStringList ids;
    wallpaper->getFileIds(ids);
    if (wallpaper->isPreset() || ids.isEmpty()) {
        im::WallPaper message;
        wallpaper->serialize(&message, false);
        sendThemeRequest(dialogId, nullptr, &message, bothSides, "update wallpaper");
        return;
    }
    // The chat gets copies of the files, so that deleting the wallpaper here leaves it intact.
    const WallpaperItemPtr copy(new WallpaperItem(wallpaper));
    duplicate(
        ids,
        [this, copy, dialogId, bothSides](const QHash<QString, QString>& oldToNew) {
            QList<FileDataPtr> replaced;
            copy->duplicatedFiles(m_account, oldToNew, replaced);
            im::WallPaper message;
            copy->serialize(&message, false);
            sendThemeRequest(dialogId, nullptr, &message, bothSides, "update wallpaper");
        },
        [this] { settingmodel::reportFailure(m_account, 0, qtTrId("general_fail")); });
}

void ThemeHandler::removeDialogWallPaper(const QString& dialogId)
{
    const im::WallPaper empty;
    sendThemeRequest(dialogId, nullptr, &empty, false, "remove wallpaper");
}
