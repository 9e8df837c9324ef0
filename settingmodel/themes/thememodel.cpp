#include "themes/thememodel.h"

#include "logging.h"
#include "protobufutil.h"

#include <QJSEngine>

ThemeModel::ThemeModel(QObject* parent) : QAbstractListModel(parent)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

ThemeModel::~ThemeModel()
{
    emit startDestroy();
    qDeleteAll(m_items);
}

int ThemeModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant ThemeModel::data(const QModelIndex& index, int role) const
{
    if (role != THEME_ROLE || !index.isValid() || index.row() >= m_items.size())
        return {};
    return QVariant::fromValue(m_items.at(index.row()));
}

QHash<int, QByteArray> ThemeModel::roleNames() const
{
    return {{THEME_ROLE, "theme"}};
}

ThemeItem* ThemeModel::itemByIndex(int index) const
{
    return index >= 0 && index < m_items.size() ? m_items.at(index) : nullptr;
}

ThemeItem* ThemeModel::itemById(const QString& themeId) const
{
    return themeId.isEmpty() ? nullptr : m_byId.value(themeId);
}

bool ThemeModel::hasThemeName(const QString& name) const
{
    return std::any_of(m_items.cbegin(), m_items.cend(),
                       [&name](const ThemeItem* t) { return t->name() == name; });
}

int ThemeModel::search(const QList<ThemeItem*>& list, const ThemeItem* theme, bool* found, bool ascending)
{
    *found = false;
    const int n = int(list.size());
    if (n == 0 || !theme)
        return 0;
    // Whether a comes before b in the list's direction.
    const auto before = [ascending](const ThemeItem* a, const ThemeItem* b) {
        return ascending ? ThemeItem::before(*b, *a) : ThemeItem::before(*a, *b);
    };
    const auto same = [theme](const ThemeItem* row) { return row == theme || *row == *theme; };
    if (same(list.first())) {
        *found = true;
        return 0;
    }
    if (before(theme, list.first()))
        return 0;
    if (same(list.last())) {
        *found = true;
        return n - 1;
    }
    if (before(list.last(), theme))
        return n;
    int low = 0;
    int high = n - 1;
    while (low <= high) {
        const int mid = low + (high - low) / 2;
        const ThemeItem* row = list.at(mid);
        if (same(row)) {
            *found = true;
            return mid;
        }
        if (before(theme, row))
            high = mid - 1;
        else
            low = mid + 1;
    }
    return low;
}

void ThemeModel::insert(int row, ThemeItem* theme)
{
    if (row < 0 || row > m_items.size()) {
        delete theme;
        return;
    }
    theme->setParent(nullptr);
    beginInsertRows(QModelIndex(), row, row);
    m_items.insert(row, theme);
    m_byId.insert(theme->themeId(), theme);
    endInsertRows();
    emit countChanged();
}

void ThemeModel::insert(ThemeItem* theme)
{
    if (!theme)
        return;
    bool found = false;
    insert(search(m_items, theme, &found), theme);
}

void ThemeModel::append(const QList<ThemeItem*>& themes)
{
    if (themes.isEmpty())
        return;
    for (ThemeItem* theme : themes)
        m_byId.insert(theme->themeId(), theme);
    beginInsertRows(QModelIndex(), int(m_items.size()), int(m_items.size() + themes.size()) - 1);
    m_items.append(themes);
    endInsertRows();
    emit countChanged();
}

void ThemeModel::remove(int row, const QSet<QString>& keep)
{
    ThemeItem* theme = m_items.at(row);
    theme->deleteFile(keep);
    beginRemoveRows(QModelIndex(), row, row);
    m_items.removeAt(row);
    m_byId.remove(theme->themeId());
    endRemoveRows();
    emit countChanged();
    delete theme;
}

void ThemeModel::remove(const QString& themeId, const QSet<QString>& keep)
{
    ThemeItem* theme = itemById(themeId);
    if (!theme)
        return;
    const int row = int(m_items.indexOf(theme));
    if (row >= 0)
        remove(row, keep);
}

void ThemeModel::clearData()
{
    beginResetModel();
    const QList<ThemeItem*> gone = std::exchange(m_items, {});
    m_byId.clear();
    endResetModel();
    qDeleteAll(gone);
    emit countChanged();
}

void ThemeModel::reset(const ThemeModel* source)
{
    clearData();
    if (!source || source->m_items.isEmpty())
        return;
    QList<ThemeItem*> copies;
    copies.reserve(source->m_items.size());
    for (const ThemeItem* theme : source->m_items)
        copies.append(new ThemeItem(theme));
    append(copies);
}

void ThemeModel::sortItem(AccountBase* account, const QString& themeId, const im::Theme& theme)
{
    auto* made = new ThemeItem(account, themeId, theme);
    bool found = false;
    const int row = search(m_items, made, &found);
    if (found) {
        m_items.at(row)->update(account, theme);
        delete made;
        return;
    }
    // The same theme under another create time: the listed one goes, the new one takes its place.
    if (ThemeItem* listed = m_byId.value(themeId)) {
        listed->update(account, theme);
        delete made;
        return;
    }
    insert(row, made);
}

void ThemeModel::deserialize(AccountBase* account, ThemeModel* existing,
                             const QHash<QString, QByteArray>& values)
{
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const auto decoded =
            QByteArray::fromBase64Encoding(it.value(), QByteArray::AbortOnBase64DecodingErrors);
        im::Theme theme;
        if (!decoded || !settingmodel::parseMessage(theme, decoded.decoded)) {
            qCDebug(lcSettingModel) << "skipping a stored theme that does not parse:" << it.key();
            continue;
        }
        if (ThemeItem* listed = existing ? existing->itemById(it.key()) : nullptr)
            listed->update(account, theme);
        else
            sortItem(account, it.key(), theme);
    }
}

void ThemeModel::downloadFiles(AccountBase* account) const
{
    for (const ThemeItem* theme : m_items)
        theme->downloadFile(account);
}
