#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <functional>

// What the owner of one preference type does with the records of its type. The store calls
// these on its own thread; an owner leaves unset what it does not take part in.
struct SharedPreferenceOwner {
    // Whether a key belongs to the type; a record under any other key is never applied.
    std::function<bool(const QString& key)> acceptsKey;
    // Takes a record from the local load (fromLocal) or from the server. False when the value
    // cannot be taken now: the record is then kept flagged and offered again later.
    std::function<bool(const QString& key, const QByteArray& value, qint64 version, bool fromLocal)> apply;
    // Every stored record of the type at the local load, applied or not.
    std::function<void(const QString& key, const QByteArray& value, qint64 version)> loaded;
    // The server answered that this device's write is its current value.
    std::function<void(const QString& key, const QByteArray& value, const QVariantMap& context)> confirmed;
    // The server answered a write of this device with another device's newer value.
    std::function<void(const QString& key, const QByteArray& value, qint64 version,
                       const QVariantMap& context)>
        superseded;
    // The server refused a write of this device whose context names this type.
    std::function<void(const QVariantMap& context, int code)> failed;
    // The server refused this device's write of the key: the value it holds is back (empty when
    // it holds none), whatever its version. Unset: apply takes a value that exists.
    std::function<void(const QString& key, const QByteArray& value, qint64 version)> rolledBack;
};
