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
class HOST_EXPORT NetworkSubject {
public:
    static NetworkSubject* instance();
    bool networkReachable() const { return m_reachable; }
    void setNetworkReachable(bool reachable) { m_reachable = reachable; }

private:
    bool m_reachable = true;
};
} // namespace network
