#pragma once

#include "host/hostglobal.h"

#include <QList>
#include <QObject>
#include <QString>

// Where failures the user must see, and host notifications, are reported.
class HOST_EXPORT AccountManager : public QObject {
    Q_OBJECT
public:
    struct Error {
        int code = 0;
        QString text;
        int command = 0;
        QString source; // the account whose work reported it, when known
    };

    static AccountManager* getInstance();

    void error(int code, const QString& text, int command);
    void notify(int type);

    // What was reported so far, oldest first; tests and the demo read these.
    QList<Error> errors() const { return m_errors; }
    QList<int> notifications() const { return m_notifications; }
    void clearRecords();

    // While an account runs a server answer or a push, what is reported is its own.
    void setSource(const QString& accountId) { m_source = accountId; }
    QString source() const { return m_source; }

signals:
    void errorReported(int code, const QString& text, int command, const QString& source);
    void notified(int type);

private:
    AccountManager() = default;

    QList<Error> m_errors;
    QString m_source;
    QList<int> m_notifications;
};
