#include "wallpapers/wallpapermodel.h"

#include "host/appsettingmodel.h"
#include "host/constants.h"

#include <QElapsedTimer>
#include <QJSEngine>

#include <algorithm>

namespace {

// By id, without copying either (the search compares thousands of times).
bool same(const WallpaperItem* a, const WallpaperItem* b)
{
    return a == b || *a == *b;
}

} // namespace

WallpaperModel::WallpaperModel(QObject* parent)
    : QAbstractListModel(parent),
      m_darkMode(AppSettingModel::instance()->darkMode())
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

WallpaperModel::~WallpaperModel()
{
    emit startDestroy();
}

int WallpaperModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant WallpaperModel::data(const QModelIndex& index, int role) const
{
    if (role != WALLPAPER_ROLE || !index.isValid() || index.row() >= m_items.size())
        return {};
    return QVariant::fromValue(m_items.at(index.row()).data());
}

QHash<int, QByteArray> WallpaperModel::roleNames() const
{
    return {{WALLPAPER_ROLE, "itemModel"}};
}

int WallpaperModel::orderedSearch(const QList<WallpaperItemPtr>& list, const WallpaperItem* x, bool dark,
                                  bool* exact, qint64* comparisons)
{
    *exact = false;
    const int n = int(list.size());
    if (n == 0)
        return 0;
    qint64 compared = 0;
    const auto greater = [&compared, dark](const WallpaperItem* a, const WallpaperItem* b) {
        ++compared;
        return WallpaperItem::greater(*a, *b, dark);
    };
    const auto found = [exact, comparisons, &compared](int row, bool hit) {
        *exact = hit;
        if (comparisons)
            *comparisons += compared;
        return row;
    };
    if (same(list.first().data(), x))
        return found(0, true);
    if (greater(x, list.first().data()))
        return found(0, false);
    if (same(list.last().data(), x))
        return found(n - 1, true);
    if (greater(list.last().data(), x))
        return found(n, false);
    int lo = 0;
    int hi = n - 1;
    while (lo <= hi) {
        const int mid = lo + (hi - lo) / 2;
        const WallpaperItem* m = list.at(mid).data();
        if (same(m, x))
            return found(mid, true);
        if (greater(x, m)) {
            hi = mid - 1;
        } else if (greater(m, x)) {
            lo = mid + 1;
        } else {
            // Equal in the order but another wallpaper (two own ones of the same time): x is
            // within the run of its equals, or belongs after it.
            int first = mid;
            while (first > 0 && !greater(list.at(first - 1).data(), x))
                --first;
            int end = mid + 1;
            while (end < n && !greater(x, list.at(end).data()))
                ++end;
            for (int row = first; row < end; ++row) {
                if (same(list.at(row).data(), x))
                    return found(row, true);
            }
            return found(end, false);
        }
    }
    return found(std::max(lo, hi), false);
}

int WallpaperModel::search(const WallpaperItem* x, bool* exact) const
{
    return orderedSearch(m_items, x, m_darkMode, exact, &m_comparisons);
}

int WallpaperModel::rowOf(const WallpaperItemPtr& item) const
{
    bool exact = false;
    const int row = search(item.data(), &exact);
    if (exact && m_items.at(row) == item)
        return row;
    return int(m_items.indexOf(item));
}

void WallpaperModel::addOwners(int delta)
{
    m_ownerCount += delta;
    const bool upTo = m_ownerCount >= OWNER_WALLPAPER_LIMIT;
    if (upTo == m_upToLimite)
        return;
    m_upToLimite = upTo;
    emit upToLimiteChanged();
}

void WallpaperModel::insert(WallpaperItemPtr item)
{
    if (!item)
        return;
    if (const WallpaperItemPtr held = m_byId.value(item->wallpaperId())) {
        if (held->lastUpdated() >= item->lastUpdated())
            return;
        // A newer version may belong elsewhere in the order.
        const int row = rowOf(held);
        if (row >= 0)
            place(row, item);
        return;
    }
    insertNew(item);
}

void WallpaperModel::insertNew(const WallpaperItemPtr& item)
{
    bool exact = false;
    const int row = search(item.data(), &exact);
    beginInsertRows(QModelIndex(), row, row);
    m_items.insert(row, item);
    m_byId.insert(item->wallpaperId(), item);
    endInsertRows();
    watch(item);
    emit countChanged();
    if (item->isOwner())
        addOwners(1);
}

