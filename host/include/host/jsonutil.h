#pragma once

#include "host/hostglobal.h"

#include <QByteArray>
#include <QVariant>

// Compact JSON text to and from Qt's variant forms. Text that is not JSON of the expected
// shape gives an empty map, list or variant.
HOST_EXPORT QVariantMap jsonToMap(const QByteArray& json);
HOST_EXPORT QByteArray mapToJson(const QVariantMap& map);
HOST_EXPORT QVariantList jsonToList(const QByteArray& json);
HOST_EXPORT QByteArray listToJson(const QVariantList& list);
HOST_EXPORT QVariant jsonToVariant(const QByteArray& json);
