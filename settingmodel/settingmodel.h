#pragma once

#include "settingmodel_global.h"

#include <QLocale>
#include <QString>

class QQmlContext;

// What a client shell calls once, before it creates QML that uses the module's types.
class SETTINGMODEL_EXPORT SettingModel {
public:
    // Publishes "ScreenManage" and "AudioManage" to the context (skipped without one), makes
    // the module's object pointer types known by name, and PrivacyItem a QML type of uri 1.0
    // that QML may name but not create.
    static void registerMetaType(QQmlContext* context, const char* uri);

    // Installs the module's translations for the locale in the application: the messages it
    // reports and the names it gives (tones, ...) then read in that language instead of as
    // message ids. "settingmodel_<language>.qm" is looked for in `directory` first (a shell's
    // own translation of the installed settingmodel_en.ts), then among the module's own (English
    // is built in); a locale nobody translated gets English. A second call replaces the first.
    // Returns the file loaded.
    static QString installTranslator(const QLocale& locale = QLocale(), const QString& directory = QString());
};
