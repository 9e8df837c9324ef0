#pragma once

#include "host/hostglobal.h"

#include <QByteArray>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QVariantMap>

// Host services that later models call. Each account's reference host provides them.

class HOST_EXPORT ReminderHandler {
public:
    virtual ~ReminderHandler();
    virtual void listAndNotif(const QString& key, const QByteArray& value) = 0;
    // result: -1 failed, 1 another device's newer value wins (key and value given), 0 done.
    virtual void syncFinished(const QString& key, const QByteArray& value, int result) = 0;
};

namespace network {
// Whether the network can be reached: what the system reports (Qt's network information), unless
// a switch (tests, the demo) decided it.
class HOST_EXPORT NetworkSubject : public QObject {
    Q_OBJECT
    Q_PROPERTY(
        bool networkReachable READ networkReachable WRITE setNetworkReachable NOTIFY networkReachableChanged)
public:
    static NetworkSubject* instance();
    bool networkReachable() const;
    void setNetworkReachable(bool reachable);
    // Back to what the system reports.
    void followSystem();

signals:
    void networkReachableChanged(bool reachable);

private:
    NetworkSubject();
    void setState(bool system, int forced);

    bool m_system = true;
    int m_forced = -1; // -1: follow the system; 0 or 1: decided
};
} // namespace network
