#include "themes/colorcirclemodel.h"

#include "colornames.h"
#include "host/accountbase.h"
#include "host/accountsettingmodel.h"
#include "host/jsonutil.h"
#include "logging.h"
#include "themes/presetthemes.h"
#include "themes/themeitem.h"

#include <QJSEngine>

#include <algorithm>

namespace {

const QString kTheme = QStringLiteral("theme");
const QString kMessage = QStringLiteral("message");
const QString kId = QStringLiteral("id");
const QString kCreateTime = QStringLiteral("createTime");
const QString kPreset = QStringLiteral("preset");
const QString kLight = QStringLiteral("light");
const QString kDark = QStringLiteral("dark");

QVariantMap half(const QString& theme, const QString& message)
{
    return {{kTheme, QStringList{theme}}, {kMessage, QStringList{message}}};
}

QVariantMap circle(int id, qint64 createTime, bool preset, const QVariantMap& light, const QVariantMap& dark)
{
    QVariantMap map{{kId, id}, {kCreateTime, createTime}, {kLight, light}, {kDark, dark}};
    if (preset)
        map.insert(kPreset, true);
    return map;
}

// The single-colour circles every account starts with: accent, light message, dark message.
struct Swatch {
    const char* theme;
    const char* light;
    const char* dark;
};
constexpr Swatch kSwatches[] = {{"#26B36D", "#C6E7CF", "#24763B"}, {"#EE5935", "#FFD3D3", "#B24545"},
                                {"#FF9431", "#FFE1C5", "#B26822"}, {"#80C245", "#DBEECB", "#5A8830"},
                                {"#4E73EB", "#CCDCFA", "#345AA5"}, {"#7064FB", "#D7D4FE", "#4E46B0"},
                                {"#EB48C8", "#FFD3E7", "#B24577"}};

// A stored circle whose colours are not all colour names is skipped.
bool storedColors(const QVariantMap& map)
{
    for (const QString& side : {kLight, kDark}) {
        const QVariantMap colors = map.value(side).toMap();
        for (const QString& kind : {kTheme, kMessage}) {
            if (!settingmodel::acceptColorNames(colors.value(kind).toStringList(), "stored circle colours"))
                return false;
        }
    }
    return true;
}

} // namespace

// ---- ColorCircleComponentItem ----

ColorCircleComponentItem::ColorCircleComponentItem(const QVariantMap& map, QObject* parent)
    : QObject(parent),
      m_themeColors(map.value(kTheme).toStringList()),
      m_messageColors(map.value(kMessage).toStringList())
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

ColorCircleComponentItem::ColorCircleComponentItem(const ThemeComponentItem* half, QObject* parent)
    : QObject(parent)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
    if (half) {
        m_themeColors = half->themeColors();
        m_messageColors = half->messageColors();
    }
}

void ColorCircleComponentItem::setThemeColors(const QStringList& colors)
{
    if (colors == m_themeColors || !settingmodel::acceptColorNames(colors, "circle theme colours"))
        return;
    m_themeColors = colors;
    emit themeColorsChanged();
}

void ColorCircleComponentItem::setMessageColors(const QStringList& colors)
{
    if (colors == m_messageColors || !settingmodel::acceptColorNames(colors, "circle message colours"))
        return;
    m_messageColors = colors;
    emit messageColorsChanged();
}

QVariantMap ColorCircleComponentItem::toMap() const
{
    return {{kTheme, m_themeColors}, {kMessage, m_messageColors}};
}

// ---- ColorCircleItem ----

ColorCircleItem::ColorCircleItem(const QVariantMap& map, QObject* parent)
    : QObject(parent),
      m_light(new ColorCircleComponentItem(map.value(kLight).toMap(), this)),
      m_dark(new ColorCircleComponentItem(map.value(kDark).toMap(), this)),
      m_createTime(map.value(kCreateTime).toLongLong()),
      m_colorId(map.value(kId, -1).toInt()),
      m_preset(map.value(kPreset).toBool())
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

ColorCircleItem::ColorCircleItem(const ThemeItem* theme, int colorId, qint64 createTime, QObject* parent)
    : QObject(parent),
      m_light(new ColorCircleComponentItem(theme ? theme->light() : nullptr, this)),
      m_dark(new ColorCircleComponentItem(theme ? theme->dark() : nullptr, this)),
      m_createTime(createTime),
      m_colorId(colorId)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

QVariantMap ColorCircleItem::toMap() const
{
    return {{kId, m_colorId},
            {kCreateTime, m_createTime},
            {kPreset, m_preset},
            {kLight, m_light->toMap()},
            {kDark, m_dark->toMap()}};
}

// ---- ColorCircleModel ----

ColorCircleModel::ColorCircleModel(AccountBase* account, QObject* parent)
    : QAbstractListModel(parent),
      m_account(account)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

ColorCircleModel::~ColorCircleModel()
{
    emit startDestroy();
    qDeleteAll(m_items);
    delete m_new;
}

int ColorCircleModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant ColorCircleModel::data(const QModelIndex& index, int role) const
{
    if (role != COLOR_CIRCLE_ROLE || !index.isValid() || index.row() >= m_items.size())
        return {};
    return QVariant::fromValue(m_items.at(index.row()));
}

QHash<int, QByteArray> ColorCircleModel::roleNames() const
{
    return {{COLOR_CIRCLE_ROLE, "colorCircle"}};
}

bool ColorCircleModel::before(const ColorCircleItem* a, const ColorCircleItem* b) const
{
    const bool aPinned = a->colorId() == m_orderId;
    const bool bPinned = b->colorId() == m_orderId;
    if (aPinned != bPinned)
        return aPinned;
    if (a->createTime() != b->createTime())
        return a->createTime() < b->createTime();
    return a->colorId() < b->colorId();
}

