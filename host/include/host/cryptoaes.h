#pragma once

#include "host/hostglobal.h"

#include <QByteArray>

class HOST_EXPORT CryptoAES {
public:
    // Cryptographically random bytes; empty when the system has no entropy to give.
    static QByteArray createKey(int length);

    // AES-256-GCM. The cipher text carries its 12-byte nonce in front and its 16-byte tag
    // behind; decrypt fails (ok false, empty result) on any alteration or a wrong key.
    static QByteArray encrypt(const QByteArray& plain, const QByteArray& key32);
    static QByteArray decrypt(const QByteArray& cipher, const QByteArray& key32, bool* ok);

    // Bytes that must never reach a log: every key and plain text that passes through this
    // class, and what callers mark (passwords). An observer (an audit of the logs) hears of
    // each; without one, marking costs nothing.
    using SecretObserver = void (*)(const QByteArray& secret);
    static void setSecretObserver(SecretObserver observer);
    static void markSecret(const QByteArray& secret);
};
