// The device objects (audio outputs, screens) against a real sound server and the offscreen
// platform's screens, and the module's registration entry points.
#include "device/audiomanage.h"
#include "device/screenmanage.h"
#include "logcapture.h"
#include "secretwatch.h"
#include "settingmodel.h"
#include "soundserver.h"
#include "wallpapers/wallpaperhandler.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QScreen>
#include <QSignalSpy>
#include <QSoundEffect>
#include <QTemporaryDir>
#include <QTest>
#include <qpa/qplatformnativeinterface.h>

namespace {

QJsonObject screen(const char* name, int x, int width, int height, double dpr = 1)
{
    return {{QStringLiteral("name"), QLatin1String(name)},
            {QStringLiteral("x"), x},
            {QStringLiteral("y"), 0},
            {QStringLiteral("width"), width},
            {QStringLiteral("height"), height},
            {QStringLiteral("dpr"), dpr}};
}

// The offscreen platform takes a new screen configuration at run time through its native
// interface, announcing the screens that come and go.
bool setScreens(const QJsonArray& screens)
{
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    using SetConfiguration = void (*)(const QJsonObject&, QPlatformNativeInterface*);
    auto set = reinterpret_cast<SetConfiguration>(native->nativeResourceForIntegration("setConfiguration"));
    if (!set)
        return false;
    set(QJsonObject{{QStringLiteral("screens"), screens}}, native);
    return true;
}

QString serial(const QScreen* screen)
{
    return QString::asprintf("%p", static_cast<const void*>(screen));
}

const QStringList kModuleTypes{"AlternativeProfilePhoto*",
                               "SharedPreferenceBase*",
                               "SharedPreferenceModel*",
                               "SettingServiceCmd*",
                               "PrivacyItem*",
                               "RecentEmojiModel*",
                               "PrivacyModel*",
                               "RingtoneSetting*",
                               "GlobalRingtoneSetting*",
                               "RingtoneModel*",
                               "RingtoneManager*",
                               "GroupMutedSettingModel*"};

} // namespace

class TestDevice : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();

    void registrationWithoutContext();
    void registrationPublishesTheDeviceObjects();

    void outputsAndTheDefault();
    void choosingAnOutput();
    void testSoundPlaysOnTheChosenOutput();
    void soundsPlayOrSayWhyNot();

    void screensInFirstSeenOrder();
    void screensComeAndGo();

    // Last: the translator it installs stays for the rest of the run.
    void translationsForALocale();

private:
    QSoundEffect* playingSound(AudioManage* audio) const;

    SoundServer m_sound;
    QString m_noSound;
};

void TestDevice::initTestCase()
{
    // Before anything asks Qt Multimedia for devices.
    if (!m_sound.start(&m_noSound))
        qWarning("No sound server for the audio tests: %s", qPrintable(m_noSound));
}

void TestDevice::registrationWithoutContext()
{
    SettingModel::registerMetaType(nullptr, "Test.NoContext");
    for (const QString& name : kModuleTypes)
        QVERIFY2(QMetaType::fromName(name.toLatin1()).isValid(), qPrintable(name));
    QVERIFY(qmlTypeId("Test.NoContext", 1, 0, "PrivacyItem") >= 0);

    QQmlEngine engine;
    QVERIFY(!engine.rootContext()->contextProperty(QStringLiteral("ScreenManage")).isValid());
    QVERIFY(!engine.rootContext()->contextProperty(QStringLiteral("AudioManage")).isValid());

    // The wallpaper entry point adds the shared-pointer names its signals use.
    WallpaperHandler::registerMetaType(nullptr);
    QVERIFY(QMetaType::fromName("QList<WallpaperItemPtr>").isValid());
    QCOMPARE(QMetaType::fromName("WallpaperItemPtr"), QMetaType::fromType<WallpaperItemPtr>());
}

