#include "host/cryptoaes.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <atomic>
#include <memory>

namespace {
constexpr int kNonceSize = 12;
constexpr int kTagSize = 16;
constexpr int kKeySize = 32;

using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

std::atomic<CryptoAES::SecretObserver> secretObserver{nullptr};

unsigned char* bytes(QByteArray& a)
{
    return reinterpret_cast<unsigned char*>(a.data());
}
const unsigned char* bytes(const QByteArray& a)
{
    return reinterpret_cast<const unsigned char*>(a.constData());
}
} // namespace

QByteArray CryptoAES::createKey(int length)
{
    if (length <= 0)
        return {};
    QByteArray key(length, Qt::Uninitialized);
    if (RAND_bytes(bytes(key), length) != 1)
        return {};
    return key;
}

void CryptoAES::setSecretObserver(SecretObserver observer)
{
    secretObserver.store(observer);
}

void CryptoAES::markSecret(const QByteArray& secret)
{
    if (const SecretObserver observer = secretObserver.load())
        observer(secret);
}

QByteArray CryptoAES::encrypt(const QByteArray& plain, const QByteArray& key32)
{
    if (key32.size() != kKeySize)
        return {};
    markSecret(key32);
    markSecret(plain);
    const QByteArray nonce = createKey(kNonceSize);
    CipherCtx ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    if (nonce.isEmpty() || !ctx ||
        EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, bytes(key32), bytes(nonce)) != 1)
        return {};
    QByteArray out = nonce;
    out.resize(kNonceSize + plain.size() + kTagSize);
    int written = 0;
    if (!plain.isEmpty() &&
        EVP_EncryptUpdate(ctx.get(), bytes(out) + kNonceSize, &written, bytes(plain), int(plain.size())) != 1)
        return {};
    int tail = 0;
    if (EVP_EncryptFinal_ex(ctx.get(), bytes(out) + kNonceSize + written, &tail) != 1)
        return {};
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagSize,
                            bytes(out) + kNonceSize + written + tail) != 1)
        return {};
    return out;
}

QByteArray CryptoAES::decrypt(const QByteArray& cipher, const QByteArray& key32, bool* ok)
{
    if (ok)
        *ok = false;
    if (key32.size() != kKeySize || cipher.size() < kNonceSize + kTagSize)
        return {};
    const int bodySize = int(cipher.size()) - kNonceSize - kTagSize;
    CipherCtx ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, bytes(key32), bytes(cipher)) != 1)
        return {};
    QByteArray plain(bodySize, Qt::Uninitialized);
    int written = 0;
    if (bodySize > 0 &&
        EVP_DecryptUpdate(ctx.get(), bytes(plain), &written, bytes(cipher) + kNonceSize, bodySize) != 1)
        return {};
    QByteArray tag = cipher.right(kTagSize);
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagSize, bytes(tag)) != 1)
        return {};
    int tail = 0;
    if (EVP_DecryptFinal_ex(ctx.get(), bytes(plain) + written, &tail) != 1)
        return {}; // the tag does not match: altered data or the wrong key
    plain.resize(written + tail);
    markSecret(key32);
    markSecret(plain);
    if (ok)
        *ok = true;
    return plain;
}
