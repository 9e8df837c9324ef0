<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name></name>
    <message id="general_fail">
        <source>general_fail</source>
        <translation>Something went wrong. Please try again.</translation>
    </message>
    <message id="ab_privacy_settings_get_fail">
        <source>ab_privacy_settings_get_fail</source>
        <translation>Your privacy settings could not be loaded.</translation>
    </message>
    <message id="ab_verification_get_fail">
        <source>ab_verification_get_fail</source>
        <translation>Your two-step verification settings could not be loaded.</translation>
    </message>
    <message id="cre_email_sent">
        <source>cre_email_sent</source>
        <translation>A verification code is on its way to your e-mail.</translation>
    </message>
    <message id="cre_network_error">
        <source>cre_network_error</source>
        <translation>No connection to the server. Check your network and try again.</translation>
    </message>
    <message id="pwd_error_tip">
        <source>pwd_error_tip</source>
        <translation>Too many wrong passwords. You can try again after %1.</translation>
    </message>
    <message id="main_tip_operation_frequent">
        <source>main_tip_operation_frequent</source>
        <translation>You are doing that too often. Please wait a moment.</translation>
    </message>
    <message id="login_invalid_email">
        <source>login_invalid_email</source>
        <translation>That e-mail address is not valid.</translation>
    </message>
    <message id="eslp_enter_again">
        <source>eslp_enter_again</source>
        <translation>Wrong password. Please enter it again.</translation>
    </message>
    <message id="login_unauthorized_tip">
        <source>login_unauthorized_tip</source>
        <translation>This device is no longer signed in.</translation>
    </message>
    <message id="ab_password_update_ok">
        <source>ab_password_update_ok</source>
        <translation>Your password has been changed.</translation>
    </message>
    <message id="msgsync_try_again">
        <source>msgsync_try_again</source>
        <translation>Please try again in a moment.</translation>
    </message>
    <message id="cre_code_error">
        <source>cre_code_error</source>
        <translation>The verification code is wrong or has expired.</translation>
    </message>
    <message id="ab_verification_update_fail">
        <source>ab_verification_update_fail</source>
        <translation>Two-step verification could not be updated.</translation>
    </message>
    <message id="setting_password_reset_failed">
        <source>setting_password_reset_failed</source>
        <translation>The password reset could not be started.</translation>
    </message>
    <message id="setting_password_reset_failed_content">
        <source>setting_password_reset_failed_content</source>
        <translation>A reset is already pending. It completes on %1.</translation>
    </message>
    <message id="mt_no_network">
        <source>mt_no_network</source>
        <translation>No network connection. Please try again when you are online.</translation>
    </message>
    <message id="fdm_file_not_exist">
        <source>fdm_file_not_exist</source>
        <translation>The file no longer exists.</translation>
    </message>
    <message id="wallpaper_file_format_error">
        <source>wallpaper_file_format_error</source>
        <translation>This file's format is not supported.</translation>
    </message>
    <message id="rem_recent">
        <source>rem_recent</source>
        <translation>Recently used</translation>
    </message>
    <message id="theme_save_failed">
        <source>theme_save_failed</source>
        <translation>The theme could not be saved: its wallpaper could not be copied. Please try again.</translation>
    </message>
    <message id="theme_limit_reached">
        <source>theme_limit_reached</source>
        <translation>You already have 10 themes of your own. Remove one to save another.</translation>
    </message>
    <message id="wallpaper_limit_reached">
        <source>wallpaper_limit_reached</source>
        <translation>You already have as many wallpapers of your own as you may keep. Remove one to add another.</translation>
    </message>
    <message id="wallpaper_delete_refused">
        <source>wallpaper_delete_refused</source>
        <translation>The server kept a wallpaper you deleted. It is shown again.</translation>
    </message>
    <message id="storage_unwritable">
        <source>storage_unwritable</source>
        <translation>Settings cannot be kept on this computer: its data folder cannot be written. Changes still reach the server.</translation>
    </message>
    <message id="setting_refused">
        <source>setting_refused</source>
        <translation>The server did not accept a change to your settings, so it was undone.</translation>
    </message>
    <message id="signed_out_by_device">
        <source>signed_out_by_device</source>
        <translation>This device was signed out from %1.</translation>
    </message>
    <message id="signed_out_by_server">
        <source>signed_out_by_server</source>
        <translation>This device was signed out by the server.</translation>
    </message>
    <message id="signed_out_discarded" numerus="yes">
        <source>signed_out_discarded</source>
        <translation>
            <numerusform>%n change that had not reached the server was discarded.</numerusform>
            <numerusform>%n changes that had not reached the server were discarded.</numerusform>
        </translation>
    </message>
    <message id="connection_unreachable">
        <source>connection_unreachable</source>
        <translation>The server cannot be reached. Trying again; your changes wait on this computer.</translation>
    </message>
    <message id="connection_untrusted">
        <source>connection_untrusted</source>
        <translation>The server's certificate is not trusted, so nothing is sent to it. Check the server's address and certificate.</translation>
    </message>
    <message id="connection_refused">
        <source>connection_refused</source>
        <translation>The server refused this user's name or password: this device does not connect until it signs in with the right ones.</translation>
    </message>
    <message id="storage_full">
        <source>storage_full</source>
        <translation>This computer's disk does not take more data: your latest settings are kept in memory and saved once there is room. Changes still reach the server.</translation>
    </message>
    <message id="storage_saved_again">
        <source>storage_saved_again</source>
        <translation>Your settings are saved on this computer again.</translation>
    </message>
    <message id="file_download_failed">
        <source>file_download_failed</source>
        <translation>A file could not be fetched from the server: it is missing or damaged there.</translation>
    </message>
    <message id="storage_reset">
        <source>storage_reset</source>
        <translation>The settings kept on this computer were damaged and have been set aside. They are read from the server again.</translation>
    </message>
    <message id="ringtone_too_large">
        <source>ringtone_too_large</source>
        <translation>This sound file is too large for a ringtone (at most 1 MB).</translation>
    </message>
    <message id="ringtone_too_long">
        <source>ringtone_too_long</source>
        <translation>This sound is too long for a ringtone (at most 10 seconds).</translation>
    </message>
    <message id="ringtone_upload_refused">
        <source>ringtone_upload_refused</source>
        <translation>The server refused this ringtone. Please choose another file.</translation>
    </message>
    <message id="ringtone_limit_reached">
        <source>ringtone_limit_reached</source>
        <translation>You already have 20 custom ringtones. Remove one to add another.</translation>
    </message>
    <message id="upload_failed">
        <source>upload_failed</source>
        <translation>The upload failed. Please try again.</translation>
    </message>
    <message id="reminderpop_upload_fail">
        <source>reminderpop_upload_fail</source>
        <translation>The ringtone could not be saved.</translation>
    </message>
    <message id="ringtone_remove_tip">
        <source>ringtone_remove_tip</source>
        <translation>Ringtone removed.</translation>
    </message>
    <message id="ringtone_save_tip">
        <source>ringtone_save_tip</source>
        <translation>Ringtone saved.</translation>
    </message>
    <message id="sound_file_missing">
        <source>sound_file_missing</source>
        <translation>This sound is not on this computer yet.</translation>
    </message>
    <message id="sound_no_output">
        <source>sound_no_output</source>
        <translation>This computer has no audio output to play the sound on.</translation>
    </message>
    <message id="sound_cannot_play">
        <source>sound_cannot_play</source>
        <translation>The sound could not be played.</translation>
    </message>
    <message id="ringtone_system_ringtone">
        <source>ringtone_system_ringtone</source>
        <translation>Default</translation>
    </message>
    <message id="ringtone_chime">
        <source>ringtone_chime</source>
        <translation>Chime</translation>
    </message>
    <message id="ringtone_bell">
        <source>ringtone_bell</source>
        <translation>Bell</translation>
    </message>
    <message id="ringtone_pulse">
        <source>ringtone_pulse</source>
        <translation>Pulse</translation>
    </message>
    <message id="ringtone_custom_unnamed">
        <source>ringtone_custom_unnamed</source>
        <translation>Custom ringtone</translation>
    </message>
</context>
</TS>
