#pragma once

#include "host/hostglobal.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QString>

// Where failures the user must see, tips, and host notifications are reported. Each report names
// the account it belongs to (its source), so that a shell shows it to that account's user.
class HOST_EXPORT AccountManager : public QObject {
    Q_OBJECT
public:
    // A failure tells the user something did not happen; a tip tells of something that did.
    enum Severity { Failure = 0, Tip = 1 };
    Q_ENUM(Severity)

    struct Error {
        int code = 0;
        QString text;
        int command = 0;
        QString source; // the account whose work reported it, when known
        int severity = Failure;
    };

    static AccountManager* getInstance();

    // A failure of the account whose answer or push is running (see setSource).
    void error(int code, const QString& text, int command);
    // A report of the given account, from any thread or task: it reaches the manager's thread
    // (and errorReported) once, in the order reported.
    void report(const QString& accountId, Severity severity, int code, const QString& text, int command);
    void notify(int type);

    // What was reported so far, oldest first; tests and the demo read these.
    QList<Error> errors() const { return m_errors; }
    QList<int> notifications() const { return m_notifications; }
    void clearRecords();

    // A closed account's reports are dropped (logged only): its session ended, and what its
    // leftover work reports means nothing to its user.
    void setAccountClosed(const QString& accountId, bool closed);

    // While an account runs a server answer or a push, what is reported is its own.
    void setSource(const QString& accountId) { m_source = accountId; }
    QString source() const { return m_source; }

signals:
    void errorReported(int code, const QString& text, int command, const QString& source, int severity);
    void notified(int type);

private:
    AccountManager();
    void record(const Error& error);
    bool closed(const Error& error) const;

    QList<Error> m_errors;
    mutable QMutex m_closedMutex;
    QSet<QString> m_closed;
    QString m_source;
    QList<int> m_notifications;
};