void TestDevice::registrationPublishesTheDeviceObjects()
{
    QQmlEngine engine;
    SettingModel::registerMetaType(engine.rootContext(), "Test.Context");
    QObject* screens =
        engine.rootContext()->contextProperty(QStringLiteral("ScreenManage")).value<QObject*>();
    QObject* audio = engine.rootContext()->contextProperty(QStringLiteral("AudioManage")).value<QObject*>();
    QCOMPARE(screens, ScreenManage::instance());
    QCOMPARE(audio, AudioManage::instance());
    QCOMPARE(QJSEngine::objectOwnership(screens), QJSEngine::CppOwnership);
    QCOMPARE(QJSEngine::objectOwnership(audio), QJSEngine::CppOwnership);

    // The QML module's singletons are the same objects in every engine, and an engine that goes
    // leaves them.
    for (int round = 0; round < 2; ++round) {
        QQmlEngine moduleEngine;
        QQmlComponent component(&moduleEngine);
        component.setData(
            "import QtQml\nimport SettingModel\n"
            "QtObject { property QtObject audio: AudioManage; property ScreenManage screens: ScreenManage }",
            QUrl());
        std::unique_ptr<QObject> object(component.create());
        QVERIFY2(object, qPrintable(component.errorString()));
        QCOMPARE(object->property("audio").value<QObject*>(), AudioManage::instance());
        QCOMPARE(object->property("screens").value<QObject*>(), ScreenManage::instance());
    }

    // Once per process, whichever thread asks first, and living on the application's thread.
    AudioManage* fromThread = nullptr;
    std::unique_ptr<AudioManage> madeAudio;
    std::unique_ptr<ScreenManage> madeScreens;
    QThread* thread = QThread::create([&] {
        fromThread = AudioManage::instance();
        madeAudio = std::make_unique<AudioManage>();
        madeScreens = std::make_unique<ScreenManage>();
    });
    thread->start();
    QVERIFY(thread->wait(5000));
    delete thread;
    QCOMPARE(fromThread, AudioManage::instance());
    QCOMPARE(madeAudio->thread(), qApp->thread());
    QCOMPARE(madeScreens->thread(), qApp->thread());
    madeScreens->init();
    QCOMPARE(madeScreens->screenCount(), QGuiApplication::screens().size());
}

void TestDevice::outputsAndTheDefault()
{
    if (!m_noSound.isEmpty())
        QSKIP(qPrintable(QStringLiteral("no sound server: ") + m_noSound));
    AudioManage audio;
    QCOMPARE(audio.availableOutputDevices(),
             (QStringList{QStringLiteral("null_a"), QStringLiteral("null_b")}));

    QSignalSpy changed(&audio, &AudioManage::defaultOutputDeviceNameChanged);
    audio.refreshAudioOutputDevice();
    QCOMPARE(audio.defaultOutputDeviceName(), QStringLiteral("null_a"));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toString(), QStringLiteral("null_a"));
    audio.refreshAudioOutputDevice();
    QCOMPARE(changed.count(), 1);
}

void TestDevice::choosingAnOutput()
{
    if (!m_noSound.isEmpty())
        QSKIP(qPrintable(QStringLiteral("no sound server: ") + m_noSound));
    AudioManage audio;
    QSignalSpy changed(&audio, &AudioManage::defaultOutputDeviceNameChanged);
    LogCapture log;

    QVERIFY(audio.setProperty("defaultOutputDeviceName", QStringLiteral("null_b")));
    audio.setDefaultOutputDeviceName(QStringLiteral("null_b"));
    QCOMPARE(changed.count(), 1);
    QVERIFY(log.messages().isEmpty());

    // A device that is gone is still chosen: it may be plugged in again.
    audio.setDefaultOutputDeviceName(QStringLiteral("headset"));
    QCOMPARE(audio.defaultOutputDeviceName(), QStringLiteral("headset"));
    QCOMPARE(changed.count(), 2);
    QCOMPARE(log.messages().size(), 1);
    QVERIFY(log.messages().constFirst().contains(QStringLiteral("Cant find audio output device:")));
    QVERIFY(log.messages().constFirst().contains(QStringLiteral("headset")));
    QCOMPARE(log.lines().constFirst().type, QtDebugMsg);

    // Without changeDevice the name is only stored.
    audio.setDefaultOutputDeviceName(QStringLiteral("speakers"), false);
    QCOMPARE(changed.count(), 3);
    QCOMPARE(log.messages().size(), 1);
}

QSoundEffect* TestDevice::playingSound(AudioManage* audio) const
{
    QSoundEffect* playing = nullptr;
    for (QSoundEffect* sound : audio->findChildren<QSoundEffect*>()) {
        if (sound->isPlaying()) {
            if (playing)
                return nullptr;
            playing = sound;
        }
    }
    return playing;
}

