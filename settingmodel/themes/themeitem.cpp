#include "themes/themeitem.h"

#include "colornames.h"
#include "host/util.h"
#include "themes/colorcirclemodel.h"

#include <QJSEngine>

#include <functional>

namespace {

QList<int> valuesOf(const QStringList& names)
{
    QList<int> values;
    values.reserve(names.size());
    for (const QString& name : names)
        values.append(Util::instance()->colorNameToRgba(name));
    return values;
}

QStringList namesOf(const google::protobuf::RepeatedField<int32_t>& values)
{
    QStringList names;
    names.reserve(values.size());
    for (int value : values)
        names.append(Util::instance()->rgbaToColorName(value, 0));
    return names;
}

WallpaperItemPtr copyOf(const WallpaperItem* wallpaper)
{
    return wallpaper ? WallpaperItemPtr(new WallpaperItem(wallpaper)) : WallpaperItemPtr();
}

} // namespace

// ---- ThemeComponentItem ----

ThemeComponentItem::ThemeComponentItem(const QVariantMap& map, QObject* parent)
    : QObject(parent),
      m_themeColors(map.value(QStringLiteral("theme")).toStringList()),
      m_messageColors(map.value(QStringLiteral("message")).toStringList()),
      m_themeValues(valuesOf(m_themeColors)),
      m_messageValues(valuesOf(m_messageColors)),
      m_wallpaper(new WallpaperItem(map))
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

ThemeComponentItem::ThemeComponentItem(const ThemeComponentItem* source, QObject* parent) : QObject(parent)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
    if (!source)
        return;
    m_themeColors = source->m_themeColors;
    m_messageColors = source->m_messageColors;
    m_themeValues = source->m_themeValues;
    m_messageValues = source->m_messageValues;
    m_animated = source->m_animated;
    m_wallpaper = copyOf(source->m_wallpaper.data());
}

ThemeComponentItem::ThemeComponentItem(AccountBase* account, const im::Theme_ThemeComponent& message,
                                       QObject* parent)
    : QObject(parent),
      m_themeColors(namesOf(message.theme_colors())),
      m_messageColors(namesOf(message.message_colors())),
      m_themeValues(message.theme_colors().begin(), message.theme_colors().end()),
      m_messageValues(message.message_colors().begin(), message.message_colors().end()),
      m_animated(message.animated())
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
    if (message.has_wallpaper())
        m_wallpaper = WallpaperItemPtr(new WallpaperItem(account, message.wallpaper()));
}

void ThemeComponentItem::setThemeColors(const QStringList& colors)
{
    if (colors == m_themeColors || !settingmodel::acceptColorNames(colors, "theme colours"))
        return;
    m_themeColors = colors;
    m_themeValues = valuesOf(colors);
    emit themeColorsChanged();
}

void ThemeComponentItem::setMessageColors(const QStringList& colors)
{
    if (colors == m_messageColors || !settingmodel::acceptColorNames(colors, "message colours"))
        return;
    m_messageColors = colors;
    m_messageValues = valuesOf(colors);
    emit messageColorsChanged();
}

void ThemeComponentItem::setWallpaperItem(WallpaperItem* wallpaper)
{
    if (!wallpaper)
        return;
    m_wallpaper = copyOf(wallpaper);
    emit wallpaperItemChanged();
}

void ThemeComponentItem::setWallpaperPtr(const WallpaperItemPtr& wallpaper)
{
    if (wallpaper == m_wallpaper)
        return;
    m_wallpaper = wallpaper;
    emit wallpaperItemChanged();
}

void ThemeComponentItem::setAnimated(bool animated)
{
    if (animated == m_animated)
        return;
    m_animated = animated;
    emit animatedChanged();
}

void ThemeComponentItem::updatePattern(WallpaperItem* wallpaper)
{
    if (!wallpaper)
        return;
    if (!m_editWallpaper) {
        m_editWallpaper = copyOf(wallpaper);
        emit editWallpaperChanged();
        return;
    }
    m_editWallpaper->updatePatternInfo(wallpaper);
}

void ThemeComponentItem::clearPhoto(bool allPhotoFile)
{
    if (m_editWallpaper && (allPhotoFile || !m_editWallpaper->hasPattern()))
        m_editWallpaper->clearPattern();
}

void ThemeComponentItem::beginEdit()
{
    m_editing = true;
    m_editWallpaper = copyOf(m_wallpaper.data());
}

void ThemeComponentItem::chooseWallpaper(const WallpaperItemPtr& wallpaper)
{
    if (!wallpaper)
        return;
    setWallpaperPtr(wallpaper);
    if (m_editing) {
        m_editWallpaper = m_wallpaper;
        emit editWallpaperChanged();
    }
}

void ThemeComponentItem::commitEdit()
{
    setWallpaperPtr(m_editWallpaper);
}

