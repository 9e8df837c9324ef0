#pragma once

#include "settingmodel_global.h"

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QVariantMap>

#include <memory>

class QScreen;
class ScreenManagePrivate;

// The attached screens as QML sees them: by index, in the order they were first seen, with an
// identifier per screen that holds for the life of the process. One process-wide object
// (instance()); QML never owns it.
class SETTINGMODEL_EXPORT ScreenManage : public QObject {
    Q_OBJECT
public:
    explicit ScreenManage(QObject* parent = nullptr);
    ~ScreenManage() override;

    // Created on first use from any thread, destroyed when the library unloads.
    static ScreenManage* instance();

    // Takes the present screens and follows the application's screen changes, once.
    Q_INVOKABLE void init();
    // Stops following; a later init() does not follow again.
    Q_INVOKABLE void uninit();
    Q_INVOKABLE QScreen* screenAt(int index) const;
    Q_INVOKABLE QScreen* screenByPoint(const QPoint& point) const;
    Q_INVOKABLE QRect screenGeometryAt(int index) const;
    Q_INVOKABLE QString screenSerialNumberAt(int index) const;
    // "serialNumber", "geometry" and "dpr".
    Q_INVOKABLE QVariantMap screenInfoAt(int index) const;
    Q_INVOKABLE int screenCount() const;

signals:
    void screenAdded(int screenIndex, const QString& screenSerialNumber, const QRect& screenGeometry,
                     int dpr);
    void screenRemoved(int screenIndex, const QString& screenSerialNumber);

private:
    std::unique_ptr<ScreenManagePrivate> d;
};