QList<ColorCircleItem*> ColorCircleModel::sorted(const QList<ColorCircleItem*>& items) const
{
    QList<ColorCircleItem*> out = items;
    std::stable_sort(out.begin(), out.end(),
                     [this](const ColorCircleItem* a, const ColorCircleItem* b) { return before(a, b); });
    return out;
}

void ColorCircleModel::store() const
{
    QVariantList list;
    list.reserve(m_items.size());
    for (const ColorCircleItem* item : m_items)
        list.append(item->toMap());
    m_account->accountSettingModel()->updateColorCircles(listToJson(list));
}

ColorCircleItem* ColorCircleModel::lastCustom() const
{
    return m_items.isEmpty() ? nullptr : m_items.last();
}

ColorCircleItem* ColorCircleModel::itemByIndex(int index) const
{
    return index >= 0 && index < m_items.size() ? m_items.at(index) : nullptr;
}

ColorCircleItem* ColorCircleModel::itemByColorId(int colorId) const
{
    return m_byId.value(colorId);
}

int ColorCircleModel::indexByColorId(int colorId) const
{
    const ColorCircleItem* item = m_byId.value(colorId);
    return item ? int(m_items.indexOf(item)) : -1;
}

void ColorCircleModel::load(const ThemeItem* currentTheme)
{
    m_orderId = -1;
    m_lastCustomId = kLastPresetId;
    m_currentColorId = m_account->accountSettingModel()->selectColorCircleId();
    QList<ColorCircleItem*> loaded;
    const QVariantList stored =
        readStoredList(m_account->accountSettingModel()->colorCircles(), "colour circles");
    if (stored.isEmpty()) {
        for (int i = 0; i < settingmodel::kPlainPresetIndex; ++i) {
            const QVariantMap preset = settingmodel::presetThemeData(i);
            loaded.append(new ColorCircleItem(
                circle(i, i + 1, i == 0, preset.value(kLight).toMap(), preset.value(kDark).toMap()), this));
        }
        if (currentTheme)
            loaded.append(new ColorCircleItem(currentTheme, 4, 0, this));
        for (int i = 0; i < int(std::size(kSwatches)); ++i) {
            const Swatch& swatch = kSwatches[i];
            const QString theme = QString::fromLatin1(swatch.theme);
            loaded.append(new ColorCircleItem(circle(kLastPresetId + i, 5 + i, true,
                                                     half(theme, QString::fromLatin1(swatch.light)),
                                                     half(theme, QString::fromLatin1(swatch.dark))),
                                              this));
        }
    } else {
        for (const QVariant& entry : stored) {
            // Entries that are not circles, or repeat an id, are skipped.
            const QVariantMap map = entry.toMap();
            if (map.isEmpty() || !map.contains(kId) || !storedColors(map))
                continue;
            loaded.append(new ColorCircleItem(map, this));
        }
        loaded = sorted(loaded);
    }
    beginResetModel();
    qDeleteAll(m_items);
    m_items.clear();
    m_byId.clear();
    for (ColorCircleItem* item : std::as_const(loaded)) {
        if (m_byId.contains(item->colorId())) {
            delete item;
            continue;
        }
        m_items.append(item);
        m_byId.insert(item->colorId(), item);
    }
    endResetModel();
    emit countChanged();
    emit currentColorIdChanged();
}

void ColorCircleModel::select(int colorId)
{
    if (colorId == m_currentColorId)
        return;
    m_currentColorId = colorId;
    emit currentColorIdChanged();
    m_account->accountSettingModel()->setSelectColorCircleId(colorId);
}

ColorCircleItem* ColorCircleModel::add(ThemeItem* theme)
{
    if (!theme)
        return nullptr;
    delete m_new;
    m_new = new ColorCircleItem(theme, -1, m_account->currentTime(), this);
    return m_new;
}

void ColorCircleModel::saveNew()
{
    if (!m_new)
        return;
    int id = m_lastCustomId + 1;
    while (m_byId.contains(id))
        ++id;
    m_lastCustomId = id;
    m_new->setColorId(id);
    const int row = int(m_items.size());
    beginInsertRows(QModelIndex(), row, row);
    m_items.append(m_new);
    m_byId.insert(id, m_new);
    endInsertRows();
    emit countChanged();
    m_new = nullptr;
    select(id);
    resetOrder(false);
}

void ColorCircleModel::saveEdit()
{
    store();
}

void ColorCircleModel::remove(int colorId)
{
    ColorCircleItem* item = m_byId.value(colorId);
    if (!item)
        return;
    const int row = int(m_items.indexOf(item));
    beginRemoveRows(QModelIndex(), row, row);
    m_items.removeAt(row);
    m_byId.remove(colorId);
    endRemoveRows();
    emit countChanged();
    delete item;
    store();
}

void ColorCircleModel::resetOrder(bool clearOrderId)
{
    m_orderId = clearOrderId ? -1 : m_currentColorId;
    const QList<ColorCircleItem*> order = sorted(m_items);
    if (order != m_items) {
        beginResetModel();
        m_items = order;
        endResetModel();
    }
    store();
}

void ColorCircleModel::clear()
{
    const bool hadItems = !m_items.isEmpty();
    beginResetModel();
    qDeleteAll(m_items);
    m_items.clear();
    m_byId.clear();
    endResetModel();
    delete m_new;
    m_new = nullptr;
    if (hadItems)
        emit countChanged();
}
