#include "serverprocess.h"

#include <QTcpServer>
#include <QTest>

ServerProcess::ServerProcess()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    m_port = probe.serverPort();
}

ServerProcess::~ServerProcess()
{
    kill();
}

bool ServerProcess::start(const QStringList& arguments)
{
    m_process.start(QStringLiteral(SETTINGMODEL_SERVER_PATH),
                    arguments + QStringList{QStringLiteral("--port"), QString::number(m_port)});
    if (!m_process.waitForStarted())
        return false;
    // The server says where it listens once it does.
    return QTest::qWaitFor(
               [this] { return m_process.canReadLine() || m_process.state() != QProcess::Running; }, 60000) &&
           m_process.readLine().startsWith("listening on");
}

void ServerProcess::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_log += m_process.readAllStandardError();
    m_process.kill();
    m_process.waitForFinished();
}

QByteArray ServerProcess::log()
{
    if (m_process.isOpen())
        m_log += m_process.readAllStandardError();
    return m_log;
}
