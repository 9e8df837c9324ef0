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

QSharedPointer<ContactItem> UserManager::getUserPointer(qint64 userId, bool create, const QString& name,
                                                        bool requestInfo)
{
    Q_UNUSED(requestInfo)
    if (userId < 1)
        return {};
    auto it = m_users.constFind(userId);
    if (it != m_users.cend())
        return it.value();
    if (!create)
        return {};
    return addUser(userId, name.isEmpty() ? QString::number(userId) : name);
}

bool UserManager::deletedUser(qint64 userId) const
{
    const auto user = m_users.value(userId);
    return user && user->deleted();
}

QSharedPointer<ContactItem> UserManager::addUser(qint64 userId, const QString& name)
{
    auto& user = m_users[userId];
    if (user)
        user->setName(name);
    else
        user = QSharedPointer<ContactItem>::create(userId, name);
    return user;
}

void UserManager::setUserDeleted(qint64 userId, bool deleted)
{
    if (auto user = m_users.value(userId))
        user->setDeleted(deleted);
}

QSharedPointer<GroupModel> GroupModelMgr::getSharedGroup(qint64 groupId, bool create, int memberLimit)
{
    Q_UNUSED(memberLimit)
    if (groupId < 1)
        return {};
    auto it = m_groups.constFind(groupId);
    if (it != m_groups.cend())
        return it.value();
    if (!create)
        return {};
    return addGroup(groupId, QString::number(groupId));
}

QSharedPointer<GroupModel> GroupModelMgr::addGroup(qint64 groupId, const QString& name)
{
    auto& group = m_groups[groupId];
    if (group)
        group->setName(name);
    else
        group = QSharedPointer<GroupModel>::create(groupId, name);
    return group;
}

void GroupModelMgr::setGroupDestroyed(qint64 groupId, bool destroyed)
{
    if (auto group = m_groups.value(groupId))
        group->setDestroyed(destroyed);
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

void UserManager::updateUserRemark(qint64 userId, const QString& remark, bool fromServer)
{
    Q_UNUSED(fromServer)
    if (auto user = getUserPointer(userId, true, QString(), true))
        user->setRemark(remark);
}

void UserManager::updateUserRemarkResp(const QVariantMap& context, int code)
{
    const qint64 userId = context.value(QStringLiteral("targetId")).toLongLong();
    if (code != 0) {
        emit remarkSyncFailed(userId, code);
        return;
    }
    updateUserRemark(userId, context.value(QStringLiteral("remark")).toString(), false);
}

void GroupModelMgr::updateGroupRemark(qint64 groupId, const QString& remark)
{
    if (auto group = getSharedGroup(groupId, true, -1))
        group->setRemark(remark);
}

void GroupModelMgr::updateGroupRemarkResp(const QVariantMap& context, int code)
{
    const qint64 groupId = context.value(QStringLiteral("targetId")).toLongLong();
    if (code != 0) {
        emit remarkSyncFailed(groupId, code);
        return;
    }
    updateGroupRemark(groupId, context.value(QStringLiteral("remark")).toString());
}
