#pragma once

#include "host/hostglobal.h"

#include <QObject>
#include <QSharedPointer>

class GroupModel;

// A chat known to the account.
class HOST_EXPORT DialogBase : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString dialogId READ dialogId CONSTANT)
    Q_PROPERTY(bool isGroup READ isGroup CONSTANT)
    // The chat's look as the server holds it: the id of its theme (empty for none) and its
    // wallpaper as a serialised im::WallPaper (empty for none).
    Q_PROPERTY(QString themeId READ themeId NOTIFY themeIdChanged)
    Q_PROPERTY(QByteArray wallpaper READ wallpaper NOTIFY wallpaperChanged)
public:
    DialogBase(const QString& dialogId, bool isGroup, QSharedPointer<GroupModel> group = {},
               QObject* parent = nullptr);
    ~DialogBase() override;

    QString dialogId() const { return m_dialogId; }
    bool isGroup() const { return m_isGroup; }
    QSharedPointer<GroupModel> group() const { return m_group; }
    QString themeId() const { return m_themeId; }
    QByteArray wallpaper() const { return m_wallpaper; }
    void setThemeId(const QString& themeId);
    void setWallpaper(const QByteArray& wallpaper);

signals:
    void startDestroy();
    void themeIdChanged();
    void wallpaperChanged();

private:
    QString m_dialogId;
    bool m_isGroup;
    QSharedPointer<GroupModel> m_group;
    QString m_themeId;
    QByteArray m_wallpaper;
};
