#pragma once

#include "host/contacts.h"

#include <QHash>

// The reference contact directory: the users this device knows, fed by tests and the demo.
class HOST_EXPORT RefUserManager : public UserManager {
    Q_OBJECT
public:
    using UserManager::UserManager;

    QSharedPointer<ContactItem> getUserPointer(qint64 userId, bool create, const QString& name,
                                               bool requestInfo) override;
    bool deletedUser(qint64 userId) const override;
    void updateUserRemark(qint64 userId, const QString& remark, bool fromServer) override;
    void updateUserRemarkResp(const QVariantMap& context, int code) override;

    QSharedPointer<ContactItem> addUser(qint64 userId, const QString& name);
    void setUserDeleted(qint64 userId, bool deleted);

signals:
    void remarkSyncFailed(qint64 userId, int code);

private:
    QHash<qint64, QSharedPointer<ContactItem>> m_users;
};

// The reference group directory.
class HOST_EXPORT RefGroupModelMgr : public GroupModelMgr {
    Q_OBJECT
public:
    using GroupModelMgr::GroupModelMgr;

    QSharedPointer<GroupModel> getSharedGroup(qint64 groupId, bool create, int memberLimit) override;
    void updateGroupRemark(qint64 groupId, const QString& remark) override;
    void updateGroupRemarkResp(const QVariantMap& context, int code) override;

    QSharedPointer<GroupModel> addGroup(qint64 groupId, const QString& name);
    void setGroupDestroyed(qint64 groupId, bool destroyed);

signals:
    void remarkSyncFailed(qint64 groupId, int code);

private:
    QHash<qint64, QSharedPointer<GroupModel>> m_groups;
};
