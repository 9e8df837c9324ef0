// A client shell: loads the settings module, registers it, and opens its sound and screens
// page. With --check it prints what the page found and exits, for scripts and headless runs.
#include "device/audiomanage.h"
#include "device/screenmanage.h"
#include "settingmodel.h"
#include "wallpapers/wallpaperhandler.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("settingsshell"));
    QQuickStyle::setStyle(QStringLiteral("Basic"));

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption checkOption(QStringLiteral("check"),
                                         QStringLiteral("Open the page, print what it shows and quit."));
    parser.addOption(checkOption);
    parser.process(app);

    // The module's sentences: the shell reports them as they come, in the user's language.
    const QString translations = SettingModel::installTranslator();

    QQmlApplicationEngine engine;
    // Once, before any QML that uses the module.
    SettingModel::registerMetaType(engine.rootContext(), "SettingModel");
    WallpaperHandler::registerMetaType("SettingModel");
    engine.load(QUrl(QStringLiteral("qrc:/shell/SoundAndScreens.qml")));
    if (engine.rootObjects().isEmpty())
        return 1;
    if (!parser.isSet(checkOption))
        return app.exec();

    QObject* page = engine.rootObjects().constFirst();
    std::printf("page: %s\n", qPrintable(page->property("title").toString()));
    std::printf("outputs: %s\n",
                qPrintable(AudioManage::instance()->availableOutputDevices().join(QLatin1Char(' '))));
    std::printf("chosen output: %s\n", qPrintable(AudioManage::instance()->defaultOutputDeviceName()));
    std::printf("screens: %d\n", ScreenManage::instance()->screenCount());
    std::printf("screens listed: %d\n", page->property("screensListed").toInt());
    std::printf("translations: %s\n", qPrintable(translations));
    std::printf("general_fail: %s\n", qPrintable(qtTrId("general_fail")));
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return app.exec();
}
