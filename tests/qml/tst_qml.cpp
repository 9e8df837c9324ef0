// Loads the demo's screens offscreen against a device on the simulated server.
#include "demodevice.h"
#include "refcontacts.h"
#include "simserver.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QtQuickTest>

class Setup : public QObject {
    Q_OBJECT
public slots:
    void applicationAvailable()
    {
        QQuickStyle::setStyle(QStringLiteral("Basic"));
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    }

    void qmlEngineAvailable(QQmlEngine* engine)
    {
        m_server = std::make_unique<SimServer>();
        m_device = std::make_unique<DemoDevice>(QStringLiteral("A"), 1, m_dir.path(), m_server.get(),
                                                [] { return QDateTime::currentMSecsSinceEpoch(); });
        for (auto [id, name] : {std::pair{101, "Alice Wong"}, {102, "Bruno Diaz"}, {103, "Chen Li"}})
            m_device->account()->refUserManager()->addUser(id, QString::fromLatin1(name));
        m_device->start();
        engine->rootContext()->setContextProperty(QStringLiteral("testDevice"), m_device.get());
        engine->rootContext()->setContextProperty(QStringLiteral("server"), m_server.get());
    }

    void cleanupTestCase()
    {
        m_device.reset();
        m_server.reset();
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<SimServer> m_server;
    std::unique_ptr<DemoDevice> m_device;
};

QUICK_TEST_MAIN_WITH_SETUP(settingmodel_qml, Setup)
#include "tst_qml.moc"