void WallpaperModel::watch(const WallpaperItemPtr& item)
{
    connect(item.data(), &WallpaperItem::isDarkChanged, this, &WallpaperModel::onSortKeyChanged,
            Qt::UniqueConnection);
    connect(item.data(), &WallpaperItem::hasPatternChanged, this, &WallpaperModel::onSortKeyChanged,
            Qt::UniqueConnection);
}

void WallpaperModel::onSortKeyChanged()
{
    const auto* item = qobject_cast<const WallpaperItem*>(sender());
    if (!item)
        return;
    const WallpaperItemPtr held = m_byId.value(item->wallpaperId());
    if (held.data() != item)
        return;
    const int row = int(m_items.indexOf(held));
    if (row >= 0)
        place(row, held);
}

void WallpaperModel::append(const QList<WallpaperItemPtr>& items)
{
    if (items.isEmpty())
        return;
    QSet<QString> ids;
    for (const WallpaperItemPtr& item : items)
        ids.insert(item ? item->wallpaperId() : QString());
    // Only a list of distinct items into an empty model goes in one step.
    if (!m_items.isEmpty() || ids.size() != items.size() || ids.contains(QString())) {
        for (const WallpaperItemPtr& item : items)
            insert(item);
        return;
    }
    int owners = 0;
    for (const WallpaperItemPtr& item : items) {
        m_byId.insert(item->wallpaperId(), item);
        watch(item);
        owners += item->isOwner() ? 1 : 0;
    }
    beginInsertRows(QModelIndex(), 0, int(items.size()) - 1);
    m_items = items;
    endInsertRows();
    emit countChanged();
    addOwners(owners);
}

void WallpaperModel::onSortAll(bool bDarkMode)
{
    if (bDarkMode == m_darkMode)
        return;
    m_darkMode = bDarkMode;
    beginResetModel();
    m_items = m_byId.values();
    std::sort(m_items.begin(), m_items.end(),
              [this, bDarkMode](const WallpaperItemPtr& a, const WallpaperItemPtr& b) {
                  ++m_comparisons;
                  return WallpaperItem::greater(*a, *b, bDarkMode);
              });
    endResetModel();
    emit countChanged();
}

WallpaperItem* WallpaperModel::getItemById(const QString& id) const
{
    return m_byId.value(id).data();
}

WallpaperItem* WallpaperModel::itemByIndex(int index) const
{
    return index >= 0 && index < m_items.size() ? m_items.at(index).data() : nullptr;
}

int WallpaperModel::indexByItem(WallpaperItem* item) const
{
    if (!item)
        return -1;
    // A copy of a listed wallpaper (a theme's, the interface's) finds the row of its id.
    if (const WallpaperItemPtr held = m_byId.value(item->wallpaperId()))
        return rowOf(held);
    for (int row = 0; row < m_items.size(); ++row) {
        if (m_items.at(row).data() == item)
            return row;
    }
    return -1;
}

void WallpaperModel::replaceItem(const WallpaperItemPtr& item)
{
    if (!item)
        return;
    const WallpaperItemPtr held = m_byId.value(item->wallpaperId());
    if (!held) {
        insertNew(item);
        return;
    }
    if (held->lastUpdated() == item->lastUpdated())
        return;
    const int row = rowOf(held);
    if (row >= 0)
        place(row, item);
}

void WallpaperModel::replaceItems(const QList<WallpaperItemPtr>& items)
{
    // The last version of each id, split into listed ones that changed and new ones.
    QHash<QString, WallpaperItemPtr> latest;
    latest.reserve(items.size());
    for (const WallpaperItemPtr& item : items) {
        if (item)
            latest.insert(item->wallpaperId(), item);
    }
    QList<WallpaperItemPtr> changed;
    QList<WallpaperItemPtr> added;
    for (const WallpaperItemPtr& item : std::as_const(latest)) {
        const WallpaperItemPtr held = m_byId.value(item->wallpaperId());
        if (!held)
            added.append(item);
        else if (held->lastUpdated() != item->lastUpdated())
            changed.append(item);
    }
    if (changed.size() == 1)
        replaceItem(changed.first());
    else if (!changed.isEmpty())
        placeChanged(changed);
    insertNewItems(added);
}

