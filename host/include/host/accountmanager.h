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
    };

    static AccountManager* getInstance();

    void error(int code, const QString& text, int command);
    void notify(int type);

    // What was reported so far, oldest first; tests and the demo read these.
    QList<Error> errors() const { return m_errors; }
    QList<int> notifications() const { return m_notifications; }
    void clearRecords();

signals:
    void errorReported(int code, const QString& text, int command);
    void notified(int type);

private:
    AccountManager() = default;

    QList<Error> m_errors;
    QList<int> m_notifications;
};
