#include "scenariorunner.h"

#include "host/appsettingmodel.h"
#include "host/services.h"

#include "host/appdirmanager.h"
#include "media.h"

#include "demodevice.h"
#include "device/audiomanage.h"
#include "device/screenmanage.h"
#include "simserver.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJSEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTextStream>

#include <cstdio>

namespace {
void print(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}
} // namespace

ScenarioApi::ScenarioApi(DemoDevice* a, DemoDevice* b, SimServer* server, qint64* worldOffset,
                         QObject* parent)
    : QObject(parent),
      m_a(a),
      m_b(b),
      m_server(server),
      m_worldOffset(worldOffset)
{
}

qint64 ScenarioApi::now() const
{
    // One device of a server process has no server here: the world clock is its own.
    return m_server ? m_server->now() : QDateTime::currentMSecsSinceEpoch() + *m_worldOffset;
}

QObject* ScenarioApi::audio() const
{
    return AudioManage::instance();
}

QObject* ScenarioApi::screens() const
{
    return ScreenManage::instance();
}

bool ScenarioApi::check(bool condition, const QString& what)
{
    m_messages.append(QStringLiteral("%1 %2").arg(
        condition ? QStringLiteral("  check ok:") : QStringLiteral("  CHECK FAILED:"), what));
    if (!condition)
        ++m_failedChecks;
    return condition;
}

void ScenarioApi::log(const QString& text)
{
    m_messages.append(QStringLiteral("  ") + text);
}

void ScenarioApi::advanceClock(qint64 ms)
{
    *m_worldOffset += ms;
    emit clockChanged();
}

QString ScenarioApi::tone(const QString& name, int durationMs) const
{
    return media::writeWav(AppDirManager::tempDir() + name + QStringLiteral(".wav"), durationMs, 22050);
}

QString ScenarioApi::image(const QString& name, int width, int height, const QString& color) const
{
    return media::writeImage(AppDirManager::tempDir() + name + QStringLiteral(".jpg"), QSize(width, height),
                             QColor::fromString(color));
}

QString ScenarioApi::unwritableFolder(const QString& name) const
{
    const QString path = AppDirManager::tempDir() + name;
    QFile blocker(path);
    if (!blocker.open(QIODevice::WriteOnly))
        qWarning() << "cannot place a file at" << path;
    return path + QStringLiteral("/data");
}

void ScenarioApi::setDarkMode(bool on)
{
    AppSettingModel::instance()->setDarkMode(on);
}

void ScenarioApi::setNetworkReachable(bool reachable)
{
    network::NetworkSubject::instance()->setNetworkReachable(reachable);
}

void ScenarioApi::followSystemNetwork()
{
    network::NetworkSubject::instance()->followSystem();
}

void ScenarioApi::showScreen(const QString& name)
{
    const QString screen = name.section(QLatin1Char('-'), 0, 0);
    if (m_window && m_window->contentItem()) {
        for (QQuickItem* child : m_window->contentItem()->childItems())
            child->setProperty("screen", screen);
    }
}

void ScenarioApi::screenshot(const QString& name)
{
    if (!m_window || m_screenshotDir.isEmpty())
        return;
    showScreen(name);
    const QString path = QDir(m_screenshotDir).filePath(name + QStringLiteral(".png"));
    if (m_window->grabWindow().save(path)) {
        m_screenshots.append(path);
        m_messages.append(QStringLiteral("  screenshot: ") + path);
    } else {
        check(false, QStringLiteral("screenshot %1 written").arg(path));
    }
}

QString ScenarioApi::tr(const QString& id) const
{
    return qtTrId(id.toUtf8().constData());
}

void ScenarioApi::setWindow(QQuickWindow* window, const QString& screenshotDir)
{
    m_window = window;
    m_screenshotDir = screenshotDir;
}

QStringList ScenarioApi::takeMessages()
{
    return std::exchange(m_messages, {});
}

ScenarioRunner::ScenarioRunner(QJSEngine* engine, ScenarioApi* api, QObject* parent)
    : QObject(parent),
      m_engine(engine),
      m_api(api)
{
    m_poll.setInterval(10);
    connect(&m_poll, &QTimer::timeout, this, &ScenarioRunner::poll);
}

