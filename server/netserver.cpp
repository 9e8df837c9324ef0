#include "netserver.h"

#include "simstate.pb.h"
#include "wireframe.h"

#include <QCryptographicHash>
#include <QLoggingCategory>
#include <QPointer>
#include <QRandomGenerator>
#include <QWebSocket>
#include <QWebSocketServer>

Q_LOGGING_CATEGORY(lcNetServer, "im.server")

namespace {

QString hashOf(const QString& token)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(token.toLatin1(), QCryptographicHash::Sha256).toHex());
}

QString newToken()
{
    quint32 words[8];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex());
}

void sendSignInResult(QWebSocket* socket, int code, const QString& token = QString(), qint64 userId = 0,
                      const QByteArray& body = QByteArray())
{
    im::wire::Frame frame;
    im::wire::SignInResult* result = frame.mutable_sign_in_result();
    result->set_code(code);
    result->set_token(token.toStdString());
    result->set_user_id(userId);
    result->set_body(body.constData(), size_t(body.size()));
    socket->sendBinaryMessage(frameBytes(frame));
}

} // namespace

NetServer::NetServer(QObject* parent) : QObject(parent) {}

NetServer::~NetServer()
{
    // The connections' transports go before the users' servers they are connected to.
    m_connections.clear();
}

bool NetServer::open(const QString& directory, QString* error)
{
    auto store = std::make_unique<ServerStore>();
    if (!store->open(directory, error) || !store->loadFiles(*m_files))
        return false;
    m_sessions = store->sessions();
    ServerStore* kept = store.get();
    m_files->setJournal([this, kept](const QString& fileId, const SimFileStore::File* file) {
        if (!kept->saveFile(fileId, file))
            m_unwritten = true;
    });
    m_files->setUploadJournal([this, kept](const SimFileStore::UploadChunk& chunk) {
        if (!kept->saveUploadChunk(chunk))
            m_unwritten = true;
    });
    m_store = std::move(store);
    return true;
}

bool NetServer::addUser(const QString& name, const QString& password)
{
    if (m_userIds.contains(name))
        return false;
    qint64 id = m_store ? m_store->userId(name) : 0;
    if (id == 0) {
        id = std::max<qint64>(m_users.empty() ? 0 : m_users.rbegin()->first,
                              m_store ? m_store->largestUserId() : 0) +
             1;
        if (m_store && !m_store->saveUserId(name, id))
            return false;
    }
    User& user = m_users[id];
    user.password = password;
    user.server = std::make_unique<SimServer>();
    user.server->setUser(id, m_files);
    // The same password confirms the user's own risky commands (signing a device out...).
    user.server->setPassword(password);
    bool readable = true;
    if (const std::optional<im::server::UserState> kept =
            m_store ? m_store->userState(id, &readable) : std::nullopt) {
        if (!readable) {
            qCWarning(lcNetServer) << "user" << id << "has a damaged stored state: not served";
            m_users.erase(id);
            return false;
        }
        user.server->restoreState(*kept);
    }
    m_userIds.insert(name, id);
    return true;
}

void NetServer::persist(qint64 userId)
{
    const auto it = m_users.find(userId);
    if (!m_store || it == m_users.end())
        return;
    User& user = it->second;
    im::server::UserState state;
    user.server->saveState(&state, user.keptPreferences);
    if (!m_store->saveUserState(userId, state)) {
        qCWarning(lcNetServer) << "user" << userId << "state not written";
        m_unwritten = true;
        return;
    }
    user.keptPreferences = state.preference_sequence();
}

SimServer* NetServer::user(qint64 userId) const
{
    const auto it = m_users.find(userId);
    return it == m_users.end() ? nullptr : it->second.server.get();
}

bool NetServer::listen(const QHostAddress& address, quint16 port, const std::optional<QSslConfiguration>& ssl)
{
    delete m_server;
    m_server =
        new QWebSocketServer(QStringLiteral("settingmodel-server"),
                             ssl ? QWebSocketServer::SecureMode : QWebSocketServer::NonSecureMode, this);
    if (ssl)
        m_server->setSslConfiguration(*ssl);
    connect(m_server, &QWebSocketServer::newConnection, this, &NetServer::accept);
    return m_server->listen(address, port);
}

QUrl NetServer::url() const
{
    return m_server ? m_server->serverUrl() : QUrl();
}

QString NetServer::errorString() const
{
    return m_server ? m_server->errorString() : QString();
}

void NetServer::accept()
{
    while (QWebSocket* socket = m_server->nextPendingConnection()) {
        m_connections[socket];
        connect(socket, &QWebSocket::binaryMessageReceived, this,
                [this, socket](const QByteArray& bytes) { receive(socket, bytes); });
        connect(socket, &QWebSocket::disconnected, this, [this, socket] { close(socket); });
    }
}

void NetServer::close(QWebSocket* socket)
{
    m_connections.erase(socket);
    socket->deleteLater();
}

void NetServer::receive(QWebSocket* socket, const QByteArray& bytes)
{
    const auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    im::wire::Frame frame;
    if (!frame.ParseFromArray(bytes.constData(), int(bytes.size()))) {
        qCWarning(lcNetServer) << "closed a connection that sent" << bytes.size()
                               << "bytes that are no frame";
        socket->close(QWebSocketProtocol::CloseCodeBadOperation);
        return;
    }
    switch (frame.kind_case()) {
    case im::wire::Frame::kSignIn: signIn(socket, it->second, frame.sign_in()); return;
    case im::wire::Frame::kRequest: request(socket, it->second, frame.request()); return;
    default:
        qCWarning(lcNetServer) << "closed a connection that sent a frame of kind" << int(frame.kind_case());
        socket->close(QWebSocketProtocol::CloseCodeBadOperation);
    }
}

