#pragma once

#include "transport.h"

#include <QHash>
#include <QObject>
#include <QSslCertificate>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <optional>

class QWebSocket;

// A device's connection to the server process over a WebSocket (ws:// or wss://): one binary
// frame (im::wire::Frame) per sign-in, request, answer or push. It signs in with the user's
// name and password, keeps the session's token to resume it after a drop, and reconnects with
// an exponential backoff and jitter. Requests in flight when the connection drops, and requests
// sent while there is none, are answered with AccountBase::kNetworkError, which the module
// resends once the account is online again. Lives on the thread that made it; send() may be
// called from any thread.
class HOST_EXPORT WebSocketTransport : public QObject, public Transport {
    Q_OBJECT
public:
    struct Options {
        QUrl url;
        QString user;
        QString password;
        int deviceId = 0;
        QString deviceName;
        QString platform = QStringLiteral("desktop");
        // Certificates trusted for wss:// beside the system's (a self-signed server's own).
        QList<QSslCertificate> trusted;
        int firstRetryMs = 250;
        int longestRetryMs = 30000;
    };

    explicit WebSocketTransport(Options options, QObject* parent = nullptr);
    ~WebSocketTransport() override;

    qint64 send(int command, const QByteArray& body, AccountBase::ResponseCallback callback, bool flag,
                const QVariantMap& context) override;

    // Signed in and able to carry requests.
    bool isConnected() const override { return m_signedIn; }
    // The wait before the next attempt to reconnect, 0 while connected or connecting.
    int retryDelayMs() const { return m_retryTimer->isActive() ? m_retryTimer->interval() : 0; }

signals:
    void connectedChanged(bool connected);
    // The server refused the user's name and password: the transport stops trying.
    void signInRefused();

private:
    struct Pending {
        AccountBase::ResponseCallback callback;
    };

    void open();
    void signIn();
    void sendRequest(qint64 id, int command, const QByteArray& body, AccountBase::ResponseCallback callback);
    void receiveFrame(const QByteArray& bytes);
    void lost();
    void scheduleRetry();
    void failPending();
    void setState(bool signedIn, Problem problem);

    Options m_options;
    QWebSocket* m_socket;
    QTimer* m_retryTimer;
    QString m_token;
    std::atomic<bool> m_signedIn{false};
    Problem m_problem = Problem::None;
    // Why the transport stopped trying, once the server ended the tries.
    std::optional<Problem> m_stopped;
    // The last handshake met a certificate this device does not trust.
    bool m_untrusted = false;
    int m_attempts = 0;
    std::atomic<qint64> m_nextId{1};
    QHash<qint64, Pending> m_pending;
};
