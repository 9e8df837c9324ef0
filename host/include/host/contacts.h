#pragma once

#include "host/hostglobal.h"
#include "im/common.pb.h"

#include <QHash>
#include <QObject>
#include <QSharedPointer>
#include <QVariantMap>

Q_DECLARE_METATYPE(im::AlternativePhotos)

// The account's own information on the server, by type; the server's answer comes back to whoever
// the host routes it to. Type 9 holds the alternative profile photos (an im::AlternativePhotos).
class HOST_EXPORT UserServiceCmd {
public:
    virtual ~UserServiceCmd();
    virtual void updateAccountInfo(int type, const QVariant& info, bool flag) = 0;
};

// One user as the contact directory knows him.
class HOST_EXPORT ContactItem : public QObject {
    Q_OBJECT
    Q_PROPERTY(qint64 userId READ userId CONSTANT)
    Q_PROPERTY(QString name READ name NOTIFY nameChanged)
    Q_PROPERTY(bool deleted READ deleted NOTIFY deletedChanged)
    Q_PROPERTY(qint64 privacyPermissions READ privacyPermissions NOTIFY privacyPermissionsUpdated)
    Q_PROPERTY(QString remark READ remark NOTIFY remarkChanged)
public:
    ContactItem(qint64 userId, const QString& name, QObject* parent = nullptr);

    qint64 userId() const { return m_userId; }
    QString name() const { return m_name; }
    void setName(const QString& name);
    bool deleted() const { return m_deleted; }
    void setDeleted(bool deleted);
    qint64 privacyPermissions() const { return m_privacyPermissions; }
    QString remark() const { return m_remark; }
    void setRemark(const QString& remark);

public slots:
    // The server evaluated what this user may see of ours.
    void privacyPermissionsChanged(qint64 bits);

signals:
    void nameChanged();
    void deletedChanged();
    void privacyPermissionsUpdated();
    void remarkChanged();

private:
    qint64 m_userId;
    QString m_name;
    bool m_deleted = false;
    qint64 m_privacyPermissions = 0;
    QString m_remark;
};

// One group as the group directory knows it.
class HOST_EXPORT GroupModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(qint64 groupId READ groupId CONSTANT)
    Q_PROPERTY(QString name READ name NOTIFY nameChanged)
    Q_PROPERTY(bool destroyed READ isDestroyed NOTIFY destroyedChanged)
    Q_PROPERTY(QString remark READ remark NOTIFY remarkChanged)
public:
    GroupModel(qint64 groupId, const QString& name, QObject* parent = nullptr);

    qint64 groupId() const { return m_groupId; }
    QString name() const { return m_name; }
    void setName(const QString& name);
    bool isDestroyed() const { return m_destroyed; }
    void setDestroyed(bool destroyed);
    QString remark() const { return m_remark; }
    void setRemark(const QString& remark);
    // Whether a search text matches the group's name (case-insensitive).
    Q_INVOKABLE bool isMatch(const QString& text) const;

signals:
    void nameChanged();
    void destroyedChanged();
    void remarkChanged();

private:
    qint64 m_groupId;
    QString m_name;
    bool m_destroyed = false;
    QString m_remark;
};

// The contact directory as the module uses it.
class HOST_EXPORT UserManager : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~UserManager() override;

    // The contact for an id. With create, an unknown id gets a placeholder named name (or its
    // number) that fills in when the directory learns more; requestInfo asks the host to fetch
    // the profile. Ids below 1 name nobody and give null.
    virtual QSharedPointer<ContactItem> getUserPointer(qint64 userId, bool create, const QString& name,
                                                       bool requestInfo) = 0;
    virtual bool deletedUser(qint64 userId) const = 0;

    // A remark synchronised from the server (this device's or another's).
    virtual void updateUserRemark(qint64 userId, const QString& remark, bool fromServer) = 0;
    // The server's answer to this device's remark write; the context carries "targetId" and
    // "remark". The remark shows once the write succeeded.
    virtual void updateUserRemarkResp(const QVariantMap& context, int code) = 0;
    virtual UserServiceCmd* userServiceCmd() const = 0;
};

// The group directory as the module uses it.
class HOST_EXPORT GroupModelMgr : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~GroupModelMgr() override;

    // The group for an id, created as a placeholder when unknown and create is set.
    // memberLimit is for hosts that page members (-1: none). Ids below 1 give null.
    virtual QSharedPointer<GroupModel> getSharedGroup(qint64 groupId, bool create, int memberLimit) = 0;

    virtual void updateGroupRemark(qint64 groupId, const QString& remark) = 0;
    virtual void updateGroupRemarkResp(const QVariantMap& context, int code) = 0;
};