void NetServer::signIn(QWebSocket* socket, Connection& connection, const im::wire::SignIn& signIn)
{
    Session session;
    QString token = QString::fromStdString(signIn.token());
    if (!token.isEmpty()) {
        const auto known = m_sessions.constFind(hashOf(token));
        if (known == m_sessions.constEnd() || known->deviceId != signIn.device_id()) {
            qCDebug(lcNetServer) << "sign-in with an unknown session refused";
            sendSignInResult(socket, SimServer::kUnauthorized);
            return;
        }
        session = *known;
        SimServer* server = user(session.userId);
        if (server->isUnlinked(session.deviceId)) {
            endSession(token);
            sendSignInResult(socket, SimServer::kUnauthorized, {}, 0, server->sessionEnded(session.deviceId));
            return;
        }
    } else {
        const qint64 userId = m_userIds.value(QString::fromStdString(signIn.user()));
        const auto user = m_users.find(userId);
        if (user == m_users.end() || user->second.password != QString::fromStdString(signIn.password())) {
            qCDebug(lcNetServer) << "sign-in refused: name or password";
            sendSignInResult(socket, SimServer::kUnauthorized);
            return;
        }
        session = {userId, signIn.device_id()};
        token = newToken();
        revokeTokens(session);
        m_sessions.insert(hashOf(token), session);
        if (m_store)
            m_store->saveSession(hashOf(token), session);
    }
    // A device has one connection: an older one left half-open is closed.
    for (auto& [other, open] : m_connections) {
        if (other != socket && open.session.userId == session.userId &&
            open.session.deviceId == session.deviceId)
            other->close();
    }
    connection.token = token;
    connection.session = session;
    connection.transport = user(session.userId)
                               ->connectDevice(session.deviceId, QString::fromStdString(signIn.device_name()),
                                               QString::fromStdString(signIn.platform()));
    QPointer<QWebSocket> alive(socket);
    connection.transport->setPushHandler([alive](int type, const QByteArray& body) {
        if (!alive)
            return;
        im::wire::Frame frame;
        frame.mutable_push()->set_type(type);
        frame.mutable_push()->set_body(body.constData(), size_t(body.size()));
        alive->sendBinaryMessage(frameBytes(frame));
    });
    persist(session.userId);
    qCDebug(lcNetServer) << "user" << session.userId << "device" << session.deviceId << "signed in";
    sendSignInResult(socket, 0, token, session.userId);
}

void NetServer::request(QWebSocket* socket, Connection& connection, const im::wire::Request& request)
{
    const qint64 id = request.id();
    QPointer<QWebSocket> alive(socket);
    const auto answer = [alive](qint64 id, int code, const QByteArray& body, qint64 serverTime) {
        if (!alive)
            return;
        im::wire::Frame frame;
        im::wire::Answer* answer = frame.mutable_answer();
        answer->set_id(id);
        answer->set_code(code);
        answer->set_body(body.constData(), size_t(body.size()));
        answer->set_server_time(serverTime);
        alive->sendBinaryMessage(frameBytes(frame));
    };
    const QString token = QString::fromStdString(request.token());
    if (!connection.transport || token != connection.token || !m_sessions.contains(hashOf(token))) {
        qCDebug(lcNetServer) << "request" << request.command() << "without a valid session";
        answer(id, SimServer::kUnauthorized, {}, 0);
        return;
    }
    const Session session = connection.session;
    SimServer* server = user(session.userId);
    // A signed-out device's token stops working at once; its requests hear why.
    if (server->isUnlinked(session.deviceId))
        endSession(token);
    const int command = request.command();
    auto withheld = std::make_shared<bool>(false);
    m_unwritten = false;
    connection.transport->send(command, fieldBytes(request.body()),
                               [answer, id, command, session, withheld,
                                server = QPointer<SimServer>(server)](int code, const QByteArray& body) {
                                   if (*withheld)
                                       return;
                                   qCDebug(lcNetServer)
                                       << "user" << session.userId << "device" << session.deviceId
                                       << "command" << command << "answered" << code << "with" << body.size()
                                       << "bytes";
                                   answer(id, code, body, server ? server->now() : 0);
                               },
                               false, {});
    // Written before the answer and the pushes, which leave from the event loop.
    if (!onlyReads(command))
        persist(session.userId);
    if (m_unwritten) {
        // What is not kept is never acknowledged. Dropping the connection fails every request
        // of the device in flight; it sends them again (each applies once) and hears back once
        // the disk takes the writes again.
        qCWarning(lcNetServer) << "user" << session.userId << "device" << session.deviceId << "command"
                               << command << "not kept: connection closed without an answer";
        *withheld = true;
        socket->close(QWebSocketProtocol::CloseCodeBadOperation);
    }
}

void NetServer::endSession(const QString& token)
{
    m_sessions.remove(hashOf(token));
    if (m_store)
        m_store->removeSession(hashOf(token));
}

void NetServer::revokeTokens(const Session& session)
{
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (it->userId == session.userId && it->deviceId == session.deviceId) {
            if (m_store)
                m_store->removeSession(it.key());
            it = m_sessions.erase(it);
        } else
            ++it;
    }
}
