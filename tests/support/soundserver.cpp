#include "soundserver.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>

SoundServer::~SoundServer()
{
    if (m_server.state() == QProcess::NotRunning)
        return;
    m_server.terminate();
    if (!m_server.waitForFinished(5000))
        m_server.kill();
    m_server.waitForFinished(5000);
}

bool SoundServer::start(QString* why)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
    if (program.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("pactl")).isEmpty()) {
        *why = QStringLiteral("pulseaudio or pactl is not installed");
        return false;
    }
    if (!m_dir.isValid()) {
        *why = QStringLiteral("no temporary folder for the sound server");
        return false;
    }
    const QString socket = m_dir.filePath(QStringLiteral("native"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
    environment.insert(QStringLiteral("HOME"), m_dir.path());
    m_server.setProcessEnvironment(environment);
    m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // -n: no default configuration, whose automatic null sink would vanish beside ours.
    m_server.start(program,
                   {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
                    QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--disallow-exit"),
                    QStringLiteral("--use-pid-file=no"), QStringLiteral("--log-target=stderr"),
                    QStringLiteral("--log-level=error"),
                    QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 socket=") + socket,
                    QStringLiteral("--load=module-null-sink sink_name=null_a"),
                    QStringLiteral("--load=module-null-sink sink_name=null_b")});
    if (!m_server.waitForStarted(5000)) {
        *why = QStringLiteral("pulseaudio did not start: ") + m_server.errorString();
        return false;
    }
    m_address = QStringLiteral("unix:") + socket;
    // The socket exists before the server answers; ask until it does.
    const QDeadlineTimer deadline(10000);
    bool ok = false;
    while (!ok && !deadline.hasExpired() && m_server.state() == QProcess::Running) {
        if (QFileInfo::exists(socket))
            pactl({QStringLiteral("info")}, &ok);
        if (!ok)
            m_server.waitForFinished(100);
    }
    if (!ok) {
        *why = QStringLiteral("pulseaudio did not answer on ") + socket;
        return false;
    }
    pactl({QStringLiteral("set-default-sink"), QStringLiteral("null_a")});
    qputenv("PULSE_SERVER", m_address.toLocal8Bit());
    return true;
}

QStringList SoundServer::playingSinks() const
{
    // "index<TAB>name<TAB>..." for sinks, "index<TAB>sink index<TAB>..." for streams.
    QHash<QString, QString> sinkNames;
    const auto sinks = pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sinks")})
                           .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : sinks) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.size() > 1)
            sinkNames.insert(fields.at(0), fields.at(1));
    }
    QStringList playing;
    const auto inputs =
        pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs")})
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : inputs) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.size() > 1)
            playing.append(sinkNames.value(fields.at(1), fields.at(1)));
    }
    return playing;
}

QString SoundServer::pactl(const QStringList& arguments, bool* ok) const
{
    QProcess process;
    process.start(QStringLiteral("pactl"), QStringList{QStringLiteral("--server=") + m_address} + arguments);
    const bool finished = process.waitForFinished(5000);
    if (ok)
        *ok = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}
