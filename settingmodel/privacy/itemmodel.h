#pragma once

#include "settingmodel_global.h"

#include <QAbstractListModel>
#include <QList>
#include <QSharedPointer>
#include <QtQml/qqmlregistration.h>

// One user or group list of a privacy rule. Each row is a host contact or group object.
class SETTINGMODEL_EXPORT ItemModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("ItemModel is made by the module")
    Q_PROPERTY(int count READ count NOTIFY countChanged)
public:
    enum Role { ItemRole = Qt::UserRole + 1 };

    explicit ItemModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    int count() const { return int(m_items.size()); }
    // Replaces every row in one model reset.
    void setItems(const QList<QSharedPointer<QObject>>& items);

    // User ids of the rows that are live contacts.
    Q_INVOKABLE QVariantList userIds() const;
    // Group ids of the rows that are live groups.
    Q_INVOKABLE QVariantList groupIds() const;
    // The id at a row (a group id when group is set), -1 outside the rows.
    Q_INVOKABLE qint64 targetIdByPos(int pos, bool group) const;

signals:
    void countChanged();

private:
    QList<QSharedPointer<QObject>> m_items;
};
