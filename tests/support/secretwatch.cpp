#include "secretwatch.h"

#include "host/cryptoaes.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QMutex>
#include <QRegularExpression>
#include <QSet>

#include <cstdio>
#include <cstdlib>

namespace {

// Shorter plain texts ("1", "{}") are everywhere; longer ones are files, never log lines.
constexpr qsizetype kMinText = 6;
constexpr qsizetype kMaxText = 4096;
constexpr qsizetype kKeySize = 32;

QMutex mutex;
QSet<QByteArray> keyTokens; // keys as Base64 and as hexadecimal
QSet<QString> texts;
QStringList leaks;
QtMessageHandler previous = nullptr;
QLoggingCategory::CategoryFilter previousFilter = nullptr;

bool isText(const QByteArray& bytes)
{
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 && c != '\n' && c != '\t')
            return false;
    }
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

void observe(const QByteArray& secret)
{
    if (secret.size() < kMinText || secret.size() > kMaxText)
        return;
    QMutexLocker locked(&mutex);
    if (isText(secret)) {
        texts.insert(QString::fromUtf8(secret));
    } else if (secret.size() == kKeySize) {
        keyTokens.insert(secret.toBase64());
        keyTokens.insert(secret.toBase64(QByteArray::Base64UrlEncoding));
        keyTokens.insert(secret.toHex());
    }
}

void handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    secretwatch::scan(message);
    // The debug lines are on for the watch; SETTINGMODEL_TEST_DEBUG=1 shows them as well.
    static const bool showDebug = qEnvironmentVariableIntValue("SETTINGMODEL_TEST_DEBUG") == 1;
    if ((type != QtDebugMsg || showDebug) && previous)
        previous(type, context, message);
}

// Whatever rules a test sets, the debug lines of this system's categories are on.
void filter(QLoggingCategory* category)
{
    if (previousFilter)
        previousFilter(category);
    if (qstrncmp(category->categoryName(), "im.", 3) == 0)
        category->setEnabled(QtDebugMsg, true);
}

void report()
{
    QMutexLocker locked(&mutex);
    if (leaks.isEmpty())
        return;
    for (const QString& leak : std::as_const(leaks))
        std::fprintf(stderr, "SECRET IN LOG: %s\n", qPrintable(leak));
    std::fflush(stderr);
    std::_Exit(3);
}

void install()
{
    previousFilter = QLoggingCategory::installFilter(filter);
    CryptoAES::setSecretObserver(observe);
    secretwatch::attach();
    qAddPostRoutine(report);
}

} // namespace

void secretwatch::scan(const QString& message)
{
    static const QRegularExpression tokens(QStringLiteral("[0-9a-fA-F]{64}|[A-Za-z0-9+/_-]{43}=?"));
    QMutexLocker locked(&mutex);
    auto it = tokens.globalMatch(message);
    while (it.hasNext()) {
        const QByteArray token = it.next().captured().toLatin1();
        if (keyTokens.contains(token) || keyTokens.contains(token.toLower())) {
            // The line itself would repeat the secret; its start says where it came from.
            leaks.append(QStringLiteral("a key in \"%1...\"").arg(message.left(40)));
            return;
        }
    }
    for (const QString& text : std::as_const(texts)) {
        if (message.contains(text)) {
            leaks.append(QStringLiteral("a plain text of %1 characters in a line of %2")
                             .arg(text.size())
                             .arg(message.size()));
            return;
        }
    }
}

void secretwatch::attach()
{
    const QtMessageHandler current = qInstallMessageHandler(handler);
    if (current != handler)
        previous = current;
}

QStringList secretwatch::takeLeaks()
{
    QMutexLocker locked(&mutex);
    return std::exchange(leaks, {});
}

Q_COREAPP_STARTUP_FUNCTION(install)
