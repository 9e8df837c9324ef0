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
    // A sound started by playSound is playing.
    Q_PROPERTY(bool playing READ playing NOTIFY playingChanged)
    // Why the last playSound plays nothing, in the user's words; empty while it plays or played.
    Q_PROPERTY(QString playbackError READ playbackError NOTIFY playbackErrorChanged)
public:
    explicit AudioManage(QObject* parent = nullptr);
    ~AudioManage() override;

    // Created on first use from any thread, destroyed when the library unloads.
    static AudioManage* instance();
    // Where the test sound is looked for, next to the application.
    static QString testSoundPath();
    // Where a preset tone's sound is looked for, beside the test sound.
    static QString presetSoundPath(const QString& toneName);

    QString defaultOutputDeviceName() const;

    // Takes the platform's default output.
    Q_INVOKABLE void refreshAudioOutputDevice();
    // An id no output has is still stored: the device may come back.
    Q_INVOKABLE void setDefaultOutputDeviceName(const QString& defaultOutputDeviceName,
                                                bool changeDevice = true);
    Q_INVOKABLE QStringList availableOutputDevices() const;
    // Plays the test sound on that output, stopping the previous test.
    Q_INVOKABLE void test(const QString& outputDeviceName);
    // What a person calls an output (its description), or the id when no output has it.
    Q_INVOKABLE QString outputDescription(const QString& outputDeviceName) const;
    // Plays a sound file of any format the platform decodes on the chosen output (the platform's
    // default when the chosen one is not connected), stopping the sound played before. When it
    // cannot play (no file, no output, a file that does not decode) playbackError says why.
    Q_INVOKABLE void playSound(const QString& filePath);
    Q_INVOKABLE void stopSound();
    bool playing() const;
    QString playbackError() const;

signals:
    void defaultOutputDeviceNameChanged(const QString& defaultOutputDeviceName);
    void playingChanged();
    void playbackErrorChanged();

private:
    void setPlaybackError(const QString& error);
    void setPlaying(bool playing);

    std::unique_ptr<AudioManagePrivate> d;
};
