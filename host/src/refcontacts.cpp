#include "refcontacts.h"

#include "host/accountbase.h"
#include "im/user.pb.h"
#include "transport.h"

#include <QPointer>

RefUserServiceCmd::RefUserServiceCmd(AccountBase* account, QObject* parent)
    : QObject(parent),
      m_account(account)
{
}

void RefUserServiceCmd::send(int command, const QByteArray& body, int type, bool update)
{
    QPointer<RefUserServiceCmd> self(this);
    m_account->sendRequest(
        command, body,
        [self, type, update](int code, const QByteArray& reply) {
            if (!self)
                return;
            im::user::AccountInfoResp resp;
            const bool ok =
                code == 0 && resp.ParseFromArray(reply.constData(), int(reply.size())) && resp.type() == type;
            const QByteArray info = ok ? QByteArray::fromStdString(resp.info()) : QByteArray();
            if (update && ok)
                emit self->accountInfoUpdated(type, info);
            else if (update)
                emit self->accountInfoUpdateFailed(type, code == 0 ? AccountBase::kNetworkError : code);
            else if (ok)
                emit self->accountInfoFetched(type, info);
            else
                qWarning("fetching account information of type %d failed with code %d", type, code);
        },
        false, {});
}

void RefUserServiceCmd::updateAccountInfo(int type, const QVariant& info, bool flag)
{
    Q_UNUSED(flag)
    im::user::UpdateAccountInfoReq req;
    req.set_type(type);
    if (info.canConvert<im::AlternativePhotos>())
        req.set_info(info.value<im::AlternativePhotos>().SerializeAsString());
    else
        req.set_info(info.toByteArray().toStdString());
    send(AccountInfoUpdate, QByteArray::fromStdString(req.SerializeAsString()), type, true);
}

void RefUserServiceCmd::fetchAccountInfo(int type)
{
    im::user::GetAccountInfoReq req;
    req.set_type(type);
    send(AccountInfoGet, QByteArray::fromStdString(req.SerializeAsString()), type, false);
}

RefUserManager::RefUserManager(AccountBase* account)
    : UserManager(account),
      m_userServiceCmd(new RefUserServiceCmd(account, this))
{
}

QSharedPointer<ContactItem> RefUserManager::getUserPointer(qint64 userId, bool create, const QString& name,
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

bool RefUserManager::deletedUser(qint64 userId) const
{
    const auto user = m_users.value(userId);
    return user && user->deleted();
}

QSharedPointer<ContactItem> RefUserManager::addUser(qint64 userId, const QString& name)
{
    auto& user = m_users[userId];
    if (user)
        user->setName(name);
    else
        user = QSharedPointer<ContactItem>::create(userId, name);
    return user;
}

void RefUserManager::setUserDeleted(qint64 userId, bool deleted)
{
    if (auto user = m_users.value(userId))
        user->setDeleted(deleted);
}

QSharedPointer<GroupModel> RefGroupModelMgr::getSharedGroup(qint64 groupId, bool create, int memberLimit)
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

QSharedPointer<GroupModel> RefGroupModelMgr::addGroup(qint64 groupId, const QString& name)
{
    auto& group = m_groups[groupId];
    if (group)
        group->setName(name);
    else
        group = QSharedPointer<GroupModel>::create(groupId, name);
    return group;
}

void RefGroupModelMgr::setGroupDestroyed(qint64 groupId, bool destroyed)
{
    if (auto group = m_groups.value(groupId))
        group->setDestroyed(destroyed);
}

void RefUserManager::updateUserRemark(qint64 userId, const QString& remark, bool fromServer)
{
    Q_UNUSED(fromServer)
    if (auto user = getUserPointer(userId, true, QString(), true))
        user->setRemark(remark);
}

void RefUserManager::updateUserRemarkResp(const QVariantMap& context, int code)
{
    const qint64 userId = context.value(QStringLiteral("targetId")).toLongLong();
    if (code != 0) {
        emit remarkSyncFailed(userId, code);
        return;
    }
    updateUserRemark(userId, context.value(QStringLiteral("remark")).toString(), false);
}

void RefGroupModelMgr::updateGroupRemark(qint64 groupId, const QString& remark)
{
    if (auto group = getSharedGroup(groupId, true, -1))
        group->setRemark(remark);
}

void RefGroupModelMgr::updateGroupRemarkResp(const QVariantMap& context, int code)
{
    const qint64 groupId = context.value(QStringLiteral("targetId")).toLongLong();
    if (code != 0) {
        emit remarkSyncFailed(groupId, code);
        return;
    }
    updateGroupRemark(groupId, context.value(QStringLiteral("remark")).toString());
}
