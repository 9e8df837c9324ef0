#pragma once

#include "device/audiomanage.h"
#include "device/screenmanage.h"

#include <QQmlEngine>
#include <QtQml/qqmlregistration.h>

// QML's AudioManage and ScreenManage singletons are the process-wide objects (instance()), kept
// by C++. Declared here rather than on the classes: a class QML can construct by default would
// get one new object per engine instead.
namespace devicesingletons {

template <typename T> T* keptByCpp(T* object)
{
    QJSEngine::setObjectOwnership(object, QJSEngine::CppOwnership);
    return object;
}

} // namespace devicesingletons

struct AudioManageSingleton {
    Q_GADGET
    QML_FOREIGN(AudioManage)
    QML_NAMED_ELEMENT(AudioManage)
    QML_SINGLETON
public:
    static AudioManage* create(QQmlEngine*, QJSEngine*)
    {
        return devicesingletons::keptByCpp(AudioManage::instance());
    }
};

struct ScreenManageSingleton {
    Q_GADGET
    QML_FOREIGN(ScreenManage)
    QML_NAMED_ELEMENT(ScreenManage)
    QML_SINGLETON
public:
    static ScreenManage* create(QQmlEngine*, QJSEngine*)
    {
        return devicesingletons::keptByCpp(ScreenManage::instance());
    }
};
