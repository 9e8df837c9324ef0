#pragma once

#include <QProcess>
#include <QStringList>
#include <QUrl>

// settingmodel-server run as a process on a port of its own, so that it can come back there
// after a kill.
class ServerProcess {
public:
    ServerProcess();
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Starts it with the arguments (the port is added) and waits until it listens.
    bool start(const QStringList& arguments);
    // SIGKILL: nothing of the server's runs after it.
    void kill();
    QUrl url() const { return QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(m_port)); }
    // What the server wrote to its log (standard error) so far.
    QByteArray log();

private:
    quint16 m_port = 0;
    QProcess m_process;
    QByteArray m_log;
};
