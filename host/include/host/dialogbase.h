#pragma once

#include "host/hostglobal.h"

#include <QObject>
#include <QSharedPointer>

class GroupModel;

// A chat known to the account.
class HOST_EXPORT DialogBase : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString dialogId READ dialogId CONSTANT)
    Q_PROPERTY(bool isGroup READ isGroup CONSTANT)
public:
    DialogBase(const QString& dialogId, bool isGroup, QSharedPointer<GroupModel> group = {},
               QObject* parent = nullptr);
    ~DialogBase() override;

    QString dialogId() const { return m_dialogId; }
    bool isGroup() const { return m_isGroup; }
    QSharedPointer<GroupModel> group() const { return m_group; }

signals:
    void startDestroy();

private:
    QString m_dialogId;
    bool m_isGroup;
    QSharedPointer<GroupModel> m_group;
};