void ThemeComponentItem::finishEdit()
{
    commitEdit();
    m_editing = false;
    m_editWallpaper.reset();
    emit editWallpaperChanged();
}

void ThemeComponentItem::applyColorCircle(const ColorCircleComponentItem* circle)
{
    if (!circle)
        return;
    setThemeColors(circle->themeColors());
    setMessageColors(circle->messageColors());
}

void ThemeComponentItem::dropFiles(const WallpaperItemPtr& old, const WallpaperItemPtr& replacement)
{
    if (!old || old->isPreset())
        return;
    if (replacement && old->hiPhotoPtr() == replacement->hiPhotoPtr())
        return;
    old->deleteFile();
}

void ThemeComponentItem::update(AccountBase* account, const im::Theme_ThemeComponent& message)
{
    setThemeColors(namesOf(message.theme_colors()));
    setMessageColors(namesOf(message.message_colors()));
    setAnimated(message.animated());
    const WallpaperItemPtr replacement =
        message.has_wallpaper() ? WallpaperItemPtr(new WallpaperItem(account, message.wallpaper())) : nullptr;
    dropFiles(m_wallpaper, replacement);
    if (replacement || m_wallpaper) {
        m_wallpaper = replacement;
        emit wallpaperItemChanged();
    }
}

void ThemeComponentItem::serialize(im::Theme_ThemeComponent* out) const
{
    out->set_animated(m_animated);
    out->clear_theme_colors();
    for (int value : m_themeValues)
        out->add_theme_colors(value);
    out->clear_message_colors();
    for (int value : m_messageValues)
        out->add_message_colors(value);
    if (m_wallpaper)
        m_wallpaper->serialize(out->mutable_wallpaper(), false);
    else
        out->clear_wallpaper();
}

// ---- ThemeItem ----

ThemeItem::ThemeItem(const QVariantMap& map, qint64 createTime, QObject* parent)
    : QObject(parent),
      m_light(new ThemeComponentItem(map.value(QStringLiteral("light")).toMap(), this)),
      m_dark(new ThemeComponentItem(map.value(QStringLiteral("dark")).toMap(), this)),
      m_themeId(map.value(QStringLiteral("uuid")).toString()),
      m_name(map.value(QStringLiteral("emoji")).toString()),
      m_createTime(createTime),
      m_preset(true)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

ThemeItem::ThemeItem(const ThemeItem* source, QObject* parent) : QObject(parent)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
    if (!source)
        return;
    m_message = source->m_message;
    m_themeId = source->m_themeId;
    m_preset = source->m_preset;
    m_createTime = source->m_createTime;
    m_name = source->m_name;
    if (source->m_light)
        setLight(new ThemeComponentItem(source->m_light));
    if (source->m_dark)
        setDark(new ThemeComponentItem(source->m_dark));
}

ThemeItem::ThemeItem(AccountBase* account, const QString& themeId, const im::Theme& theme, QObject* parent)
    : QObject(parent),
      m_message(theme),
      m_themeId(themeId),
      m_name(QString::fromStdString(theme.name())),
      m_createTime(theme.create_time())
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
    if (theme.has_light())
        m_light = new ThemeComponentItem(account, theme.light(), this);
    if (theme.has_dark())
        m_dark = new ThemeComponentItem(account, theme.dark(), this);
}

ThemeItem::~ThemeItem()
{
    emit startDestroy();
    delete m_light;
    delete m_dark;
}

bool ThemeItem::before(const ThemeItem& a, const ThemeItem& b)
{
    if (a.m_createTime != b.m_createTime)
        return a.m_createTime > b.m_createTime;
    return a.m_themeId > b.m_themeId;
}

void ThemeItem::setName(const QString& name)
{
    if (name == m_name)
        return;
    m_name = name;
    emit nameChanged();
}

void ThemeItem::replaceHalf(ThemeComponentItem*& half, ThemeComponentItem* replacement,
                            void (ThemeItem::*changed)())
{
    if (replacement == half)
        return;
    ThemeComponentItem* old = half;
    half = replacement;
    if (replacement)
        replacement->setParent(this);
    emit std::invoke(changed, this);
    delete old;
}

void ThemeItem::setLight(ThemeComponentItem* light)
{
    replaceHalf(m_light, light, &ThemeItem::lightChanged);
}

void ThemeItem::setDark(ThemeComponentItem* dark)
{
    replaceHalf(m_dark, dark, &ThemeItem::darkChanged);
}

void ThemeItem::setModify(bool modified)
{
    if (modified == m_modified)
        return;
    m_modified = modified;
    emit modifiedChanged();
}

void ThemeItem::newThemeId()
{
    m_preset = false;
    m_themeId = Util::instance()->uuid();
}

