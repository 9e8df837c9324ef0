#pragma once

// Preference keys and limits shared by the host and its modules.
namespace hostkeys {
inline constexpr char NOTIFICATION[] = "notification";
inline constexpr char DESKTOP_NOTIFICATION[] = "desktop_notification";
inline constexpr char USERSTATUS_SETTING[] = "user_status_setting";
inline constexpr char PIN_MESSAGE_BACKLIST[] = "pin_message_blacklist";
inline constexpr char DIALOG_ID[] = "dialog_id";
inline constexpr char MESSAGE_IDS[] = "message_ids";
inline constexpr char STICKER_FAVORITE[] = "sticker_favorite";
inline constexpr char RANDOM_MESSAGE_PREVIEW[] = "random_message_preview";
inline constexpr char DIALOG_FOLDER_ORDER[] = "dialog_folder_order";
inline constexpr char DIALOG_FOLDER_ORDER_EXTERN[] = "dialog_folder_order_extern";
inline constexpr char DIALOG_FOLDER_CONFIG[] = "dialog_folder_config";
inline constexpr char CUSTOM_RINGTONE_LIST[] = "custom_ringtone_list";
inline constexpr char GIF_HISTORY[] = "gif_history";
inline constexpr char EXIF_MEDIA_MESSAGE[] = "exif_media_message";
inline constexpr char EXIF_FILE_MESSAGE[] = "exif_file_message";
} // namespace hostkeys

// Custom ringtones must stay below these: bytes and milliseconds. A notification sound is a
// short cue; 1 MiB holds about six seconds of CD-quality WAV and far longer compressed tones.
inline constexpr long long CUSTOM_RINGTONE_LIMIT_SIZE = 1024 * 1024;
inline constexpr long long CUSTOM_RINGTONE_LIMIT_DURATION = 10 * 1000;
// How many wallpapers of his own a user may keep: enough to choose from, with a bounded
// footprint on the server (each is a scaled image of a few megabytes and its thumbnail).
inline constexpr int OWNER_WALLPAPER_LIMIT = 20;
// The largest file the file services carry, in bytes of content.
inline constexpr long long FILE_SIZE_LIMIT = 64LL * 1024 * 1024;
