// The demo client: the simulated server and two devices of one user side by side. With a
// display it opens the window; without one (or with --headless) it runs a scenario file,
// prints a report, writes a screenshot per screen and exits non-zero if a step failed. With
// --server it is one device of a server process instead, in a window of its own.
#include "demodevice.h"
#include "host/appsettingmodel.h"
#include "host/contacts.h"
#include "host/threadmanager.h"
#include "scenariorunner.h"
#include "settingmodel.h"
#include "simserver.h"
#include "wallpapers/wallpaperhandler.h"
#include "websockettransport.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTemporaryDir>

#include <cstdio>

namespace {

bool hasDisplay()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.startsWith("offscreen") || platform.startsWith("minimal"))
        return false;
    return !platform.isEmpty() || !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// Runs the scenario file against the devices the API holds; headless, the demo quits at its end.
int runScenario(QQmlApplicationEngine& engine, QQuickWindow* window, ScenarioApi& api,
                const QString& scenario, const QString& screenshotDir, bool headless)
{
    const QString shots = QDir(screenshotDir).absolutePath();
    QDir().mkpath(shots);
    api.setWindow(window, shots);
    ScenarioRunner runner(&engine, &api);
    QString error;
    if (!runner.load(scenario, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 2;
    }
    std::printf("Scenario %s\nScreenshots go to %s\n\n", qPrintable(QDir(scenario).absolutePath()),
                qPrintable(shots));
    std::fflush(stdout);
    int failures = 0;
    QObject::connect(&runner, &ScenarioRunner::finished, QCoreApplication::instance(),
                     [&failures, headless](int failed) {
                         failures = failed;
                         if (headless)
                             QCoreApplication::quit();
                     });
    runner.start();
    const int status = QCoreApplication::exec();
    ThreadManager::getInstance()->waitForIdle();
    return failures > 0 ? 1 : status;
}

} // namespace