void ThemeItem::serialize(im::Theme* out)
{
    if (!out)
        return;
    m_message.set_name(m_name.toStdString());
    m_message.set_id(m_themeId.toStdString());
    m_message.set_create_time(m_createTime);
    if (m_light)
        m_light->serialize(m_message.mutable_light());
    else
        m_message.clear_light();
    if (m_dark)
        m_dark->serialize(m_message.mutable_dark());
    else
        m_message.clear_dark();
    *out = m_message;
}

void ThemeItem::updateHalf(AccountBase* account, ThemeComponentItem*& half, bool present,
                           const im::Theme_ThemeComponent& message, void (ThemeItem::*changed)())
{
    if (present && half) {
        half->update(account, message);
    } else if (present) {
        replaceHalf(half, new ThemeComponentItem(account, message), changed);
    } else if (half) {
        if (const WallpaperItem* wallpaper = half->wallpaperItem(); wallpaper && !wallpaper->isPreset())
            wallpaper->deleteFile();
        replaceHalf(half, nullptr, changed);
    }
}

void ThemeItem::update(AccountBase* account, const im::Theme& theme)
{
    m_message = theme;
    setModify(true);
    setName(QString::fromStdString(theme.name()));
    updateHalf(account, m_light, theme.has_light(), theme.light(), &ThemeItem::lightChanged);
    updateHalf(account, m_dark, theme.has_dark(), theme.dark(), &ThemeItem::darkChanged);
}

void ThemeItem::resetThemeTo(const ThemeItem* source)
{
    if (!source)
        return;
    setModify(false);
    setName(source->m_name);
    if (source->m_light)
        setLight(new ThemeComponentItem(source->m_light));
    if (source->m_dark)
        setDark(new ThemeComponentItem(source->m_dark));
}

void ThemeItem::updateColors(const ColorCircleItem* circle)
{
    setModify(true);
    updateColors(false, circle);
    updateColors(true, circle);
}

void ThemeItem::updateColors(bool dark, const ColorCircleItem* circle)
{
    if (!circle)
        return;
    ThemeComponentItem* half = dark ? m_dark : m_light;
    if (half)
        half->applyColorCircle(dark ? circle->dark() : circle->light());
}

void ThemeItem::createEditWallpaper()
{
    for (ThemeComponentItem* half : {m_light, m_dark}) {
        if (half)
            half->beginEdit();
    }
}

void ThemeItem::cancelEditWallpaper()
{
    createEditWallpaper();
}

void ThemeItem::saveEditWallpaper()
{
    for (ThemeComponentItem* half : {m_light, m_dark}) {
        if (half)
            half->commitEdit();
    }
}

void ThemeItem::editWallpaperFinish()
{
    for (ThemeComponentItem* half : {m_light, m_dark}) {
        if (half)
            half->finishEdit();
    }
}

void ThemeItem::getCustomFileIds(QList<QString>& ids) const
{
    for (const ThemeComponentItem* half : {m_light, m_dark}) {
        const WallpaperItem* wallpaper = half ? half->wallpaperItem() : nullptr;
        if (wallpaper && !wallpaper->isPreset())
            wallpaper->getFileIds(ids);
    }
}

void ThemeItem::downloadFile(AccountBase* account) const
{
    for (const ThemeComponentItem* half : {m_light, m_dark}) {
        if (const WallpaperItem* wallpaper = half ? half->wallpaperItem() : nullptr)
            wallpaper->downloadFile(account);
    }
}

void ThemeItem::duplicatedFiles(AccountBase* account, const QHash<QString, QString>& oldToNew,
                                QList<QSharedPointer<FileData>>& replaced)
{
    for (ThemeComponentItem* half : {m_light, m_dark}) {
        if (WallpaperItem* wallpaper = half ? half->wallpaperItem() : nullptr)
            wallpaper->duplicatedFiles(account, oldToNew, replaced);
    }
}

void ThemeItem::deleteFile(const QSet<QString>& keep) const
{
    for (const ThemeComponentItem* half : {m_light, m_dark}) {
        const WallpaperItem* wallpaper = half ? half->wallpaperItem() : nullptr;
        if (wallpaper && !wallpaper->isPreset())
            wallpaper->deleteFile(keep);
    }
}

void ThemeItem::cachedFilePaths(QSet<QString>& paths) const
{
    for (const ThemeComponentItem* half : {m_light, m_dark}) {
        if (const WallpaperItem* wallpaper = half ? half->wallpaperItem() : nullptr)
            wallpaper->cachedFilePaths(paths);
    }
}

void ThemeItem::moveToThread(QThread* thread)
{
    for (ThemeComponentItem* half : {m_light, m_dark}) {
        if (WallpaperItem* wallpaper = half ? half->wallpaperItem() : nullptr)
            wallpaper->moveToThread(thread);
    }
    QObject::moveToThread(thread);
}