bool ScenarioRunner::load(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read %1").arg(path);
        return false;
    }
    // Known while the script loads: a script may choose its steps by device.
    m_engine->globalObject().setProperty(QStringLiteral("demo"), m_engine->newQObject(m_api));
    const QJSValue result = m_engine->evaluate(QString::fromUtf8(file.readAll()), path);
    if (result.isError()) {
        *error = QStringLiteral("%1:%2: %3")
                     .arg(path, result.property(QStringLiteral("lineNumber")).toString(), result.toString());
        return false;
    }
    m_steps = m_engine->globalObject().property(QStringLiteral("steps"));
    m_count = m_steps.property(QStringLiteral("length")).toInt();
    if (!m_steps.isArray() || m_count == 0) {
        *error = QStringLiteral("%1 defines no `steps` array").arg(path);
        return false;
    }
    return true;
}

void ScenarioRunner::start()
{
    QTimer::singleShot(0, this, &ScenarioRunner::beginStep);
}

bool ScenarioRunner::callStepFunction(const char* name, QJSValue* result)
{
    const QJSValue function = m_steps.property(quint32(m_index)).property(QLatin1String(name));
    if (!function.isCallable())
        return true;
    const QJSValue value = function.call({m_engine->globalObject().property(QStringLiteral("demo"))});
    if (value.isError()) {
        m_api->check(false, QStringLiteral("%1() threw: %2").arg(QLatin1String(name), value.toString()));
        return false;
    }
    if (result)
        *result = value;
    return true;
}

void ScenarioRunner::beginStep()
{
    ++m_index;
    if (m_index >= m_count) {
        print(QStringLiteral("\n%1 of %2 steps passed.").arg(m_count - m_failures).arg(m_count));
        emit finished(m_failures);
        return;
    }
    m_checksBefore = m_api->failedChecks();
    const QJSValue step = m_steps.property(quint32(m_index));
    const QJSValue timeout = step.property(QStringLiteral("timeout"));
    m_timeout = timeout.isNumber() ? qint64(timeout.toNumber()) : 5000;
    m_stepTimer.start();
    if (!callStepFunction("run")) {
        endStep(false, QStringLiteral("the step's action failed"));
        return;
    }
    poll();
    if (m_index < m_count && !m_poll.isActive() && m_stepTimer.isValid())
        m_poll.start();
}

void ScenarioRunner::poll()
{
    QJSValue done(true);
    if (!callStepFunction("until", &done)) {
        endStep(false, QStringLiteral("its condition failed"));
        return;
    }
    if (done.toBool()) {
        endStep(true, {});
        return;
    }
    if (m_stepTimer.elapsed() > m_timeout)
        endStep(false, QStringLiteral("timed out after %1 ms").arg(m_timeout));
}

void ScenarioRunner::endStep(bool ok, const QString& why)
{
    m_poll.stop();
    const qint64 elapsed = m_stepTimer.elapsed();
    m_stepTimer.invalidate();
    const QJSValue screen = m_steps.property(quint32(m_index)).property(QStringLiteral("screenshot"));
    if (!ok || !screen.isString()) {
        reportStep(ok, why, elapsed);
        return;
    }
    // Show the screen with fresh tables, and let its transitions finish before the picture.
    m_api->showScreen(screen.toString());
    m_api->deviceA()->refreshPreferences();
    m_api->deviceB()->refreshPreferences();
    QTimer::singleShot(kSettleMs, this, [this, screen, why, elapsed] {
        m_api->screenshot(screen.toString());
        reportStep(true, why, elapsed);
    });
}

void ScenarioRunner::reportStep(bool ok, const QString& why, qint64 elapsed)
{
    if (ok)
        callStepFunction("check");
    ok = ok && m_api->failedChecks() == m_checksBefore;
    if (!ok)
        ++m_failures;
    const QString name = m_steps.property(quint32(m_index)).property(QStringLiteral("name")).toString();
    print(QStringLiteral("[%1/%2] %3 %4 %5 (%6 ms)")
              .arg(m_index + 1)
              .arg(m_count)
              .arg(name.leftJustified(58, QLatin1Char('.')))
              .arg(ok ? QStringLiteral("ok") : QStringLiteral("FAILED"))
              .arg(why)
              .arg(elapsed));
    for (const QString& message : m_api->takeMessages())
        print(message);
    QTimer::singleShot(0, this, &ScenarioRunner::beginStep);
}
