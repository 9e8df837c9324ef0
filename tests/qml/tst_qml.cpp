// Loads the demo's screens offscreen against a device on the simulated server.
#include "demodevice.h"
#include "refcontacts.h"
#include "settingmodel.h"
#include "simserver.h"
#include "wallpapers/wallpaperhandler.h"
#include "wallpapers/wallpaperitem.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QThread>
#include <QtQuickTest>

// What a client does with the registered names: wallpapers made on a worker reach the main
// thread through a connection made by signature (the names must be known), and QML asks
// whether a name is a known type.
class QueuedRelay : public QObject {
    Q_OBJECT
    Q_PROPERTY(int received READ received NOTIFY receivedChanged)
public:
    // Connected by signature, as code written against the names does: only once they are known.
    // Each test file has its own engine, and so registers again.
    void connectByName()
    {
        connect(this, SIGNAL(made(QList<WallpaperItemPtr>)), this, SLOT(take(QList<WallpaperItemPtr>)),
                Qt::ConnectionType(Qt::QueuedConnection | Qt::UniqueConnection));
    }

    int received() const { return m_received; }

    Q_INVOKABLE bool knowsType(const QString& name) const
    {
        return QMetaType::fromName(name.toLatin1()).isValid();
    }

    Q_INVOKABLE void sendFromWorker(int count)
    {
        QThread* main = thread();
        auto* worker = QThread::create([this, main, count] {
            QList<WallpaperItemPtr> items;
            for (int i = 0; i < count; ++i) {
                items.append(WallpaperItemPtr::create(QVariantMap()));
                items.last()->moveToThread(main);
            }
            emit made(items);
        });
        connect(worker, &QThread::finished, worker, &QObject::deleteLater);
        worker->start();
    }

signals:
    void made(const QList<WallpaperItemPtr>& items);
    void receivedChanged();

private slots:
    void take(const QList<WallpaperItemPtr>& items)
    {
        m_received += int(items.size());
        emit receivedChanged();
    }

private:
    int m_received = 0;
};

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
        SettingModel::registerMetaType(engine->rootContext(), "SettingModel");
        WallpaperHandler::registerMetaType("SettingModel");
        m_relay.connectByName();
        engine->rootContext()->setContextProperty(QStringLiteral("relay"), &m_relay);
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
    QueuedRelay m_relay;
    std::unique_ptr<SimServer> m_server;
    std::unique_ptr<DemoDevice> m_device;
};

QUICK_TEST_MAIN_WITH_SETUP(settingmodel_qml, Setup)
#include "tst_qml.moc"
