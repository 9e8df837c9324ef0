#pragma once

#include "settingmodel_global.h"
#include "wallpapers/wallpaperitem.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QSortFilterProxyModel>
#include <QtQml/qqmlregistration.h>

#include <functional>

// All of an account's wallpapers in the wallpaper order, greatest first, as QML lists them.
// Rows are found by a binary search in that order, so every change costs log n comparisons.
class SETTINGMODEL_EXPORT WallpaperModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("WallpaperModel is made by the module")
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(bool upToLimite READ upToLimite NOTIFY upToLimiteChanged)
public:
    enum DataRole { WALLPAPER_ROLE = Qt::UserRole + 1, ROLE_MAX };
    Q_ENUM(DataRole)

    explicit WallpaperModel(QObject* parent = nullptr);
    ~WallpaperModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;
    int count() const { return int(m_items.size()); }
    // Whether the user holds as many wallpapers of his own as he may.
    bool upToLimite() const { return m_upToLimite; }

    // Places an item, or replaces the listed one of its id when the item is newer.
    Q_INVOKABLE void insert(WallpaperItemPtr item);
    // Items already in the wallpaper order, into an empty model in one step.
    Q_INVOKABLE void append(const QList<WallpaperItemPtr>& items);
    // Sorts everything again when the dark mode differs from the last full sort. The list keeps
    // the order of the mode it was last sorted for, whatever the application's flag says.
    Q_INVOKABLE void onSortAll(bool bDarkMode);
    bool darkMode() const { return m_darkMode; }
    Q_INVOKABLE WallpaperItem* getItemById(const QString& id) const;
    Q_INVOKABLE WallpaperItem* itemByIndex(int index) const;
    Q_INVOKABLE int indexByItem(WallpaperItem* item) const;

    WallpaperItemPtr itemPtr(const QString& id) const { return m_byId.value(id); }
    bool contains(const QString& id) const { return m_byId.contains(id); }
    // The list itself: a copy kept would make the model's next change copy the whole list.
    const QList<WallpaperItemPtr>& items() const { return m_items; }
    // Takes the item's place for its id, moving the row when its place in the order changed.
    void replaceItem(const WallpaperItemPtr& item);
    // Many items at once, as replaceItem does for each: new ones are inserted in blocks of rows;
    // listed ones whose version changed leave their rows and come in again at their places (a
    // move or a change of the layout would make every proxy read the whole list again).
    void replaceItems(const QList<WallpaperItemPtr>& items);
    // The item of oldId is now known as newId; its row moves to its place in the order.
    void renameItem(const QString& oldId, const QString& newId);
    bool removeById(const QString& id);
    // Room for count wallpapers, so that a large page does not grow the tables as it goes.
    void reserve(qsizetype count);
    // Removes every wallpaper of the user's own, handing each to callback first.
    void removeOwnerItems(const std::function<void(const WallpaperItemPtr&)>& callback);
    // Empties the model (sign-out).
    void reset();

    // The row of x in a list in the wallpaper order of a dark mode: where it is (exact true), or
    // where it belongs. Adds the comparisons made to *comparisons when given.
    static int orderedSearch(const QList<WallpaperItemPtr>& list, const WallpaperItem* x, bool dark,
                             bool* exact, qint64* comparisons = nullptr);
    // Comparisons the model's searches made so far; for measuring.
    qint64 comparisons() const { return m_comparisons; }

signals:
    void countChanged();
    void upToLimiteChanged();
    void deleteWallpaperId(const QString& id);
    void startDestroy();

private:
    int search(const WallpaperItem* x, bool* exact) const;
    // The row of a listed item, also when its sort keys changed since it was placed.
    int rowOf(const WallpaperItemPtr& item) const;
    void insertNew(const WallpaperItemPtr& item);
    // Inserts items not listed yet, those that fall together as one block of rows.
    void insertNewItems(QList<WallpaperItemPtr> added);
    // The same without telling of the count or the owners; returns the owners' wallpapers added.
    int insertBlocks(QList<WallpaperItemPtr> added);
    // Puts changed versions of listed items at their places instead of the listed ones.
    void placeChanged(const QList<WallpaperItemPtr>& changed);
    // Puts item at its place in the order instead of the listed item at row.
    void place(int row, const WallpaperItemPtr& item);
    void addOwners(int delta);
    // Versions replaced in bulk are let go a few at a time, within kReleaseNs per event: deleting
    // thousands of objects at once (their memory going back to the heap of the thread that made
    // them) would hold this thread.
    void releaseLater(const WallpaperItemPtr& item);
    void releaseSome();
    static constexpr qint64 kReleaseNs = 500'000;
    // A listed item whose sort keys the interface changed moves to its new place.
    void watch(const WallpaperItemPtr& item);
    void onSortKeyChanged();

    QList<WallpaperItemPtr> m_items;
    QHash<QString, WallpaperItemPtr> m_byId;
    QList<WallpaperItemPtr> m_released;
    int m_ownerCount = 0;
    bool m_darkMode;
    bool m_upToLimite = false;
    mutable qint64 m_comparisons = 0;
};

// The pattern wallpapers of the list (mode 0): those with a pattern image of their own on the
// server. Mode 1 passes everything; any other mode nothing.
class SETTINGMODEL_EXPORT WallpaperFilterModel : public QSortFilterProxyModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("WallpaperFilterModel is made by the module")
public:
    explicit WallpaperFilterModel(QObject* parent = nullptr);
    int mode() const { return m_mode; }
    void setMode(int mode);
    void setSourceModel(QAbstractItemModel* model) override;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    int m_mode = 1;
    // The source when it is a wallpaper list: its rows are read straight from it, since every
    // change of the list's layout makes the proxy read each row again.
    const WallpaperModel* m_wallpapers = nullptr;
};
