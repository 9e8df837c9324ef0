#include "scriptedtransport.h"

Transport::~Transport() = default;

qint64 ScriptedTransport::send(int command, const QByteArray& body, AccountBase::ResponseCallback callback,
                               bool flag, const QVariantMap& context)
{
    const Request request{m_nextId++, command, body, flag, context};
    m_requests.append(request);
    m_callbacks.insert(request.id, std::move(callback));
    emit requestSent(request.id, command);
    if (const Handler handler = m_handlers.value(command)) {
        if (const std::optional<Reply> reply = handler(request))
            answer(request.id, reply->code, reply->body);
    }
    return request.id;
}

void ScriptedTransport::setHandler(int command, Handler handler)
{
    m_handlers.insert(command, std::move(handler));
}

void ScriptedTransport::removeHandler(int command)
{
    m_handlers.remove(command);
}

bool ScriptedTransport::answer(qint64 requestId, int code, const QByteArray& body)
{
    const AccountBase::ResponseCallback callback = m_callbacks.take(requestId);
    if (!callback)
        return false;
    callback(code, body);
    return true;
}

bool ScriptedTransport::answerNext(int command, int code, const QByteArray& body)
{
    for (const Request& r : std::as_const(m_requests)) {
        if (r.command == command && m_callbacks.contains(r.id))
            return answer(r.id, code, body);
    }
    return false;
}

QList<ScriptedTransport::Request> ScriptedTransport::requests(int command) const
{
    QList<Request> out;
    for (const Request& r : m_requests) {
        if (r.command == command)
            out.append(r);
    }
    return out;
}

std::optional<ScriptedTransport::Request> ScriptedTransport::last(int command) const
{
    for (auto it = m_requests.crbegin(); it != m_requests.crend(); ++it) {
        if (it->command == command)
            return *it;
    }
    return std::nullopt;
}

QList<qint64> ScriptedTransport::pending() const
{
    QList<qint64> ids = m_callbacks.keys();
    std::sort(ids.begin(), ids.end());
    return ids;
}
