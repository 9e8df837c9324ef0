#pragma once

#include "host/hostglobal.h"

#include <QHash>
#include <QObject>
#include <QSharedPointer>

// One user as the contact directory knows him.
class HOST_EXPORT ContactItem : public QObject {
    Q_OBJECT
    Q_PROPERTY(qint64 userId READ userId CONSTANT)
    Q_PROPERTY(QString name READ name NOTIFY nameChanged)
    Q_PROPERTY(bool deleted READ deleted NOTIFY deletedChanged)
    Q_PROPERTY(qint64 privacyPermissions READ privacyPermissions NOTIFY privacyPermissionsUpdated)
public:
    ContactItem(qint64 userId, const QString& name, QObject* parent = nullptr);

    qint64 userId() const { return m_userId; }
    QString name() const { return m_name; }
    void setName(const QString& name);
    bool deleted() const { return m_deleted; }
    void setDeleted(bool deleted);
    qint64 privacyPermissions() const { return m_privacyPermissions; }

public slots:
    // The server evaluated what this user may see of ours.
    void privacyPermissionsChanged(qint64 bits);

signals:
    void nameChanged();
    void deletedChanged();
    void privacyPermissionsUpdated();

private:
    qint64 m_userId;
    QString m_name;
    bool m_deleted = false;
    qint64 m_privacyPermissions = 0;
};

// One group as the group directory knows it.
class HOST_EXPORT GroupModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(qint64 groupId READ groupId CONSTANT)
    Q_PROPERTY(QString name READ name NOTIFY nameChanged)
    Q_PROPERTY(bool destroyed READ isDestroyed NOTIFY destroyedChanged)
public:
    GroupModel(qint64 groupId, const QString& name, QObject* parent = nullptr);

    qint64 groupId() const { return m_groupId; }
    QString name() const { return m_name; }
    void setName(const QString& name);
    bool isDestroyed() const { return m_destroyed; }
    void setDestroyed(bool destroyed);
    // Whether a search text matches the group's name (case-insensitive).
    Q_INVOKABLE bool isMatch(const QString& text) const;

signals:
    void nameChanged();
    void destroyedChanged();

private:
    qint64 m_groupId;
    QString m_name;
    bool m_destroyed = false;
};

class HOST_EXPORT UserManager : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The contact for an id. With create, an unknown id gets a placeholder named name (or
    // its number) that fills in when the directory learns more; requestInfo is accepted for
    // hosts that fetch profiles. Ids below 1 name nobody and give null.
    QSharedPointer<ContactItem> getUserPointer(qint64 userId, bool create, const QString& name,
                                               bool requestInfo);
    bool deletedUser(qint64 userId) const;

    // Directory feed (tests, the simulated server).
    QSharedPointer<ContactItem> addUser(qint64 userId, const QString& name);
    void setUserDeleted(qint64 userId, bool deleted);

private:
    QHash<qint64, QSharedPointer<ContactItem>> m_users;
};

class HOST_EXPORT GroupModelMgr : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The group for an id, created as a placeholder when unknown and create is set.
    // memberLimit is accepted for hosts that page members (-1: none). Ids below 1 give null.
    QSharedPointer<GroupModel> getSharedGroup(qint64 groupId, bool create, int memberLimit);

    QSharedPointer<GroupModel> addGroup(qint64 groupId, const QString& name);
    void setGroupDestroyed(qint64 groupId, bool destroyed);

private:
    QHash<qint64, QSharedPointer<GroupModel>> m_groups;
};
