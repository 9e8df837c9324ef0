#include "audiomanage.h"

#include "logging.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QCoreApplication>
#include <QFileInfo>
#include <QJSEngine>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QPointer>
#include <QSoundEffect>
#include <QUrl>

#include <algorithm>

class AudioManagePrivate {
public:
    QString defaultOutputDeviceName;
    QPointer<QSoundEffect> testSound;
    // The sound of playSound, with the output it plays on; both replaced by each playSound.
    QPointer<QMediaPlayer> player;
    bool playing = false;
    QString playbackError;

    void releaseTestSound()
    {
        if (testSound) {
            testSound->stop();
            delete testSound.data();
        }
        releasePlayer();
    }

    void releasePlayer()
    {
        if (!player)
            return;
        player->disconnect();
        player->stop();
        delete player.data();
    }
};

namespace {

QString idOf(const QAudioDevice& device)
{
    return QString::fromUtf8(device.id());
}

// Qt 6.4 does not announce output changes, so every question asks the platform again.
QAudioDevice findOutput(const QString& id)
{
    const QList<QAudioDevice> outputs = QMediaDevices::audioOutputs();
    const auto it = std::find_if(outputs.cbegin(), outputs.cend(),
                                 [&id](const QAudioDevice& d) { return idOf(d) == id; });
    return it == outputs.cend() ? QAudioDevice() : *it;
}

} // namespace

Q_GLOBAL_STATIC(AudioManage, s_audioManage)

AudioManage::AudioManage(QObject* parent) : QObject(parent), d(std::make_unique<AudioManagePrivate>())
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
    // The sound backend is the application thread's, whichever thread asks first.
    if (const QCoreApplication* app = QCoreApplication::instance(); app && !parent)
        moveToThread(app->thread());
}

AudioManage::~AudioManage()
{
    d->releaseTestSound();
}

AudioManage* AudioManage::instance()
{
    // The sound backend goes with the application object: the test sound must not outlive it.
    static const bool releasedWithApplication = [] {
        qAddPostRoutine([] { s_audioManage->d->releaseTestSound(); });
        return true;
    }();
    Q_UNUSED(releasedWithApplication)
    return s_audioManage;
}

QString AudioManage::testSoundPath()
{
    return QCoreApplication::applicationDirPath() +
           QStringLiteral("/../Resources/sounds/system_ringtone.wav");
}

QString AudioManage::presetSoundPath(const QString& toneName)
{
    return QCoreApplication::applicationDirPath() +
           QStringLiteral("/../Resources/sounds/%1.wav").arg(toneName);
}

QString AudioManage::defaultOutputDeviceName() const
{
    return d->defaultOutputDeviceName;
}

void AudioManage::refreshAudioOutputDevice()
{
    const QString id = idOf(QMediaDevices::defaultAudioOutput());
    if (id == d->defaultOutputDeviceName)
        return;
    d->defaultOutputDeviceName = id;
    emit defaultOutputDeviceNameChanged(id);
}

void AudioManage::setDefaultOutputDeviceName(const QString& defaultOutputDeviceName, bool changeDevice)
{
    if (defaultOutputDeviceName == d->defaultOutputDeviceName)
        return;
    if (changeDevice && findOutput(defaultOutputDeviceName).isNull())
        qCDebug(lcSettingModel) << "Cant find audio output device:" << defaultOutputDeviceName;
    d->defaultOutputDeviceName = defaultOutputDeviceName;
    emit defaultOutputDeviceNameChanged(defaultOutputDeviceName);
}

QStringList AudioManage::availableOutputDevices() const
{
    QStringList ids;
    for (const QAudioDevice& device : QMediaDevices::audioOutputs()) {
        const QString id = idOf(device);
        if (!ids.contains(id))
            ids.append(id);
    }
    return ids;
}

void AudioManage::test(const QString& outputDeviceName)
{
    const QAudioDevice device = findOutput(outputDeviceName);
    if (device.isNull())
        return;
    if (d->testSound) {
        d->testSound->stop();
        d->testSound->deleteLater();
    }
    // A child, so that the object's owner can watch the sound play.
    d->testSound = new QSoundEffect(device, this);
    d->testSound->setSource(QUrl::fromLocalFile(testSoundPath()));
    d->testSound->play();
}

QString AudioManage::outputDescription(const QString& outputDeviceName) const
{
    const QAudioDevice device = findOutput(outputDeviceName);
    return device.isNull() || device.description().isEmpty() ? outputDeviceName : device.description();
}

bool AudioManage::playing() const
{
    return d->playing;
}

QString AudioManage::playbackError() const
{
    return d->playbackError;
}

void AudioManage::setPlaying(bool playing)
{
    if (d->playing == playing)
        return;
    d->playing = playing;
    emit playingChanged();
}

void AudioManage::setPlaybackError(const QString& error)
{
    if (d->playbackError == error)
        return;
    d->playbackError = error;
    emit playbackErrorChanged();
}

void AudioManage::stopSound()
{
    d->releasePlayer();
    setPlaying(false);
}

void AudioManage::playSound(const QString& filePath)
{
    stopSound();
    if (filePath.isEmpty() || !QFileInfo(filePath).isFile()) {
        setPlaybackError(qtTrId("sound_file_missing"));
        return;
    }
    QAudioDevice device = findOutput(d->defaultOutputDeviceName);
    if (device.isNull())
        device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        setPlaybackError(qtTrId("sound_no_output"));
        return;
    }
    setPlaybackError(QString());
    auto* player = new QMediaPlayer(this);
    auto* output = new QAudioOutput(device, player);
    player->setAudioOutput(output);
    d->player = player;
    connect(player, &QMediaPlayer::errorOccurred, this, [this](QMediaPlayer::Error, const QString& reason) {
        qCDebug(lcSettingModel) << "Cannot play the sound:" << reason;
        setPlaybackError(qtTrId("sound_cannot_play"));
        setPlaying(false);
    });
    connect(player, &QMediaPlayer::playbackStateChanged, this,
            [this](QMediaPlayer::PlaybackState state) { setPlaying(state == QMediaPlayer::PlayingState); });
    player->setSource(QUrl::fromLocalFile(filePath));
    player->play();
}
