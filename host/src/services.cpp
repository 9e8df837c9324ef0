#include "host/services.h"

namespace network {
NetworkSubject* NetworkSubject::instance()
{
    static NetworkSubject subject;
    return &subject;
}
} // namespace network
