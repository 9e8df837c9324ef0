#include "websockettransport.h"

#include "wireframe.h"

#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QSslConfiguration>
#include <QThread>
#include <QWebSocket>

#include <algorithm>

Q_LOGGING_CATEGORY(lcWebSocket, "im.host.websocket")

WebSocketTransport::WebSocketTransport(Options options, QObject* parent)
    : QObject(parent),
      m_options(std::move(options)),
      m_socket(new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this)),
      m_retryTimer(new QTimer(this))
{
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, &WebSocketTransport::open);
    connect(m_socket, &QWebSocket::connected, this, &WebSocketTransport::signIn);
    connect(m_socket, &QWebSocket::disconnected, this, &WebSocketTransport::lost);
    connect(m_socket, &QWebSocket::binaryMessageReceived, this, &WebSocketTransport::receiveFrame);
    // Errors not ignored end the handshake; the drop that follows says why.
    connect(m_socket, &QWebSocket::sslErrors, this, [this](const QList<QSslError>& errors) {
        qCDebug(lcWebSocket) << "certificate not trusted:" << errors;
        m_untrusted = true;
    });
    if (!m_options.trusted.isEmpty()) {
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.addCaCertificates(m_options.trusted);
        m_socket->setSslConfiguration(ssl);
    }
    open();
}

WebSocketTransport::~WebSocketTransport()
{
    // Nobody is left to hear the answers: the account that asked is going too.
    m_pending.clear();
    m_socket->disconnect(this);
    m_socket->abort();
}

void WebSocketTransport::open()
{
    qCDebug(lcWebSocket) << "connecting to" << m_options.url.toString(QUrl::RemoveUserInfo);
    m_untrusted = false;
    m_socket->open(m_options.url);
}

void WebSocketTransport::signIn()
{
    im::wire::Frame frame;
    im::wire::SignIn* signIn = frame.mutable_sign_in();
    signIn->set_device_id(m_options.deviceId);
    signIn->set_device_name(m_options.deviceName.toStdString());
    signIn->set_platform(m_options.platform.toStdString());
    if (!m_token.isEmpty()) {
        signIn->set_token(m_token.toStdString());
    } else {
        signIn->set_user(m_options.user.toStdString());
        signIn->set_password(m_options.password.toStdString());
    }
    m_socket->sendBinaryMessage(frameBytes(frame));
}

qint64 WebSocketTransport::send(int command, const QByteArray& body, AccountBase::ResponseCallback callback,
                                bool flag, const QVariantMap& context)
{
    Q_UNUSED(flag)
    Q_UNUSED(context)
    const qint64 id = m_nextId++;
    if (QThread::currentThread() == thread()) {
        sendRequest(id, command, body, std::move(callback));
    } else {
        QMetaObject::invokeMethod(
            this, [this, id, command, body, callback] { sendRequest(id, command, body, callback); },
            Qt::QueuedConnection);
    }
    return id;
}

void WebSocketTransport::sendRequest(qint64 id, int command, const QByteArray& body,
                                     AccountBase::ResponseCallback callback)
{
    if (!m_signedIn) {
        // Answered later, never from inside send(): the caller is not ready for it there.
        QMetaObject::invokeMethod(
            this, [callback] { callback(AccountBase::kNetworkError, {}); }, Qt::QueuedConnection);
        return;
    }
    im::wire::Frame frame;
    im::wire::Request* request = frame.mutable_request();
    request->set_id(id);
    request->set_token(m_token.toStdString());
    request->set_command(command);
    request->set_body(body.constData(), size_t(body.size()));
    m_pending.insert(id, {std::move(callback)});
    m_socket->sendBinaryMessage(frameBytes(frame));
}

void WebSocketTransport::receiveFrame(const QByteArray& bytes)
{
    im::wire::Frame frame;
    if (!frame.ParseFromArray(bytes.constData(), int(bytes.size()))) {
        qCWarning(lcWebSocket) << "dropped a frame that is no frame," << bytes.size() << "bytes";
        return;
    }
    switch (frame.kind_case()) {
    case im::wire::Frame::kSignInResult: {
        const im::wire::SignInResult& result = frame.sign_in_result();
        if (result.code() == 0) {
            m_token = QString::fromStdString(result.token());
            m_attempts = 0;
            setState(true, Problem::None);
            return;
        }
        // A session the server no longer knows (it started afresh) is opened again with the
        // password. An ended session says so in the body: the account ends it. A refused
        // password stays refused whatever the retries.
        const bool resumed = !m_token.isEmpty();
        m_token.clear();
        if (resumed && result.body().empty()) {
            signIn();
            return;
        }
        // The account tells an ended session itself.
        m_stopped = result.body().empty() ? Problem::Refused : Problem::None;
        if (!result.body().empty())
            deliverPush(PushSessionEnded, fieldBytes(result.body()));
        else
            emit signInRefused();
        m_socket->close();
        return;
    }
    case im::wire::Frame::kAnswer: {
        const im::wire::Answer& answer = frame.answer();
        const auto it = m_pending.find(answer.id());
        if (it == m_pending.end())
            return;
        const AccountBase::ResponseCallback callback = std::move(it->callback);
        m_pending.erase(it);
        if (answer.server_time() > 0)
            deliverServerTime(answer.server_time());
        callback(answer.code(), fieldBytes(answer.body()));
        return;
    }
    case im::wire::Frame::kPush: deliverPush(frame.push().type(), fieldBytes(frame.push().body())); return;
    default: qCWarning(lcWebSocket) << "dropped a frame of unexpected kind" << int(frame.kind_case());
    }
}

void WebSocketTransport::lost()
{
    qCDebug(lcWebSocket) << "connection lost:" << m_socket->closeReason() << m_socket->errorString();
    setState(false, m_stopped ? *m_stopped : m_untrusted ? Problem::Untrusted : Problem::Unreachable);
    failPending();
    if (!m_stopped)
        scheduleRetry();
}

void WebSocketTransport::scheduleRetry()
{
    // Exponential, with half the wait drawn at random so that devices a server restart dropped
    // together do not come back together.
    const qint64 ceiling = std::min<qint64>(m_options.longestRetryMs, qint64(m_options.firstRetryMs)
                                                                          << std::min(m_attempts, 20));
    const qint64 delay = ceiling / 2 + QRandomGenerator::global()->bounded(ceiling / 2 + 1);
    ++m_attempts;
    m_retryTimer->start(int(delay));
}

void WebSocketTransport::failPending()
{
    const QHash<qint64, Pending> pending = std::exchange(m_pending, {});
    for (const Pending& request : pending)
        request.callback(AccountBase::kNetworkError, {});
}

void WebSocketTransport::setState(bool signedIn, Problem problem)
{
    // A first attempt that fails changes only the problem: the account still hears why.
    if (m_signedIn == signedIn && m_problem == problem)
        return;
    m_problem = problem;
    deliverConnection(signedIn, problem);
    if (m_signedIn.exchange(signedIn) != signedIn)
        emit connectedChanged(signedIn);
}
