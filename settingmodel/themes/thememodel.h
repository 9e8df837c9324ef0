#pragma once

#include "settingmodel_global.h"
#include "themes/themeitem.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QtQml/qqmlregistration.h>

class AccountBase;

// A list of themes, newest first, as QML shows the built-in or the user's own themes. It owns its
// themes and finds rows by a binary search in that order.
class SETTINGMODEL_EXPORT ThemeModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("ThemeModel is made by the module")
    Q_PROPERTY(int count READ count NOTIFY countChanged)
public:
    enum DataRole { THEME_ROLE = Qt::UserRole + 1 };
    Q_ENUM(DataRole)

    explicit ThemeModel(QObject* parent = nullptr);
    ~ThemeModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QList<ThemeItem*>& themes() const { return m_items; }
    int count() const { return int(m_items.size()); }
    Q_INVOKABLE ThemeItem* itemByIndex(int index) const;
    Q_INVOKABLE ThemeItem* itemById(const QString& themeId) const;
    Q_INVOKABLE bool contains(const QString& themeId) const { return m_byId.contains(themeId); }
    Q_INVOKABLE bool hasThemeName(const QString& name) const;

    // Takes the theme into its place in the order.
    void insert(ThemeItem* theme);
    // Themes already in order, into an empty model in one step.
    void append(const QList<ThemeItem*>& themes);
    // Removes the theme and the cached files of its own wallpapers, but those at a path in keep
    // (other themes use them).
    void remove(const QString& themeId, const QSet<QString>& keep = {});
    void clearData();
    // Copies of another list's themes, in its order.
    void reset(const ThemeModel* source);
    // Adds the theme of a message, or updates the listed one of the same id and create time.
    void sortItem(AccountBase* account, const QString& themeId, const im::Theme& theme);
    // Stored records (theme id to Base64 of im::Theme): those of a theme listed in existing update
    // it; the others are sorted into this list. Records that do not parse are skipped.
    void deserialize(AccountBase* account, ThemeModel* existing, const QHash<QString, QByteArray>& values);
    void downloadFiles(AccountBase* account) const;

    // The row of theme in a list in the order (newest first, or oldest first when ascending):
    // where it is (found true), or where it belongs.
    static int search(const QList<ThemeItem*>& list, const ThemeItem* theme, bool* found,
                      bool ascending = false);

signals:
    void countChanged();
    void startDestroy();

protected:
    void insert(int row, ThemeItem* theme);
    void remove(int row, const QSet<QString>& keep = {});

private:
    QList<ThemeItem*> m_items;
    QHash<QString, ThemeItem*> m_byId;
};
