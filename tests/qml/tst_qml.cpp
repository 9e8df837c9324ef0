// Loads the demo's screens offscreen against a device on the simulated server.
#include "demodevice.h"
#include "refcontacts.h"
#include "settingmodel.h"
#include "simserver.h"
#include "wallpapers/wallpaperhandler.h"
#include "wallpapers/wallpaperitem.h"

#include <QImage>
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

    // A picture file for the pickers' paths: a gradient of the given size, in the test's folder.
    Q_INVOKABLE QString pictureFile(int width, int height) const
    {
        QImage image(width, height, QImage::Format_RGB32);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, 128));
        const QString path = m_dir.filePath(QStringLiteral("picture%1x%2.png").arg(width).arg(height));
        return image.save(path) ? path : QString();
    }

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
    QTemporaryDir m_dir;
};

// Warnings of the QML (a missing module, a binding that fails, an unknown property) are kept, and
// the run fails at its end when there were any: QtQuickTest alone only prints them.
QtMessageHandler g_previousHandler = nullptr;
QStringList g_qmlWarnings;

void keepQmlWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QString file = QString::fromUtf8(context.file ? context.file : "");
    const QString category = QString::fromUtf8(context.category ? context.category : "");
    const bool fromQml = category == QLatin1String("qml") || category == QLatin1String("js") ||
                         file.startsWith(QLatin1String("file:")) || file.startsWith(QLatin1String("qrc:")) ||
                         message.contains(QLatin1String("is not installed"));
    if ((type == QtWarningMsg || type == QtCriticalMsg) && fromQml)
        g_qmlWarnings.append(message);
    if (g_previousHandler)
        g_previousHandler(type, context, message);
}

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
        if (!g_previousHandler)
            g_previousHandler = qInstallMessageHandler(keepQmlWarnings);
        SettingModel::registerMetaType(engine->rootContext(), "SettingModel");
        WallpaperHandler::registerMetaType("SettingModel");
        m_relay.connectByName();
        engine->rootContext()->setContextProperty(QStringLiteral("relay"), &m_relay);
        m_device.reset();
        m_other.reset();
        m_server = std::make_unique<SimServer>();
        DemoDevice::publishStickers(m_server.get());
        // The screens under test run on device A; device B is the user's other device, where a
        // change made on A must arrive through the server.
        auto clock = [] { return QDateTime::currentMSecsSinceEpoch(); };
        m_device = std::make_unique<DemoDevice>(QStringLiteral("A"), 1, m_dir.path(), m_server.get(), clock);
        m_other = std::make_unique<DemoDevice>(QStringLiteral("B"), 2, m_dir.path(), m_server.get(), clock);
        m_device->start();
        m_other->start();
        engine->rootContext()->setContextProperty(QStringLiteral("testDevice"), m_device.get());
        engine->rootContext()->setContextProperty(QStringLiteral("otherDevice"), m_other.get());
        engine->rootContext()->setContextProperty(QStringLiteral("server"), m_server.get());
    }

    void cleanupTestCase()
    {
        m_device.reset();
        m_other.reset();
        m_server.reset();
        if (!g_qmlWarnings.isEmpty())
            qFatal("%lld QML warnings, the first: %s", qlonglong(g_qmlWarnings.size()),
                   qPrintable(g_qmlWarnings.first()));
    }

private:
    QTemporaryDir m_dir;
    QueuedRelay m_relay;
    std::unique_ptr<SimServer> m_server;
    std::unique_ptr<DemoDevice> m_device;
    std::unique_ptr<DemoDevice> m_other;
};

QUICK_TEST_MAIN_WITH_SETUP(settingmodel_qml, Setup)
#include "tst_qml.moc"
