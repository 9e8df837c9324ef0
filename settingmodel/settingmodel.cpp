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

#include <QQmlContext>
#include <QQmlEngine>

void SettingModel::registerMetaType(QQmlContext* context, const char* uri)
{
    if (context) {
        context->setContextProperty(QStringLiteral("ScreenManage"), ScreenManage::instance());
        context->setContextProperty(QStringLiteral("AudioManage"), AudioManage::instance());
    }
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
    qmlRegisterUncreatableType<PrivacyItem>(uri, 1, 0, "PrivacyItem",
                                            QStringLiteral("PrivacyItemis uncreatable"));
}
