#include "secretwatch.h"

#include "host/cryptoaes.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QMutex>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTest>

#include <cstdio>
#include <cstdlib>

namespace {

// Shorter plain texts ("1", "{}") are everywhere; longer ones are files, never log lines.
constexpr qsizetype kMinText = 6;
constexpr qsizetype kMaxText = 4096;
constexpr qsizetype kKeySize = 32;

// Lines still come while static objects are destroyed at exit (with every category on, Qt's own
// debug lines do): the watch's state is made once and never destroyed.
struct State {
    QMutex mutex;
    QSet<QByteArray> keyTokens; // keys as Base64 and as hexadecimal
    QSet<QString> texts;
    QStringList leaks;
    const QRegularExpression tokens{QStringLiteral("[0-9a-fA-F]{64}|[A-Za-z0-9+/_-]{43}=?")};
};

State& state()
{
    static State* const made = new State;
    return *made;
}

QtMessageHandler previous = nullptr;
QLoggingCategory::CategoryFilter previousFilter = nullptr;
// A line logged while a line is scanned (a warning of Qt's own) is not scanned again.
thread_local bool scanning = false;

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
    State& s = state();
    QMutexLocker locked(&s.mutex);
    if (isText(secret)) {
        s.texts.insert(QString::fromUtf8(secret));
    } else if (secret.size() == kKeySize) {
        s.keyTokens.insert(secret.toBase64());
        s.keyTokens.insert(secret.toBase64(QByteArray::Base64UrlEncoding));
        s.keyTokens.insert(secret.toHex());
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
    State& s = state();
    QMutexLocker locked(&s.mutex);
    if (s.leaks.isEmpty())
        return;
    for (const QString& leak : std::as_const(s.leaks))
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
    if (scanning)
        return;
    scanning = true;
    State& s = state();
    QMutexLocker locked(&s.mutex);
    const auto found = [&s, &message]() -> QString {
        auto it = s.tokens.globalMatch(message);
        while (it.hasNext()) {
            const QByteArray token = it.next().captured().toLatin1();
            // The line itself would repeat the secret; its start says where it came from.
            if (s.keyTokens.contains(token) || s.keyTokens.contains(token.toLower()))
                return QStringLiteral("a key in \"%1...\"").arg(message.left(40));
        }
        for (const QString& text : std::as_const(s.texts)) {
            if (message.contains(text))
                return QStringLiteral("a plain text of %1 characters in a line of %2")
                    .arg(text.size())
                    .arg(message.size());
        }
        return {};
    }();
    if (!found.isEmpty())
        s.leaks.append(found);
    scanning = false;
}

void secretwatch::attach()
{
    const QtMessageHandler current = qInstallMessageHandler(handler);
    if (current != handler)
        previous = current;
}

QStringList secretwatch::takeLeaks()
{
    State& s = state();
    QMutexLocker locked(&s.mutex);
    return std::exchange(s.leaks, {});
}

int secretwatch::exec(QObject* test, int argc, char** argv)
{
    QStandardPaths::setTestModeEnabled(true);
    // The test framework puts its own log handler in place as it starts: the watch goes in front
    // of it.
    QTest::qInit(test, argc, argv);
    attach();
    const int result = QTest::qRun();
    QTest::qCleanup();
    return result;
}

Q_COREAPP_STARTUP_FUNCTION(install)
