#pragma once

#include "commands/settingservicecmd.h"
#include "preferences/sharedpreferencemodel.h"
#include "testaccount.h"
#include "transport.h"
#include "wallpapers/wallpaperhandler.h"
#include "wallpapers/wallpaperservicecmd.h"

#include <QtGlobal>

#include <utility>

// What the first byte of a fuzz input picks, shared by the targets and the seed maker.
namespace fuzztables {

inline constexpr quint16 kAnswered[] = {SettingServiceCmd::ListDevices,
                                        SettingServiceCmd::ListPrivacySettings,
                                        SettingServiceCmd::GetVerificationSetting,
                                        SettingServiceCmd::VerifyPassword,
                                        SettingServiceCmd::ListFeatures,
                                        SettingServiceCmd::ListSharedPreferences,
                                        SettingServiceCmd::UpdateSharedPreferences,
                                        WallpaperServiceCmd::List};

inline constexpr int kPushes[] = {PushSharedPreferenceUpdated, PushWallpaperUpdated, PushAccountInfoUpdated};

// Every preference type under a key its owner takes.
inline constexpr std::pair<int, const char*> kValues[] = {{1, "notification"},
                                                          {2, "desktop_notification"},
                                                          {3, "user_status_setting"},
                                                          {4, "pin_message_blacklist_d1"},
                                                          {5, "sticker_favorite"},
                                                          {6, "random_message_preview"},
                                                          {7, "reminder-1"},
                                                          {8, "folder_1"},
                                                          {10, "dialog_folder_order"},
                                                          {11, "dialog_folder_config"},
                                                          {12, "42"},
                                                          {13, "43"},
                                                          {15, "custom_ringtone_list"},
                                                          {16, "ringtone_d1"},
                                                          {17, "gif_history"},
                                                          {21, "dialog_folder_order_extern"},
                                                          {22, "screen_lock_log"},
                                                          {23, "exif_media_message"},
                                                          {24, "theme-1"},
                                                          {25, "👍"}};

// Values the module reads back from this device's own storage.
enum Stored { RecentEmoji, RecentReactions, ColorCircles, WallpaperRow, kStoredCount };

// Asks the account for the command, so that an answer has a request to go to; an update sends
// this notification value.
inline void ask(TestAccount& t, quint16 command, const QByteArray& notification)
{
    switch (command) {
    case SettingServiceCmd::ListDevices: t.cmd->listDevices(); break;
    case SettingServiceCmd::ListPrivacySettings: t.cmd->listPrivacySettings(); break;
    case SettingServiceCmd::GetVerificationSetting: t.cmd->getVerificationSetting(); break;
    case SettingServiceCmd::VerifyPassword: t.cmd->verifyPassword(QStringLiteral("password")); break;
    case SettingServiceCmd::ListFeatures: t.cmd->listFeatures(); break;
    case SettingServiceCmd::ListSharedPreferences: t.cmd->listSharedPreferences(0); break;
    case SettingServiceCmd::UpdateSharedPreferences: t.prefs->syncNotifySetting(notification); break;
    default: t.account->wallpaperHandler()->getNewData(); break;
    }
}

template <class T, size_t N> int indexOf(const T (&table)[N], const T& value)
{
    for (size_t i = 0; i < N; ++i) {
        if (table[i] == value)
            return int(i);
    }
    return -1;
}

} // namespace fuzztables