void WallpaperModel::insertNewItems(QList<WallpaperItemPtr> added)
{
    if (added.isEmpty())
        return;
    addOwners(insertBlocks(std::move(added)));
    emit countChanged();
}

int WallpaperModel::insertBlocks(QList<WallpaperItemPtr> added)
{
    std::sort(added.begin(), added.end(), [this](const WallpaperItemPtr& a, const WallpaperItemPtr& b) {
        ++m_comparisons;
        return WallpaperItem::greater(*a, *b, m_darkMode);
    });
    // Items that fall between the same two listed rows go in as one block of rows.
    int owners = 0;
    qsizetype first = 0;
    while (first < added.size()) {
        bool exact = false;
        const int row = search(added.at(first).data(), &exact);
        qsizetype last = first + 1;
        const WallpaperItem* next = row < m_items.size() ? m_items.at(row).data() : nullptr;
        while (last < added.size() && (!next || !WallpaperItem::greater(*next, *added.at(last), m_darkMode)))
            ++last;
        beginInsertRows(QModelIndex(), row, int(row + last - first - 1));
        // The rows after move once for the whole block.
        m_items.insert(row, last - first, WallpaperItemPtr());
        for (qsizetype i = first; i < last; ++i) {
            const WallpaperItemPtr& item = added.at(i);
            m_items[row + (i - first)] = item;
            m_byId.insert(item->wallpaperId(), item);
            owners += item->isOwner() ? 1 : 0;
        }
        endInsertRows();
        for (qsizetype i = first; i < last; ++i)
            watch(added.at(i));
        first = last;
    }
    return owners;
}

void WallpaperModel::placeChanged(const QList<WallpaperItemPtr>& changed)
{
    // The listed versions leave as runs of rows, from the last up, and the new ones come in as
    // blocks: a proxy follows removed and inserted rows where it is, while a change of the
    // layout (or a move) makes it read every row of the list again.
    QList<int> leaving;
    leaving.reserve(changed.size());
    int owners = 0;
    for (const WallpaperItemPtr& item : changed) {
        const WallpaperItemPtr held = m_byId.value(item->wallpaperId());
        // Not disconnected: a version no longer listed is ignored when it signals (a
        // disconnection looks through all its connections).
        leaving.append(rowOf(held));
        owners -= held->isOwner() ? 1 : 0;
        releaseLater(held);
    }
    std::sort(leaving.begin(), leaving.end(), std::greater<int>());
    qsizetype i = 0;
    while (i < leaving.size()) {
        qsizetype j = i + 1;
        while (j < leaving.size() && leaving.at(j) == leaving.at(j - 1) - 1)
            ++j;
        const int first = leaving.at(j - 1);
        const int last = leaving.at(i);
        beginRemoveRows(QModelIndex(), first, last);
        m_items.remove(first, last - first + 1);
        endRemoveRows();
        i = j;
    }
    owners += insertBlocks(changed);
    addOwners(owners);
}

void WallpaperModel::place(int row, const WallpaperItemPtr& item)
{
    const WallpaperItemPtr held = m_items.takeAt(row);
    bool exact = false;
    const int target = search(item.data(), &exact);
    m_items.insert(row, held);
    if (target != row) {
        beginMoveRows(QModelIndex(), row, row, QModelIndex(), target > row ? target + 1 : target);
        m_items.move(row, target);
        endMoveRows();
    }
    m_items[target] = item;
    m_byId.remove(held->wallpaperId());
    m_byId.insert(item->wallpaperId(), item);
    if (held != item) {
        disconnect(held.data(), nullptr, this, nullptr);
        watch(item);
    }
    const QModelIndex changed = index(target);
    emit dataChanged(changed, changed, {WALLPAPER_ROLE});
    addOwners((item->isOwner() ? 1 : 0) - (held->isOwner() ? 1 : 0));
}

