#include "screenmanage.h"

#include <QGuiApplication>
#include <QJSEngine>
#include <QScreen>

class ScreenManagePrivate : public QObject {
    Q_OBJECT
public:
    explicit ScreenManagePrivate(ScreenManage* q) : q(q) {}

    static QString serialNumber(const QScreen* screen)
    {
        return QString::asprintf("%p", static_cast<const void*>(screen));
    }

    QScreen* at(int index) const
    {
        return index >= 0 && index < screens.size() ? screens.at(index) : nullptr;
    }

    void onScreenAdded(QScreen* screen)
    {
        if (!screen || screens.contains(screen))
            return;
        screens.append(screen);
        // The ratio as a whole number, toward zero.
        emit q->screenAdded(int(screens.size()) - 1, serialNumber(screen), screen->geometry(),
                            int(screen->devicePixelRatio()));
    }

    void onScreenRemoved(QScreen* screen)
    {
        const int index = int(screens.lastIndexOf(screen));
        if (index < 0)
            return;
        emit q->screenRemoved(index, serialNumber(screen));
        screens.removeAt(index);
    }

    QList<QScreen*> screens;
    bool initialised = false;
    ScreenManage* const q;
};

Q_GLOBAL_STATIC(ScreenManage, s_screenManage)

ScreenManage::ScreenManage(QObject* parent) : QObject(parent), d(std::make_unique<ScreenManagePrivate>(this))
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

ScreenManage::~ScreenManage() = default;

ScreenManage* ScreenManage::instance()
{
    return s_screenManage;
}

void ScreenManage::init()
{
    if (d->initialised)
        return;
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (app) {
        connect(app, &QGuiApplication::screenAdded, d.get(), &ScreenManagePrivate::onScreenAdded);
        connect(app, &QGuiApplication::screenRemoved, d.get(), &ScreenManagePrivate::onScreenRemoved);
    }
    d->screens = QGuiApplication::screens();
    d->initialised = true;
}

void ScreenManage::uninit()
{
    disconnect(QCoreApplication::instance(), nullptr, d.get(), nullptr);
}

QScreen* ScreenManage::screenAt(int index) const
{
    return d->at(index);
}

QScreen* ScreenManage::screenByPoint(const QPoint& point) const
{
    for (QScreen* screen : d->screens) {
        if (screen->geometry().contains(point))
            return screen;
    }
    return nullptr;
}

QRect ScreenManage::screenGeometryAt(int index) const
{
    const QScreen* screen = d->at(index);
    return screen ? screen->geometry() : QRect();
}

QString ScreenManage::screenSerialNumberAt(int index) const
{
    const QScreen* screen = d->at(index);
    return screen ? ScreenManagePrivate::serialNumber(screen) : QString();
}

QVariantMap ScreenManage::screenInfoAt(int index) const
{
    const QScreen* screen = d->at(index);
    if (!screen)
        return {{QStringLiteral("serialNumber"), QString()},
                {QStringLiteral("geometry"), QRect()},
                {QStringLiteral("dpr"), 1}};
    return {{QStringLiteral("serialNumber"), ScreenManagePrivate::serialNumber(screen)},
            {QStringLiteral("geometry"), screen->geometry()},
            {QStringLiteral("dpr"), screen->devicePixelRatio()}};
}

int ScreenManage::screenCount() const
{
    return int(d->screens.size());
}

#include "screenmanage.moc"
