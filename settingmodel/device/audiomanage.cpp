#include "audiomanage.h"

#include "logging.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QJSEngine>
#include <QMediaDevices>
#include <QPointer>
#include <QSoundEffect>
#include <QUrl>

#include <algorithm>

class AudioManagePrivate {
public:
    QString defaultOutputDeviceName;
    QPointer<QSoundEffect> testSound;

    void releaseTestSound()
    {
        if (!testSound)
            return;
        testSound->stop();
        delete testSound.data();
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
