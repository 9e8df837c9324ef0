#pragma once

#include "transport.h"

#include <QHash>
#include <QList>
#include <QObject>

#include <optional>

// A transport for tests: records every request; the test answers it, or installs a handler per
// command that answers like a server. A request nobody answers stays pending.
class HOST_EXPORT ScriptedTransport : public QObject, public Transport {
    Q_OBJECT
public:
    struct Request {
        qint64 id = 0;
        int command = 0;
        QByteArray body;
        bool flag = false;
        QVariantMap context;
    };
    struct Reply {
        int code = 0;
        QByteArray body;
    };
    // Returns the answer to send, or nothing to leave the request pending.
    using Handler = std::function<std::optional<Reply>(const Request&)>;

    using QObject::QObject;

    qint64 send(int command, const QByteArray& body, AccountBase::ResponseCallback callback, bool flag,
                const QVariantMap& context) override;

    void setHandler(int command, Handler handler);
    void removeHandler(int command);

    // Answers a pending request; false when it is not pending.
    bool answer(qint64 requestId, int code, const QByteArray& body = {});
    // Answers the oldest pending request of a command.
    bool answerNext(int command, int code, const QByteArray& body = {});

    QList<Request> requests() const { return m_requests; }
    QList<Request> requests(int command) const;
    int count(int command) const { return int(requests(command).size()); }
    std::optional<Request> last(int command) const;
    QList<qint64> pending() const;
    bool isPending(qint64 requestId) const { return m_callbacks.contains(requestId); }
    void clearRecords() { m_requests.clear(); }

    // Delivers a push notification as if the server sent it.
    void push(int type, const QByteArray& body) { deliverPush(type, body); }

signals:
    void requestSent(qint64 requestId, int command);

private:
    qint64 m_nextId = 1;
    QList<Request> m_requests;
    QHash<qint64, AccountBase::ResponseCallback> m_callbacks;
    QHash<int, Handler> m_handlers;
};
