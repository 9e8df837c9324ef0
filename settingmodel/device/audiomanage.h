#pragma once

#include "settingmodel_global.h"

#include <QObject>
#include <QStringList>

#include <memory>

class AudioManagePrivate;

// The audio output notification sounds go to, chosen by the output's id, and a test sound to
// hear it. One process-wide object (instance()) is what QML sees; QML never owns it.
class SETTINGMODEL_EXPORT AudioManage : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString defaultOutputDeviceName READ defaultOutputDeviceName WRITE setDefaultOutputDeviceName
                   NOTIFY defaultOutputDeviceNameChanged)
public:
    explicit AudioManage(QObject* parent = nullptr);
    ~AudioManage() override;

    // Created on first use from any thread, destroyed when the library unloads.
    static AudioManage* instance();
    // Where the test sound is looked for, next to the application.
    static QString testSoundPath();

    QString defaultOutputDeviceName() const;

    // Takes the platform's default output.
    Q_INVOKABLE void refreshAudioOutputDevice();
    // An id no output has is still stored: the device may come back.
    Q_INVOKABLE void setDefaultOutputDeviceName(const QString& defaultOutputDeviceName,
                                                bool changeDevice = true);
    Q_INVOKABLE QStringList availableOutputDevices() const;
    // Plays the test sound on that output, stopping the previous test.
    Q_INVOKABLE void test(const QString& outputDeviceName);

signals:
    void defaultOutputDeviceNameChanged(const QString& defaultOutputDeviceName);

private:
    std::unique_ptr<AudioManagePrivate> d;
};