void WallpaperModel::renameItem(const QString& oldId, const QString& newId)
{
    const WallpaperItemPtr item = m_byId.value(oldId);
    if (!item || oldId == newId)
        return;
    if (const WallpaperItemPtr other = m_byId.value(newId); other && other != item) {
        // The wallpaper under its new id is listed already (another device's copy came first).
        m_byId.insert(oldId, item);
        removeById(oldId);
        return;
    }
    const int row = int(m_items.indexOf(item));
    m_byId.remove(oldId);
    if (row < 0)
        return;
    item->setWallpaperId(newId);
    m_byId.insert(newId, item);
    place(row, item);
}

void WallpaperModel::releaseLater(const WallpaperItemPtr& item)
{
    m_released.append(item);
    if (m_released.size() == 1)
        QMetaObject::invokeMethod(this, &WallpaperModel::releaseSome, Qt::QueuedConnection);
}

void WallpaperModel::releaseSome()
{
    QElapsedTimer spent;
    spent.start();
    qsizetype done = 0;
    while (done < m_released.size() && spent.nsecsElapsed() < kReleaseNs)
        m_released[done++].reset();
    m_released.remove(0, done);
    if (!m_released.isEmpty())
        QMetaObject::invokeMethod(this, &WallpaperModel::releaseSome, Qt::QueuedConnection);
}

void WallpaperModel::reserve(qsizetype count)
{
    m_items.reserve(count);
    m_byId.reserve(count);
}

bool WallpaperModel::removeById(const QString& id)
{
    const WallpaperItemPtr held = id.isEmpty() ? WallpaperItemPtr() : m_byId.value(id);
    if (!held)
        return false;
    const int row = rowOf(held);
    if (row < 0)
        return false;
    beginRemoveRows(QModelIndex(), row, row);
    m_items.removeAt(row);
    m_byId.remove(id);
    disconnect(held.data(), nullptr, this, nullptr);
    endRemoveRows();
    emit countChanged();
    if (held->isOwner())
        addOwners(-1);
    emit deleteWallpaperId(id);
    return true;
}

void WallpaperModel::removeOwnerItems(const std::function<void(const WallpaperItemPtr&)>& callback)
{
    for (int row = int(m_items.size()) - 1; row >= 0; --row) {
        const WallpaperItemPtr item = m_items.at(row);
        if (!item->isOwner())
            continue;
        if (callback)
            callback(item);
        beginRemoveRows(QModelIndex(), row, row);
        m_items.removeAt(row);
        m_byId.remove(item->wallpaperId());
        disconnect(item.data(), nullptr, this, nullptr);
        endRemoveRows();
        emit deleteWallpaperId(item->wallpaperId());
    }
    emit countChanged();
    addOwners(-m_ownerCount);
}

void WallpaperModel::reset()
{
    const bool hadItems = !m_items.isEmpty();
    beginResetModel();
    for (const WallpaperItemPtr& item : std::as_const(m_items))
        disconnect(item.data(), nullptr, this, nullptr);
    m_items.clear();
    m_byId.clear();
    endResetModel();
    m_ownerCount = 0;
    m_upToLimite = false;
    if (hadItems)
        emit countChanged();
}

WallpaperFilterModel::WallpaperFilterModel(QObject* parent) : QSortFilterProxyModel(parent)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

void WallpaperFilterModel::setMode(int mode)
{
    if (mode == m_mode)
        return;
    m_mode = mode;
    invalidateFilter();
}

void WallpaperFilterModel::setSourceModel(QAbstractItemModel* model)
{
    m_wallpapers = qobject_cast<const WallpaperModel*>(model);
    QSortFilterProxyModel::setSourceModel(model);
}

bool WallpaperFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    const WallpaperItem* item = nullptr;
    if (m_wallpapers) {
        item = m_wallpapers->itemByIndex(sourceRow);
    } else {
        const QVariant value =
            sourceModel()->index(sourceRow, 0, sourceParent).data(WallpaperModel::WALLPAPER_ROLE);
        // Read as stored: a conversion would look the type up by name for every row.
        if (value.metaType() == QMetaType::fromType<WallpaperItem*>())
            item = *static_cast<WallpaperItem* const*>(value.constData());
    }
    if (!item)
        return false;
    switch (m_mode) {
    case 0: return item->hasPattern() && !item->internalPattern() && item->hiPhoto();
    case 1: return true;
    default: return false;
    }
}