int main(int argc, char** argv)
{
    bool headless = false;
    for (int i = 1; i < argc; ++i)
        headless |= qstrcmp(argv[i], "--headless") == 0;
    if (headless || !hasDisplay()) {
        headless = true;
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    }
    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("settingmodel"));
    QCoreApplication::setApplicationName(QStringLiteral("settingmodel-demo"));
    QQuickStyle::setStyle(QStringLiteral("Basic"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Two devices of one user against the simulated server."));
    parser.addHelpOption();
    const QCommandLineOption headlessOption(QStringLiteral("headless"),
                                            QStringLiteral("Run a scenario without a window."));
    const QCommandLineOption scenarioOption(
        QStringLiteral("scenario"), QStringLiteral("Scenario script to run."), QStringLiteral("file"));
    const QCommandLineOption shotsOption(QStringLiteral("screenshots"),
                                         QStringLiteral("Folder for the screenshots."), QStringLiteral("dir"),
                                         QStringLiteral("demo-screenshots"));
    const QCommandLineOption dataOption(
        QStringLiteral("data"), QStringLiteral("Folder for the devices' databases (default: a fresh one)."),
        QStringLiteral("dir"));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"),
                                           QStringLiteral("Show the module's debug lines."));
    const QCommandLineOption sizeOption(
        QStringLiteral("size"), QStringLiteral("The window's size, e.g. 1920x1080 (default 1280x720)."),
        QStringLiteral("WxH"));
    const QCommandLineOption serverOption(
        QStringLiteral("server"),
        QStringLiteral("Run one device against a server process (ws://HOST:PORT or wss://HOST:PORT)."),
        QStringLiteral("url"));
    const QCommandLineOption deviceOption(QStringLiteral("device"),
                                          QStringLiteral("The device's name with --server (default A)."),
                                          QStringLiteral("name"), QStringLiteral("A"));
    const QCommandLineOption userOption(QStringLiteral("user"),
                                        QStringLiteral("The user to sign in with --server."),
                                        QStringLiteral("name"), QStringLiteral("demo"));
    const QCommandLineOption passwordOption(QStringLiteral("password"),
                                            QStringLiteral("The user's password with --server."),
                                            QStringLiteral("password"), QStringLiteral("correct horse"));
    const QCommandLineOption trustOption(
        QStringLiteral("trust"), QStringLiteral("A PEM certificate to trust for wss:// (a self-signed one)."),
        QStringLiteral("file"));
    parser.addOptions({headlessOption, scenarioOption, shotsOption, dataOption, verboseOption, sizeOption,
                       serverOption, deviceOption, userOption, passwordOption, trustOption});
    parser.process(app);
    if (!parser.isSet(verboseOption))
        QLoggingCategory::setFilterRules(QStringLiteral("im.*.debug=false"));

    // The module's sentences, in the system's language where there is a translation.
    SettingModel::installTranslator();

    QTemporaryDir scratch;
    const QString dataDir = parser.isSet(dataOption) ? parser.value(dataOption) : scratch.path();
    qint64 worldOffset = 0;
    auto world = [&worldOffset] { return QDateTime::currentMSecsSinceEpoch() + worldOffset; };

    if (parser.isSet(serverOption)) {
        const QString scenario = parser.value(scenarioOption);
        if (headless && scenario.isEmpty()) {
            std::fprintf(stderr, "--server without a display runs a --scenario.\n");
            return 2;
        }
        if (headless)
            AppSettingModel::instance()->setDarkMode(false);
        WebSocketTransport::Options options;
        options.url = QUrl(parser.value(serverOption));
        options.user = parser.value(userOption);
        options.password = parser.value(passwordOption);
        options.deviceName = QStringLiteral("Desktop %1").arg(parser.value(deviceOption));
        // The same name is the same device at every start.
        options.deviceId = 1 + int(qChecksum(parser.value(deviceOption).toUtf8()));
        if (parser.isSet(trustOption)) {
            QFile pem(parser.value(trustOption));
            if (!pem.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(pem.fileName()));
                return 2;
            }
            options.trusted = QSslCertificate::fromData(pem.readAll());
        }
        DemoDevice device(
            parser.value(deviceOption), options.deviceId, dataDir,
            [options] { return std::make_unique<WebSocketTransport>(options); }, world);
        if (device.account()->storageState() == RefAccount::StorageInUse) {
            std::fprintf(
                stderr,
                "The data folder %s is in use by another settingmodel-demo. Choose another with --data.\n",
                qPrintable(QDir(dataDir).absolutePath()));
            return 4;
        }
        QQmlApplicationEngine engine;
        SettingModel::registerMetaType(engine.rootContext(), "SettingModel");
        WallpaperHandler::registerMetaType("SettingModel");
        engine.setInitialProperties(
            {{QStringLiteral("deviceA"), QVariant::fromValue<QObject*>(&device)},
             {QStringLiteral("deviceB"), QVariant::fromValue<QObject*>(nullptr)},
             {QStringLiteral("serverName"), options.url.toString()},
             {QStringLiteral("appSettings"), QVariant::fromValue<QObject*>(AppSettingModel::instance())}});
        engine.load(QUrl(QStringLiteral("qrc:/demo/qml/Main.qml")));
        if (engine.rootObjects().isEmpty())
            return 3;
        device.start();
        ScenarioApi api(&device, nullptr, nullptr, &worldOffset);
        if (!scenario.isEmpty()) {
            return runScenario(engine, qobject_cast<QQuickWindow*>(engine.rootObjects().constFirst()), api,
                               scenario, parser.value(shotsOption), headless);
        }
        const int status = app.exec();
        ThreadManager::getInstance()->waitForIdle();
        return status;
    }

    SimServer server;
    server.setClock(world);
    server.setLatency(40);
    server.setPassword(QStringLiteral("correct horse"));
    server.setVerification(QStringLiteral("me@example.org"), true);
    server.seedDevice(3, QStringLiteral("Phone"), QStringLiteral("android"), world() - 3 * 3600 * 1000);

    DemoDevice::publishStickers(&server);
    DemoDevice a(QStringLiteral("A"), 1, dataDir, &server, world);
    DemoDevice b(QStringLiteral("B"), 2, dataDir, &server, world);
    // Two demos on one data folder would write over each other's changes.
    for (DemoDevice* device : {&a, &b}) {
        if (device->account()->storageState() == RefAccount::StorageInUse) {
            std::fprintf(
                stderr,
                "The data folder %s is in use by another settingmodel-demo (process %lld). Close it, "
                "or choose another folder with --data.\n",
                qPrintable(QDir(dataDir).absolutePath()), device->account()->storageHolder());
            return 4;
        }
    }

    // A scripted run starts in light mode whatever the last interactive run chose.
    if (headless)
        AppSettingModel::instance()->setDarkMode(false);
    QQmlApplicationEngine engine;
    // What a client shell does before its first QML: the module's types and device objects.
    SettingModel::registerMetaType(engine.rootContext(), "SettingModel");
    WallpaperHandler::registerMetaType("SettingModel");
    engine.setInitialProperties(
        {{QStringLiteral("deviceA"), QVariant::fromValue<QObject*>(&a)},
         {QStringLiteral("deviceB"), QVariant::fromValue<QObject*>(&b)},
         {QStringLiteral("appSettings"), QVariant::fromValue<QObject*>(AppSettingModel::instance())}});
    engine.load(QUrl(QStringLiteral("qrc:/demo/qml/Main.qml")));
    if (engine.rootObjects().isEmpty())
        return 3;
    auto* window = qobject_cast<QQuickWindow*>(engine.rootObjects().constFirst());
    if (parser.isSet(sizeOption)) {
        const QStringList size = parser.value(sizeOption).split(QLatin1Char('x'));
        const int width = size.value(0).toInt();
        const int height = size.value(1).toInt();
        if (size.size() != 2 || width < window->minimumWidth() || height < window->minimumHeight()) {
            std::fprintf(stderr, "--size takes WxH, at least %dx%d\n", window->minimumWidth(),
                         window->minimumHeight());
            return 2;
        }
        window->resize(width, height);
    }

    a.start();
    b.start();

    QString scenario = parser.value(scenarioOption);
    if (scenario.isEmpty() && headless)
        scenario = QCoreApplication::applicationDirPath() + QStringLiteral("/scenarios/default.js");
    if (scenario.isEmpty())
        return app.exec();

    ScenarioApi api(&a, &b, &server, &worldOffset);
    return runScenario(engine, window, api, scenario, parser.value(shotsOption), headless);
}
