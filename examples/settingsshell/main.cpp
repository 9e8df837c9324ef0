// A client shell: loads the settings module, registers it, and opens its sound and screens
// page. With --check it prints what the page found and exits, for scripts and headless runs; with
// --account-check it also composes an account against the simulated server, changes a privacy
// setting and prints what the server then holds.
#include "accountcomposition.h"
#include "device/audiomanage.h"
#include "device/screenmanage.h"
#include "privacy/privacymodel.h"
#include "refaccount.h"
#include "settingmodel.h"
#include "simserver.h"
#include "wallpapers/wallpaperhandler.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QTemporaryDir>
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
    const QCommandLineOption accountOption(
        QStringLiteral("account-check"),
        QStringLiteral(
            "Compose an account against the simulated server, change a setting, print the server's."));
    parser.addOption(checkOption);
    parser.addOption(accountOption);
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
    if (!parser.isSet(accountOption)) {
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
        return app.exec();
    }

    // One account of the reference host with the module's models, against the simulated server:
    // what a shell without a server of its own runs.
    QTemporaryDir data;
    SimServer server;
    auto* account =
        new RefAccount(QStringLiteral("shell"), data.path(),
                       server.connectDevice(1, QStringLiteral("Shell"), QStringLiteral("desktop")));
    auto* composition = new AccountComposition(account, &app);
    composition->start();
    const auto waitFor = [&app](const std::function<bool()>& done) {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < 10000)
            app.processEvents(QEventLoop::AllEvents, 50);
        return done();
    };
    if (!waitFor([composition] { return composition->stage() == AccountComposition::Running; }))
        return 2;
    composition->privacyModel()->setFindMeByPhone(true, true);
    // The model shows the change once the server acknowledged it.
    PrivacyModel* privacy = composition->privacyModel();
    const bool reached = waitFor([&server, privacy] {
        return privacy->findMeByPhone() &&
               server.privacySummary().value(QStringLiteral("findMeByPhone")).toBool();
    });
    std::printf("account: %s\n", qPrintable(account->accountId()));
    std::printf("server findMeByPhone: %s\n", reached ? "true" : "false");
    std::printf("model findMeByPhone: %s\n", privacy->findMeByPhone() ? "true" : "false");
    // The composition signs the account out and deletes it.
    delete composition;
    return reached ? 0 : 1;
}
