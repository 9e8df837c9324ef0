#include "screenmanage.h"

#include <QGuiApplication>
#include <QJSEngine>
#include <QPointer>
#include <QScreen>

class ScreenManagePrivate : public QObject {
    Q_OBJECT
public:
    explicit ScreenManagePrivate(ScreenManage* q) : q(q) {}

    static QString serialNumber(const QScreen* screen)
    {
        return QString::asprintf("%p", static_cast<const void*>(screen));
    }

    // Screens destroyed while changes were not followed (after uninit) leave the list here.
    const QList<QPointer<QScreen>>& live() const
    {
        screens.removeIf([](const QPointer<QScreen>& screen) { return screen.isNull(); });
        return screens;
    }

    QScreen* at(int index) const
    {
        const QList<QPointer<QScreen>>& list = live();
        return index >= 0 && index < list.size() ? list.at(index).data() : nullptr;
    }

    void onScreenAdded(QScreen* screen)
    {
        if (!screen || live().contains(screen))
            return;
        screens.append(screen);
        // The ratio as a whole number, toward zero.
        emit q->screenAdded(int(screens.size()) - 1, serialNumber(screen), screen->geometry(),
                            int(screen->devicePixelRatio()));
    }

    void onScreenRemoved(QScreen* screen)
    {
        const int index = int(live().lastIndexOf(screen));
        if (index < 0)
            return;
        emit q->screenRemoved(index, serialNumber(screen));
        screens.removeAt(index);
    }

    mutable QList<QPointer<QScreen>> screens;
    bool initialised = false;
    ScreenManage* const q;
};

Q_GLOBAL_STATIC(ScreenManage, s_screenManage)

ScreenManage::ScreenManage(QObject* parent) : QObject(parent), d(std::make_unique<ScreenManagePrivate>(this))
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
    // Screens are the application thread's, whichever thread asks first.
    if (const QCoreApplication* app = QCoreApplication::instance(); app && !parent) {
        moveToThread(app->thread());
        d->moveToThread(app->thread());
    }
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
    const QList<QScreen*> present = QGuiApplication::screens();
    d->screens = QList<QPointer<QScreen>>(present.cbegin(), present.cend());
    d->initialised = true;
}

void ScreenManage::uninit()
{
    disconnect(QCoreApplication::instance(), nullptr, d.get(), nullptr);
}

namespace {
// A screen handed to QML stays the application's: without a parent, the engine would take it and
// delete it when its JavaScript value is collected, and the application would lose the screen.
QScreen* keptByApplication(QScreen* screen)
{
    if (screen)
        QJSEngine::setObjectOwnership(screen, QJSEngine::CppOwnership);
    return screen;
}
} // namespace

QScreen* ScreenManage::screenAt(int index) const
{
    return keptByApplication(d->at(index));
}

QScreen* ScreenManage::screenByPoint(const QPoint& point) const
{
    for (const QPointer<QScreen>& screen : d->live()) {
        if (screen->geometry().contains(point))
            return keptByApplication(screen);
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
    return int(d->live().size());
}

#include "screenmanage.moc"
