#pragma once

#include "serverstore.h"
#include "simserver.h"

#include <QHash>
#include <QObject>
#include <QSslConfiguration>
#include <QUrl>

#include <map>
#include <memory>
#include <optional>

class QWebSocket;
class QWebSocketServer;
namespace im::wire {
class Request;
class SignIn;
} // namespace im::wire

// The simulated server's logic behind a WebSocket endpoint: one binary frame (im::wire::Frame)
// per sign-in, request, answer or push. Users sign their devices in with name and password
// and get a session token that every request must carry; each user's data is his own
// SimServer, so one user's devices never reach another's.
class NetServer : public QObject {
    Q_OBJECT
public:
    explicit NetServer(QObject* parent = nullptr);
    ~NetServer() override;

    // Keeps everything in the folder from now on and takes back what an earlier run kept there.
    // Before the first user is added.
    bool open(const QString& directory, QString* error);

    // A user who may sign in; ids are given in order from 1. False for a name already taken.
    bool addUser(const QString& name, const QString& password);
    SimServer* user(qint64 userId) const;
    // wss:// with the configuration, ws:// without.
    bool listen(const QHostAddress& address, quint16 port,
                const std::optional<QSslConfiguration>& ssl = std::nullopt);
    QUrl url() const;
    QString errorString() const;

private:
    using Session = ServerStore::Session;
    struct Connection {
        QString token;
        Session session;
        std::unique_ptr<Transport> transport;
    };
    struct User {
        QString password;
        std::unique_ptr<SimServer> server;
        // The step of the preferences' sequence the store has every preference up to (0 at
        // start: the first write keeps them all, which also moves a state of an older layout).
        qint64 keptPreferences = 0;
    };

    void accept();
    void receive(QWebSocket* socket, const QByteArray& bytes);
    void signIn(QWebSocket* socket, Connection& connection, const im::wire::SignIn& signIn);
    void request(QWebSocket* socket, Connection& connection, const im::wire::Request& request);
    void close(QWebSocket* socket);
    // Ends every token the device was given before.
    void revokeTokens(const Session& session);
    void endSession(const QString& token);
    // Writes the user's state, before anything it changed is answered or pushed.
    void persist(qint64 userId);

    QWebSocketServer* m_server = nullptr;
    std::map<qint64, User> m_users;
    QHash<QString, qint64> m_userIds;
    std::shared_ptr<SimFileStore> m_files = std::make_shared<SimFileStore>();
    std::unique_ptr<ServerStore> m_store;
    // By the hash of their token: the store never sees a token.
    QHash<QString, Session> m_sessions;
    std::map<QWebSocket*, Connection> m_connections;
    // A write of the request being handled did not reach the disk.
    bool m_unwritten = false;
};
