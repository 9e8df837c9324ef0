#pragma once

#include "settingmodel_global.h"

class QQmlContext;

// What a client shell calls once, before it creates QML that uses the module's types.
class SETTINGMODEL_EXPORT SettingModel {
public:
    // Publishes "ScreenManage" and "AudioManage" to the context (skipped without one), makes
    // the module's object pointer types known by name, and PrivacyItem a QML type of uri 1.0
    // that QML may name but not create.
    static void registerMetaType(QQmlContext* context, const char* uri);
};