void TestDevice::testSoundPlaysOnTheChosenOutput()
{
    if (!m_noSound.isEmpty())
        QSKIP(qPrintable(QStringLiteral("no sound server: ") + m_noSound));
    QVERIFY2(QFileInfo::exists(AudioManage::testSoundPath()), qPrintable(AudioManage::testSoundPath()));
    AudioManage audio;

    audio.test(QStringLiteral("null_b"));
    QVERIFY(QTest::qWaitFor([&] { return m_sound.playingSinks() == QStringList{QStringLiteral("null_b")}; }));
    QSoundEffect* first = playingSound(&audio);
    QVERIFY(first);
    QCOMPARE(first->status(), QSoundEffect::Ready);

    // An unknown output plays nothing and leaves the running test alone.
    audio.test(QStringLiteral("no such output"));
    QCOMPARE(playingSound(&audio), first);

    // A new test replaces the running one: one sound at a time, on the new output.
    QPointer<QSoundEffect> previous(first);
    audio.test(QStringLiteral("null_a"));
    QVERIFY(!previous->isPlaying());
    QVERIFY(QTest::qWaitFor([&] { return m_sound.playingSinks() == QStringList{QStringLiteral("null_a")}; }));
    QVERIFY(QTest::qWaitFor([&] { return previous.isNull(); }));

    // The short sound ends by itself.
    QVERIFY(QTest::qWaitFor(
        [&] { return audio.findChildren<QSoundEffect*>().constFirst()->isPlaying() == false; }));
    QVERIFY(QTest::qWaitFor([&] { return m_sound.playingSinks().isEmpty(); }));
}

// Any sound file plays on the chosen output, else on the default one; what cannot play says why
// and keeps nothing playing.
void TestDevice::soundsPlayOrSayWhyNot()
{
    AudioManage audio;
    QSignalSpy errors(&audio, &AudioManage::playbackErrorChanged);
    audio.playSound(QStringLiteral("/no/such/tone.wav"));
    QCOMPARE(audio.playbackError(), QStringLiteral("sound_file_missing"));
    QVERIFY(!audio.playing());
    if (!m_noSound.isEmpty())
        QSKIP(qPrintable(QStringLiteral("no sound server: ") + m_noSound));

    audio.setDefaultOutputDeviceName(QStringLiteral("null_b"));
    audio.playSound(AudioManage::presetSoundPath(QStringLiteral("chime")));
    QVERIFY(audio.playbackError().isEmpty());
    QVERIFY(QTest::qWaitFor([&] { return m_sound.playingSinks() == QStringList{QStringLiteral("null_b")}; }));
    QVERIFY(audio.playing());
    QVERIFY(QTest::qWaitFor([&] { return !audio.playing(); }));

    // An output that is not connected: the platform's default plays it.
    audio.setDefaultOutputDeviceName(QStringLiteral("headset"));
    audio.playSound(AudioManage::presetSoundPath(QStringLiteral("bell")));
    QVERIFY(QTest::qWaitFor([&] { return m_sound.playingSinks() == QStringList{QStringLiteral("null_a")}; }));
    audio.stopSound();
    QVERIFY(!audio.playing());

    QTemporaryDir dir;
    const QString broken = dir.filePath(QStringLiteral("broken.wav"));
    QFile file(broken);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a sound at all");
    file.close();
    errors.clear();
    audio.playSound(broken);
    QVERIFY(QTest::qWaitFor([&] { return audio.playbackError() == QStringLiteral("sound_cannot_play"); }));
    QVERIFY(!audio.playing());
}

// The module's English is built in; a shell's own translation in its folder comes first; a
// language nobody translated, or a folder without one, gets English.
void TestDevice::translationsForALocale()
{
    const QString english = QStringLiteral("Something went wrong. Please try again.");
    QVERIFY(SettingModel::installTranslator(QLocale(QLocale::German))
                .endsWith(QLatin1String("settingmodel_en.qm")));
    QCOMPARE(qtTrId("general_fail"), english);
    QVERIFY(SettingModel::installTranslator(QLocale(QLocale::French, QLocale::France),
                                            QStringLiteral(SHELL_TRANSLATIONS))
                .endsWith(QLatin1String("settingmodel_fr.qm")));
    QCOMPARE(qtTrId("general_fail"), QStringLiteral("Une erreur est survenue. Veuillez réessayer."));
    // One translator at a time: the next call replaces it.
    SettingModel::installTranslator(QLocale(QLocale::French), QStringLiteral("/no/such/folder"));
    QCOMPARE(qtTrId("general_fail"), english);
}

