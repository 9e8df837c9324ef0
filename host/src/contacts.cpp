#include "host/contacts.h"

#include <QJSEngine>

ContactItem::ContactItem(qint64 userId, const QString& name, QObject* parent)
    : QObject(parent),
      m_userId(userId),
      m_name(name)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

void ContactItem::setName(const QString& name)
{
    if (m_name == name)
        return;
    m_name = name;
    emit nameChanged();
}

void ContactItem::setDeleted(bool deleted)
{
    if (m_deleted == deleted)
        return;
    m_deleted = deleted;
    emit deletedChanged();
}

void ContactItem::privacyPermissionsChanged(qint64 bits)
{
    if (m_privacyPermissions == bits)
        return;
    m_privacyPermissions = bits;
    emit privacyPermissionsUpdated();
}

GroupModel::GroupModel(qint64 groupId, const QString& name, QObject* parent)
    : QObject(parent),
      m_groupId(groupId),
      m_name(name)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

void GroupModel::setName(const QString& name)
{
    if (m_name == name)
        return;
    m_name = name;
    emit nameChanged();
}

void GroupModel::setDestroyed(bool destroyed)
{
    if (m_destroyed == destroyed)
        return;
    m_destroyed = destroyed;
    emit destroyedChanged();
}

bool GroupModel::isMatch(const QString& text) const
{
    return m_name.contains(text, Qt::CaseInsensitive);
}

void ContactItem::setRemark(const QString& remark)
{
    if (m_remark == remark)
        return;
    m_remark = remark;
    emit remarkChanged();
}

void GroupModel::setRemark(const QString& remark)
{
    if (m_remark == remark)
        return;
    m_remark = remark;
    emit remarkChanged();
}

UserManager::~UserManager() = default;
GroupModelMgr::~GroupModelMgr() = default;
