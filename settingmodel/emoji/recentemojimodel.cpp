#include "emoji/recentemojimodel.h"

#include "host/accountbase.h"
#include "host/datainfomodel.h"
#include "host/jsonutil.h"
#include "logging.h"

#include <QJSEngine>

namespace {
const QString kEmoji = QStringLiteral("emoji");
const QString kPackId = QStringLiteral("packId");
const QString kEmojiId = QStringLiteral("emojiId");
} // namespace

RecentEmojiModel::RecentEmojiModel(AccountBase* account, EmojiType type)
    : QAbstractListModel(account),
      m_account(account),
      m_name(qtTrId("rem_recent")),
      m_type(type)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

RecentEmojiModel::~RecentEmojiModel()
{
    emit startDestroy();
}

int RecentEmojiModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_shown;
}

QVariant RecentEmojiModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_shown)
        return {};
    const EmojiData& entry = m_entries.at(index.row());
    switch (role) {
    case EmojiRole: return entry.emoji;
    case PackIdRole: return entry.packId;
    case EmojiIdRole: return entry.emojiId;
    default: return {};
    }
}

QHash<int, QByteArray> RecentEmojiModel::roleNames() const
{
    return {{EmojiRole, "emoji"}, {PackIdRole, "packId"}, {EmojiIdRole, "emojiId"}};
}

void RecentEmojiModel::setName(const QString& name)
{
    if (name == m_name)
        return;
    m_name = name;
    emit nameChanged(name);
}

void RecentEmojiModel::setMaxCount(int count)
{
    if (count == m_maxCount)
        return;
    m_maxCount = count;
    emit maxCountChanged();
}

void RecentEmojiModel::setViewLoadCount(int count)
{
    if (count == m_viewLoadCount || count < 0)
        return;
    m_viewLoadCount = count;
    emit viewLoadCountChanged();
    fitWindow();
}

void RecentEmojiModel::fitWindow()
{
    const int target = int(std::min<qsizetype>(m_viewLoadCount, m_entries.size()));
    if (target > m_shown) {
        beginInsertRows(QModelIndex(), m_shown, target - 1);
        m_shown = target;
        endInsertRows();
    } else if (target < m_shown) {
        beginRemoveRows(QModelIndex(), target, m_shown - 1);
        m_shown = target;
        endRemoveRows();
    }
}

void RecentEmojiModel::trim()
{
    const int keep = qMax(m_maxCount, 0);
    if (m_entries.size() <= keep)
        return;
    // Views read the rows while their removal is announced: they go only after.
    if (m_shown > keep) {
        beginRemoveRows(QModelIndex(), keep, m_shown - 1);
        m_entries.resize(keep);
        m_shown = keep;
        endRemoveRows();
    } else {
        m_entries.resize(keep);
    }
}

void RecentEmojiModel::save() const
{
    QVariantList list;
    list.reserve(m_entries.size());
    for (const EmojiData& entry : m_entries)
        list.append(QVariantMap{{kEmoji, entry.emoji}, {kPackId, entry.packId}, {kEmojiId, entry.emojiId}});
    DataInfoModel* store = m_account->dataInfoModel();
    if (m_type == Emoji)
        store->saveEmojiRecent(listToJson(list));
    else
        store->saveReactionEmojiRecent(listToJson(list));
}

void RecentEmojiModel::emojiUsed(const QString& emoji, int packId, int emojiId)
{
    const EmojiData entry{emoji, packId, emojiId};
    if (m_entries.contains(entry))
        return;
    // The last visible row leaves the window to make room at the top.
    if (m_shown > 0 && m_shown >= m_viewLoadCount) {
        beginRemoveRows(QModelIndex(), m_shown - 1, m_shown - 1);
        --m_shown;
        endRemoveRows();
    }
    if (m_viewLoadCount > 0) {
        beginInsertRows(QModelIndex(), 0, 0);
        m_entries.prepend(entry);
        ++m_shown;
        endInsertRows();
    } else {
        m_entries.prepend(entry);
    }
    trim();
    fitWindow();
    save();
    emit countChanged();
    emit modelChanged();
}

void RecentEmojiModel::remove(const QString& emoji, int packId, int emojiId)
{
    const int row = int(m_entries.indexOf(EmojiData{emoji, packId, emojiId}));
    if (row < 0)
        return;
    if (row < m_shown) {
        beginRemoveRows(QModelIndex(), row, row);
        m_entries.removeAt(row);
        --m_shown;
        endRemoveRows();
        // The first hidden entry comes into view.
        fitWindow();
    } else {
        m_entries.removeAt(row);
    }
    emit countChanged();
    emit modelChanged();
    save();
}

bool RecentEmojiModel::resetEntries()
{
    if (m_entries.isEmpty())
        return false;
    beginResetModel();
    m_entries.clear();
    m_shown = 0;
    endResetModel();
    emit countChanged();
    return true;
}

void RecentEmojiModel::clearRecent()
{
    if (resetEntries())
        emit modelChanged();
    save();
}

QString RecentEmojiModel::get(int index) const
{
    return index >= 0 && index < m_entries.size() ? m_entries.at(index).emoji : QString();
}

void RecentEmojiModel::append(const QVariantList& infos)
{
    const qsizetype before = m_entries.size();
    for (const QVariant& info : infos) {
        const QVariantMap map = info.toMap();
        if (!map.contains(kEmoji))
            continue;
        const EmojiData entry{map.value(kEmoji).toString(), map.value(kPackId, -1).toInt(),
                              map.value(kEmojiId, -1).toInt()};
        if (!m_entries.contains(entry))
            m_entries.append(entry);
    }
    trim();
    if (m_entries.size() == before)
        return;
    fitWindow();
    emit countChanged();
    emit modelChanged();
}

bool RecentEmojiModel::loadLocalData(bool alreadyLoaded)
{
    if (alreadyLoaded)
        return true;
    DataInfoModel* store = m_account->dataInfoModel();
    const QVariantList stored = m_type == Emoji
                                    ? readStoredList(store->emojiRecent(), "recent emoji")
                                    : readStoredList(store->reactionEmojiRecent(), "recent reactions");
    QMetaObject::invokeMethod(
        this,
        [this, stored] {
            if (!isClearing())
                append(stored);
        },
        Qt::QueuedConnection);
    return true;
}

void RecentEmojiModel::initData()
{
    setClearing(false);
}

bool RecentEmojiModel::prepareToClearData(bool force)
{
    Q_UNUSED(force)
    setClearing(true);
    return true;
}

bool RecentEmojiModel::clearData(bool force)
{
    Q_UNUSED(force)
    resetEntries();
    return true;
}
