#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

// Collects the module's log lines while it lives. Whether the module's debug lines are on is
// decided here, not by the caller's QT_LOGGING_RULES or configuration files, so a test reads
// the same lines on every machine.
class LogCapture {
public:
    struct Line {
        QtMsgType type;
        QString message;
        QString file;
        QString function;
    };

    explicit LogCapture(bool moduleDebug = true);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QList<Line> lines() const;
    QStringList messages() const;
};