void TestDevice::screensInFirstSeenOrder()
{
    const QList<QScreen*> platform = QGuiApplication::screens();
    QCOMPARE(platform.size(), 2);
    QCOMPARE(platform.at(1)->devicePixelRatio(), 1.5);
    ScreenManage screens;
    QCOMPARE(screens.screenCount(), 0);
    QSignalSpy added(&screens, &ScreenManage::screenAdded);
    screens.init();
    QCOMPARE(added.count(), 0);
    QCOMPARE(screens.screenCount(), 2);
    QCOMPARE(screens.screenAt(1), platform.at(1));
    QCOMPARE(screens.screenGeometryAt(1), QRect(1280, 0, 1024, 768));
    QCOMPARE(screens.screenSerialNumberAt(0), serial(platform.at(0)));

    const QVariantMap second = screens.screenInfoAt(1);
    QCOMPARE(second.value(QStringLiteral("serialNumber")).toString(), serial(platform.at(1)));
    QCOMPARE(second.value(QStringLiteral("geometry")).toRect(), QRect(1280, 0, 1024, 768));
    QCOMPARE(second.value(QStringLiteral("dpr")).toDouble(), platform.at(1)->devicePixelRatio());

    for (int outside : {-1, 2}) {
        QCOMPARE(screens.screenAt(outside), nullptr);
        QCOMPARE(screens.screenGeometryAt(outside), QRect());
        QCOMPARE(screens.screenSerialNumberAt(outside), QString());
        const QVariantMap none = screens.screenInfoAt(outside);
        QCOMPARE(none.value(QStringLiteral("serialNumber")), QVariant(QString()));
        QCOMPARE(none.value(QStringLiteral("geometry")), QVariant(QRect()));
        QCOMPARE(none.value(QStringLiteral("dpr")), QVariant(1));
    }

    QCOMPARE(screens.screenByPoint(QPoint(1300, 10)), platform.at(1));
    QCOMPARE(screens.screenByPoint(QPoint(0, 0)), platform.at(0));
    QCOMPARE(screens.screenByPoint(QPoint(5000, 5000)), nullptr);
}

void TestDevice::screensComeAndGo()
{
    ScreenManage screens;
    screens.init();
    screens.init();
    const QScreen* first = screens.screenAt(0);
    const QScreen* second = screens.screenAt(1);
    QSignalSpy added(&screens, &ScreenManage::screenAdded);
    QSignalSpy removed(&screens, &ScreenManage::screenRemoved);

    // A third screen with a fractional ratio: reported whole, toward zero.
    QVERIFY(setScreens(
        {screen("A", 0, 1280, 800), screen("B", 1280, 1024, 768, 1.5), screen("C", 2304, 1920, 1080, 1.75)}));
    QCOMPARE(added.count(), 1);
    QCOMPARE(screens.screenCount(), 3);
    QCOMPARE(added.at(0).at(0).toInt(), 2);
    QCOMPARE(added.at(0).at(1).toString(), screens.screenSerialNumberAt(2));
    QCOMPARE(added.at(0).at(2).toRect(), QRect(2304, 0, 1920, 1080));
    QCOMPARE(added.at(0).at(3).toInt(), 1);

    // The first screen goes: the others move down by one.
    const QString firstSerial = serial(first);
    QVERIFY(setScreens({screen("B", 1280, 1024, 768, 1.5), screen("C", 2304, 1920, 1080, 1.75)}));
    QCOMPARE(removed.count(), 1);
    QCOMPARE(removed.at(0).at(0).toInt(), 0);
    QCOMPARE(removed.at(0).at(1).toString(), firstSerial);
    QCOMPARE(screens.screenCount(), 2);
    QCOMPARE(screens.screenAt(0), second);

    // Once uninitialised, changes are no longer followed, and init() does not follow again.
    screens.uninit();
    screens.init();
    QVERIFY(setScreens({screen("A", 0, 1280, 800), screen("B", 1280, 1024, 768, 1.5)}));
    QCOMPARE(added.count(), 1);
    QCOMPARE(removed.count(), 1);
    // The screen that went meanwhile is gone from the lookups, not left dangling.
    QCOMPARE(screens.screenCount(), 1);
    QCOMPARE(screens.screenAt(0), second);
    QCOMPARE(screens.screenAt(1), nullptr);
    QCOMPARE(screens.screenByPoint(QPoint(2400, 10)), nullptr);
    QCOMPARE(screens.screenGeometryAt(1), QRect());
}

SETTINGMODEL_TEST_MAIN(TestDevice)
#include "tst_device.moc"
