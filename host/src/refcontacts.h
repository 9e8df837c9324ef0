#pragma once

#include "host/contacts.h"

#include <QHash>

class AccountBase;

// Sends the account-information commands through the account and tells of their answers; the
// composition routes them (and the pushes of other devices' changes) to the module.
class HOST_EXPORT RefUserServiceCmd : public QObject, public UserServiceCmd {
    Q_OBJECT
public:
    explicit RefUserServiceCmd(AccountBase* account, QObject* parent = nullptr);
    void updateAccountInfo(int type, const QVariant& info, bool flag) override;
    // Asks the server for what it holds of a type.
    void fetchAccountInfo(int type);

signals:
    // The server's state of a type (serialised message) in answer to this device's update; the
    // answers come in the order of the updates.
    void accountInfoUpdated(int type, const QByteArray& info);
    void accountInfoUpdateFailed(int type, int code);
    // The server's state of a type in answer to a fetch; a failed fetch is only logged.
    void accountInfoFetched(int type, const QByteArray& info);

private:
    void send(int command, const QByteArray& body, int type, bool update);
    AccountBase* m_account;
};

// The reference contact directory: the users this device knows, fed by tests and the demo.
class HOST_EXPORT RefUserManager : public UserManager {
    Q_OBJECT
public:
    explicit RefUserManager(AccountBase* account);

    QSharedPointer<ContactItem> getUserPointer(qint64 userId, bool create, const QString& name,
                                               bool requestInfo) override;
    bool deletedUser(qint64 userId) const override;
    void updateUserRemark(qint64 userId, const QString& remark, bool fromServer) override;
    void updateUserRemarkResp(const QVariantMap& context, int code) override;
    UserServiceCmd* userServiceCmd() const override { return m_userServiceCmd; }
    RefUserServiceCmd* refUserServiceCmd() const { return m_userServiceCmd; }

    QSharedPointer<ContactItem> addUser(qint64 userId, const QString& name);
    void setUserDeleted(qint64 userId, bool deleted);

signals:
    void remarkSyncFailed(qint64 userId, int code);

private:
    QHash<qint64, QSharedPointer<ContactItem>> m_users;
    RefUserServiceCmd* m_userServiceCmd;
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
