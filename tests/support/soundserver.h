#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A private PulseAudio server for one test process, with two null sinks: "null_a" (the
// default) and "null_b". start() points this process at it, so it must run before anything
// asks Qt Multimedia for devices. The server stops with the object.
class SoundServer {
public:
    SoundServer() = default;
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // False, with the reason, when no server can run here.
    bool start(QString* why);
    // The sink each playing stream goes to, by sink name.
    QStringList playingSinks() const;

private:
    QString pactl(const QStringList& arguments, bool* ok = nullptr) const;

    QTemporaryDir m_dir;
    QProcess m_server;
    QString m_address;
};
