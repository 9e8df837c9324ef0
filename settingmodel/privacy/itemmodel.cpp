#include "privacy/itemmodel.h"

#include "host/contacts.h"

#include <QJSEngine>

ItemModel::ItemModel(QObject* parent) : QAbstractListModel(parent)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

int ItemModel::rowCount(const QModelIndex& parent) const
{
    // A list has no children: views and proxies ask with a valid parent and expect none.
    return parent.isValid() ? 0 : count();
}

QVariant ItemModel::data(const QModelIndex& index, int role) const
{
    if (role != ItemRole || !index.isValid() || index.row() < 0 || index.row() >= count())
        return {};
    return QVariant::fromValue(m_items.at(index.row()).data());
}

QHash<int, QByteArray> ItemModel::roleNames() const
{
    return {{ItemRole, "itemModel"}};
}

void ItemModel::setItems(const QList<QSharedPointer<QObject>>& items)
{
    beginResetModel();
    m_items = items;
    endResetModel();
    emit countChanged();
}

QVariantList ItemModel::userIds() const
{
    QVariantList ids;
    for (const auto& item : m_items) {
        const auto* contact = qobject_cast<const ContactItem*>(item.data());
        if (contact && !contact->deleted())
            ids.append(contact->userId());
    }
    return ids;
}

QVariantList ItemModel::groupIds() const
{
    QVariantList ids;
    for (const auto& item : m_items) {
        const auto* group = qobject_cast<const GroupModel*>(item.data());
        if (group && !group->isDestroyed())
            ids.append(group->groupId());
    }
    return ids;
}

qint64 ItemModel::targetIdByPos(int pos, bool group) const
{
    if (pos < 0 || pos >= count())
        return -1;
    QObject* item = m_items.at(pos).data();
    if (group) {
        const auto* g = qobject_cast<const GroupModel*>(item);
        return g ? g->groupId() : -1;
    }
    const auto* contact = qobject_cast<const ContactItem*>(item);
    return contact ? contact->userId() : -1;
}
