#pragma once

#include "settingmodel_global.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QStringList>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

class AccountBase;
class ThemeComponentItem;
class ThemeItem;

// One half of a colour circle: accent and message colours, without a wallpaper.
class SETTINGMODEL_EXPORT ColorCircleComponentItem : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_MOC_INCLUDE("themes/themeitem.h")
    QML_UNCREATABLE("ColorCircleComponentItem is made by the module")
    Q_PROPERTY(QStringList themeColors READ themeColors WRITE setThemeColors NOTIFY themeColorsChanged)
    Q_PROPERTY(
        QStringList messageColors READ messageColors WRITE setMessageColors NOTIFY messageColorsChanged)
public:
    // "theme" and "message": colour names.
    explicit ColorCircleComponentItem(const QVariantMap& map, QObject* parent = nullptr);
    explicit ColorCircleComponentItem(const ThemeComponentItem* half, QObject* parent = nullptr);

    QStringList themeColors() const { return m_themeColors; }
    void setThemeColors(const QStringList& colors);
    QStringList messageColors() const { return m_messageColors; }
    void setMessageColors(const QStringList& colors);
    QVariantMap toMap() const;

signals:
    void themeColorsChanged();
    void messageColorsChanged();

private:
    QStringList m_themeColors;
    QStringList m_messageColors;
};

// A swatch that recolours the current theme, for light and dark mode.
class SETTINGMODEL_EXPORT ColorCircleItem : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("ColorCircleItem is made by the module")
    Q_PROPERTY(int colorId READ colorId CONSTANT)
    Q_PROPERTY(bool preset READ preset CONSTANT)
    Q_PROPERTY(ColorCircleComponentItem* light READ light CONSTANT)
    Q_PROPERTY(ColorCircleComponentItem* dark READ dark CONSTANT)
public:
    // "id", "createTime", "preset", "light" and "dark".
    explicit ColorCircleItem(const QVariantMap& map, QObject* parent = nullptr);
    // The two halves of a theme, as a new circle.
    ColorCircleItem(const ThemeItem* theme, int colorId, qint64 createTime, QObject* parent = nullptr);

    int colorId() const { return m_colorId; }
    void setColorId(int id) { m_colorId = id; }
    bool preset() const { return m_preset; }
    qint64 createTime() const { return m_createTime; }
    ColorCircleComponentItem* light() const { return m_light; }
    ColorCircleComponentItem* dark() const { return m_dark; }
    QVariantMap toMap() const;

private:
    ColorCircleComponentItem* m_light;
    ColorCircleComponentItem* m_dark;
    qint64 m_createTime = 0;
    int m_colorId = -1;
    bool m_preset = false;
};

// The account's colour circles in their order (a pinned one first, then by create time, then by
// id), stored in the account's settings with the chosen one.
class SETTINGMODEL_EXPORT ColorCircleModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("ColorCircleModel is made by the module")
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(int currentColorId READ currentColorId NOTIFY currentColorIdChanged)
public:
    enum DataRole { COLOR_CIRCLE_ROLE = Qt::UserRole + 1 };
    Q_ENUM(DataRole)
    // Ids above this are the user's own circles.
    static constexpr int kLastPresetId = 10;

    ColorCircleModel(AccountBase* account, QObject* parent = nullptr);
    ~ColorCircleModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;
    int count() const { return int(m_items.size()); }
    int currentColorId() const { return m_currentColorId; }
    QList<ColorCircleItem*> items() const { return m_items; }

    Q_INVOKABLE ColorCircleItem* lastCustom() const;
    Q_INVOKABLE ColorCircleItem* itemByIndex(int index) const;
    Q_INVOKABLE ColorCircleItem* itemByColorId(int colorId) const;
    // Starts a new circle from a theme's colours; saveNew lists it.
    Q_INVOKABLE ColorCircleItem* add(ThemeItem* theme);
    Q_INVOKABLE void saveNew();
    Q_INVOKABLE void saveEdit();
    Q_INVOKABLE void remove(int colorId);
    Q_INVOKABLE int indexByColorId(int colorId) const;
    // Sorts again, with the chosen circle first unless clearOrderId; stores the list.
    Q_INVOKABLE void resetOrder(bool clearOrderId = true);

    // The stored circles, or the defaults (with one of the current theme's colours when given).
    void load(const ThemeItem* currentTheme);
    void select(int colorId);
    void clear();

signals:
    void startDestroy();
    void countChanged();
    void currentColorIdChanged();

private:
    bool before(const ColorCircleItem* a, const ColorCircleItem* b) const;
    QList<ColorCircleItem*> sorted(const QList<ColorCircleItem*>& items) const;
    void store() const;

    QList<ColorCircleItem*> m_items;
    QHash<int, ColorCircleItem*> m_byId;
    AccountBase* m_account;
    ColorCircleItem* m_new = nullptr;
    int m_currentColorId = -1;
    int m_orderId = -1;
    int m_lastCustomId = kLastPresetId;
};
