#include "settingmodel.h"

#include "commands/settingservicecmd.h"
#include "device/audiomanage.h"
#include "device/screenmanage.h"
#include "emoji/recentemojimodel.h"
#include "notifications/groupmutedsettingmodel.h"
#include "notifications/ringtonemanager.h"
#include "notifications/ringtonemodel.h"
#include "notifications/ringtonesetting.h"
#include "preferences/sharedpreferencemodel.h"
#include "privacy/privacyitem.h"
#include "privacy/privacymodel.h"
#include "profilephotos/alternativeprofilephoto.h"

#include <QCoreApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QScreen>
#include <QTranslator>

#include <memory>

// Generated with the QML module's type description (qmltyperegistrar).
void qml_register_types_SettingModel();

void SettingModel::registerMetaType(QQmlContext* context, const char* uri)
{
    if (context) {
        context->setContextProperty(QStringLiteral("ScreenManage"), ScreenManage::instance());
        context->setContextProperty(QStringLiteral("AudioManage"), AudioManage::instance());
    }
    // ScreenManage::screenAt hands QML a screen: QML must know the type to read it.
    qRegisterMetaType<QScreen*>("QScreen*");
    qRegisterMetaType<AlternativeProfilePhoto*>("AlternativeProfilePhoto *");
    qRegisterMetaType<SharedPreferenceBase*>("SharedPreferenceBase *");
    qRegisterMetaType<SharedPreferenceModel*>("SharedPreferenceModel *");
    qRegisterMetaType<SettingServiceCmd*>("SettingServiceCmd *");
    qRegisterMetaType<PrivacyItem*>("PrivacyItem *");
    qRegisterMetaType<RecentEmojiModel*>("RecentEmojiModel *");
    qRegisterMetaType<PrivacyModel*>("PrivacyModel *");
    qRegisterMetaType<RingtoneSetting*>("RingtoneSetting *");
    qRegisterMetaType<GlobalRingtoneSetting*>("GlobalRingtoneSetting *");
    qRegisterMetaType<RingtoneModel*>("RingtoneModel *");
    qRegisterMetaType<RingtoneManager*>("RingtoneManager *");
    qRegisterMetaType<GroupMutedSettingModel*>("GroupMutedSettingModel *");
    // The QML module's types now: a module QML already knows by name is not registered again on
    // import, and the next line makes SettingModel known when it is the uri.
    qml_register_types_SettingModel();
    qmlRegisterUncreatableType<PrivacyItem>(uri, 1, 0, "PrivacyItem",
                                            QStringLiteral("PrivacyItemis uncreatable"));
}

QString SettingModel::installTranslator(const QLocale& locale, const QString& directory)
{
    // Built into the library, so that any shell, not only the demo, shows sentences.
    static const QString builtIn = QStringLiteral(":/settingmodel/i18n");
    static std::unique_ptr<QTranslator> installed;
    auto translator = std::make_unique<QTranslator>();
    const QString prefix = QStringLiteral("settingmodel");
    const QString separator = QStringLiteral("_");
    const bool loaded = (!directory.isEmpty() && translator->load(locale, prefix, separator, directory)) ||
                        translator->load(locale, prefix, separator, builtIn) ||
                        translator->load(QLocale(QLocale::English), prefix, separator, builtIn);
    if (!loaded)
        return QString();
    if (installed)
        QCoreApplication::removeTranslator(installed.get());
    installed = std::move(translator);
    QCoreApplication::installTranslator(installed.get());
    return installed->filePath();
}
