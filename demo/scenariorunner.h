#pragma once

#include "simserver.h"

#include <QElapsedTimer>
#include <QJSValue>
#include <QObject>
#include <QTimer>

class DemoDevice;
class QJSEngine;
class QQuickWindow;

// What a scenario script sees as `demo`: both devices, the server's controls, the world
// clock, checks, screens and screenshots. One device of a server process has A only (B and
// server are null).
class ScenarioApi : public QObject {
    Q_OBJECT
    Q_PROPERTY(DemoDevice* A READ deviceA CONSTANT)
    Q_PROPERTY(DemoDevice* B READ deviceB CONSTANT)
    Q_PROPERTY(SimServer* server READ server CONSTANT)
    Q_PROPERTY(qint64 now READ now NOTIFY clockChanged)
    // The machine's audio outputs and screens, as the module publishes them.
    Q_PROPERTY(QObject* audio READ audio CONSTANT)
    Q_PROPERTY(QObject* screens READ screens CONSTANT)
public:
    // worldOffset: how far the demo's world clock runs ahead of real time.
    ScenarioApi(DemoDevice* a, DemoDevice* b, SimServer* server, qint64* worldOffset,
                QObject* parent = nullptr);

    DemoDevice* deviceA() const { return m_a; }
    DemoDevice* deviceB() const { return m_b; }
    SimServer* server() const { return m_server; }
    qint64 now() const;
    QObject* audio() const;
    QObject* screens() const;

    // A failed check fails the step it was made in, and the run.
    Q_INVOKABLE bool check(bool condition, const QString& what);
    Q_INVOKABLE void log(const QString& text);
    Q_INVOKABLE void advanceClock(qint64 ms);
    // Shows a screen of both devices ("privacy", "devices", "verification", "preferences",
    // "notifications", "wallpapers", "themes", "emoji", "sound"); a suffix after "-" names a picture of it.
    Q_INVOKABLE void showScreen(const QString& name);
    // Saves <name>.png of the screen the name starts with ("wallpapers-dark" shows "wallpapers").
    Q_INVOKABLE void screenshot(const QString& name);
    // A sine tone of that length as a WAV file in the scratch folder; its path.
    Q_INVOKABLE QString tone(const QString& name, int durationMs) const;
    // An image of that size, a gradient over the colour, in the scratch folder; its path.
    Q_INVOKABLE QString image(const QString& name, int width, int height, const QString& color) const;
    // A data folder that cannot be made: a file stands where it should be. Its path.
    Q_INVOKABLE QString unwritableFolder(const QString& name) const;
    // The application's dark mode, shared by both devices.
    Q_INVOKABLE void setDarkMode(bool on);
    // Whether the network counts as reachable (both devices); reset follows the system again.
    Q_INVOKABLE void setNetworkReachable(bool reachable);
    Q_INVOKABLE void followSystemNetwork();
    // The translated text of a message id, as the devices show it.
    Q_INVOKABLE QString tr(const QString& id) const;

    void setWindow(QQuickWindow* window, const QString& screenshotDir);
    QStringList takeMessages();
    int failedChecks() const { return m_failedChecks; }
    QStringList screenshots() const { return m_screenshots; }

signals:
    void clockChanged();

private:
    DemoDevice* m_a;
    DemoDevice* m_b;
    SimServer* m_server;
    qint64* m_worldOffset;
    QQuickWindow* m_window = nullptr;
    QString m_screenshotDir;
    QStringList m_messages;
    QStringList m_screenshots;
    int m_failedChecks = 0;
};

// Runs a scenario file: a script whose `steps` array lists objects with a `name`, an optional
// `run(demo)`, an optional `until(demo)` condition waited for up to `timeout` ms, and an
// optional `screenshot` screen name. Prints a report line per step.
class ScenarioRunner : public QObject {
    Q_OBJECT
public:
    ScenarioRunner(QJSEngine* engine, ScenarioApi* api, QObject* parent = nullptr);
    bool load(const QString& path, QString* error);
    void start();
    int failures() const { return m_failures; }

signals:
    void finished(int failures);

private:
    void beginStep();
    void poll();
    void endStep(bool ok, const QString& why);
    void reportStep(bool ok, const QString& why, qint64 elapsed);
    bool callStepFunction(const char* name, QJSValue* result = nullptr);

    static constexpr int kSettleMs = 350;

    QJSEngine* m_engine;
    ScenarioApi* m_api;
    QJSValue m_steps;
    int m_index = -1;
    int m_count = 0;
    int m_failures = 0;
    int m_checksBefore = 0;
    QTimer m_poll;
    QElapsedTimer m_stepTimer;
    qint64 m_timeout = 0;
};
