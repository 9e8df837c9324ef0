// A small settings client built only against the installed package: it composes one account of
// the reference host against the simulated server (or a server process with --server URL),
// installs the module's translations and shows privacy, notifications and the machine's sound
// and screens in QML of its own. With --check it prints what it found, turns a privacy switch on
// through its own page, prints what the model and the server then hold, and quits: for scripts
// and headless runs.
#include "accountcomposition.h"
#include "device/audiomanage.h"
#include "device/screenmanage.h"
#include "notifications/ringtonemanager.h"
#include "privacy/privacymodel.h"
#include "refaccount.h"
#include "settingmodel.h"
#include "simserver.h"
#include "wallpapers/wallpaperhandler.h"
#include "websockettransport.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

bool waitFor(const std::function<bool()>& done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("settingsshell"));
    QQuickStyle::setStyle(QStringLiteral("Basic"));

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption checkOption(
        QStringLiteral("check"),
        QStringLiteral("Change a setting through the page, print what it shows and quit."));
    parser.addOption(checkOption);
    const QCommandLineOption serverOption(
        QStringLiteral("server"),
        QStringLiteral(
            "A server process to use (ws://HOST:PORT) instead of the simulated one in this process."),
        QStringLiteral("url"));
    const QCommandLineOption userOption(QStringLiteral("user"), QStringLiteral("The user with --server."),
                                        QStringLiteral("name:password"),
                                        QStringLiteral("demo:correct horse"));
    parser.addOption(serverOption);
    parser.addOption(userOption);
    parser.process(app);

    // The module's sentences, in the user's language (English built in).
    const QString translations = SettingModel::installTranslator();

    // One account of the reference host with the module's models, against the simulated server.
    QTemporaryDir data;
    SimServer server;
    std::unique_ptr<Transport> transport;
    if (parser.isSet(serverOption)) {
        WebSocketTransport::Options options;
        options.url = QUrl(parser.value(serverOption));
        options.user = parser.value(userOption).section(QLatin1Char(':'), 0, 0);
        options.password = parser.value(userOption).section(QLatin1Char(':'), 1);
        options.deviceId = 1;
        options.deviceName = QStringLiteral("Shell");
        transport = std::make_unique<WebSocketTransport>(options);
    } else {
        transport = server.connectDevice(1, QStringLiteral("Shell"), QStringLiteral("desktop"));
    }
    auto* account = new RefAccount(QStringLiteral("shell"), data.path(), std::move(transport));
    // The composition owns the account from here: it signs it out and deletes it.
    auto* composition = new AccountComposition(account, &app);
    composition->start();

    // The pages go before the account's models: a page outliving them would read them as they go.
    auto engine = std::make_unique<QQmlApplicationEngine>();
    const auto shutDown = [&engine, composition] {
        engine.reset();
        delete composition;
    };
    // Once, before any QML that uses the module.
    SettingModel::registerMetaType(engine->rootContext(), "SettingModel");
    WallpaperHandler::registerMetaType("SettingModel");
    engine->setInitialProperties(
        {{QStringLiteral("privacy"), QVariant::fromValue<QObject*>(composition->privacyModel())},
         {QStringLiteral("ringtones"), QVariant::fromValue<QObject*>(account->ringtoneManager())}});
    engine->load(QUrl(QStringLiteral("qrc:/shell/Shell.qml")));
    if (engine->rootObjects().isEmpty())
        return 1;
    // Why the server cannot be reached, for the window's foot. The account is the host's, not a
    // type of the module, so the shell keeps the window's text in step with it.
    QObject* window = engine->rootObjects().constFirst();
    window->setProperty("connectionProblem", account->connectionProblem());
    QObject::connect(account, &RefAccount::connectionProblemChanged, window, [window, account] {
        window->setProperty("connectionProblem", account->connectionProblem());
    });
    if (!parser.isSet(checkOption)) {
        const int status = app.exec();
        shutDown();
        return status;
    }

    std::printf("page: %s\n", qPrintable(window->property("title").toString()));
    std::printf("outputs: %s\n",
                qPrintable(AudioManage::instance()->availableOutputDevices().join(QLatin1Char(' '))));
    std::printf("screens: %d\n", ScreenManage::instance()->screenCount());
    std::printf("screens listed: %d\n", window->property("screensListed").toInt());
    std::printf("translations: %s\n", qPrintable(translations));
    std::printf("general_fail: %s\n", qPrintable(qtTrId("general_fail")));
    std::printf("first tone: %s\n", qPrintable(account->ringtoneManager()
                                                   ->presetRingtones()
                                                   .value(0)
                                                   .toMap()
                                                   .value(QStringLiteral("name"))
                                                   .toString()));

    // A person's click on the page's switch: it goes to the server, and the page shows it once
    // the server took it.
    if (!waitFor([composition, account] {
            return composition->stage() == AccountComposition::Running && account->isOnline();
        }))
        return 2;
    QObject* toggle = window->findChild<QObject*>(QStringLiteral("findMeByPhone"));
    if (!toggle)
        return 3;
    QMetaObject::invokeMethod(toggle, "toggle");
    QMetaObject::invokeMethod(toggle, "toggled");
    PrivacyModel* privacy = composition->privacyModel();
    // The model takes the switch only once the server acknowledged it; the simulated server in
    // this process is also asked directly.
    const bool inProcess = !parser.isSet(serverOption);
    const bool reached = waitFor([&server, privacy, toggle, inProcess] {
        return privacy->findMeByPhone() && toggle->property("checked").toBool() &&
               (!inProcess || server.privacySummary().value(QStringLiteral("findMeByPhone")).toBool());
    });
    std::printf("server findMeByPhone: %s\n", reached ? "true" : "false");
    std::printf("page findMeByPhone: %s\n", toggle->property("checked").toBool() ? "true" : "false");
    shutDown();
    return reached ? 0 : 1;
}
