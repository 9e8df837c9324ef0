#include "host/services.h"

#include <QNetworkInformation>

namespace network {

NetworkSubject* NetworkSubject::instance()
{
    static NetworkSubject* subject = new NetworkSubject;
    return subject;
}

NetworkSubject::NetworkSubject()
{
    // Without a backend (a headless machine) the network counts as reachable.
    if (!QNetworkInformation::loadDefaultBackend() || !QNetworkInformation::instance())
        return;
    const auto reachable = [](QNetworkInformation::Reachability reachability) {
        return reachability != QNetworkInformation::Reachability::Disconnected;
    };
    m_system = reachable(QNetworkInformation::instance()->reachability());
    connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this,
            [this, reachable](QNetworkInformation::Reachability reachability) {
                setState(reachable(reachability), m_forced);
            });
}

bool NetworkSubject::networkReachable() const
{
    return m_forced < 0 ? m_system : m_forced == 1;
}

void NetworkSubject::setNetworkReachable(bool reachable)
{
    setState(m_system, reachable ? 1 : 0);
}

void NetworkSubject::followSystem()
{
    setState(m_system, -1);
}

void NetworkSubject::setState(bool system, int forced)
{
    const bool before = networkReachable();
    m_system = system;
    m_forced = forced;
    if (networkReachable() != before)
        emit networkReachableChanged(networkReachable());
}

} // namespace network
