#include "host/dialogbase.h"

#include "host/contacts.h"

#include <QJSEngine>

DialogBase::DialogBase(const QString& dialogId, bool isGroup, QSharedPointer<GroupModel> group,
                       QObject* parent)
    : QObject(parent),
      m_dialogId(dialogId),
      m_isGroup(isGroup),
      m_group(std::move(group))
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

DialogBase::~DialogBase()
{
    emit startDestroy();
}

void DialogBase::setThemeId(const QString& themeId)
{
    if (m_themeId == themeId)
        return;
    m_themeId = themeId;
    emit themeIdChanged();
}

void DialogBase::setWallpaper(const QByteArray& wallpaper)
{
    if (m_wallpaper == wallpaper)
        return;
    m_wallpaper = wallpaper;
    emit wallpaperChanged();
}
