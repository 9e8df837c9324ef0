#pragma once

#include "host/hostglobal.h"

#include <QByteArray>
#include <QVariantMap>

// Per-account settings kept by the host. Reads are served from memory; writes persist in
// the background.
class HOST_EXPORT AccountSettingModel {
public:
    virtual ~AccountSettingModel();
    // The last privacy settings list, as serialised im::user::ListPrivacySettingsResp bytes.
    virtual QByteArray privacySettings() const = 0;
    virtual void savePrivacySettings(const QByteArray& bytes) = 0;

    // The account's notification preference, as the synchronised JSON object.
    virtual QVariantMap notifyConfig() const = 0;
    virtual void updateNotifyConfig(const QVariantMap& config) = 0;
    // The muted groups that still notify live in the notification preference, so the user's
    // other devices see them: an edit rewrites it and sends it to the server.
    virtual void updateMutedGroupNotification(const QString& dialogId, bool reply, bool at, bool atAll) = 0;
    virtual void deleteMutedGroupNotification(const QString& dialogId) = 0;
    // Whether notifications show the message's text ("messagePreview" of the notification
    // preference; true when it says nothing).
    virtual bool globalMessagePreview() const = 0;
    virtual QByteArray chatFolderConfig() const = 0;
    virtual void updateChatFolderConfig(const QByteArray& config) = 0;
    // Whether photos and files keep their EXIF data when sent. sync: also tell the server.
    virtual bool mediaMessageExif() const = 0;
    virtual void setMediaMessageExif(bool keep, bool sync) = 0;
    virtual bool fileMessageExif() const = 0;
    virtual void setFileMessageExif(bool keep, bool sync) = 0;

    // The current theme, as serialised im::Theme bytes; empty until one is chosen.
    virtual QByteArray currentTheme() const = 0;
    virtual void updateCurrentTheme(const QByteArray& bytes) = 0;
    // The colour circles, as a JSON array, and the chosen one (-1 for none).
    virtual QByteArray colorCircles() const = 0;
    virtual void updateColorCircles(const QByteArray& json) = 0;
    virtual int selectColorCircleId() const = 0;
    virtual void setSelectColorCircleId(int id) = 0;
    // Colour circles applied to themes and not yet sent to the server, as the theme handler
    // writes them (JSON), so that a change survives the client being closed before it goes.
    virtual QByteArray pendingThemeColors() const = 0;
    virtual void setPendingThemeColors(const QByteArray& json) = 0;

    // The chat appearance of versions before themes, read once to make a theme of it.
    virtual bool containsCustomThemeInfo() const = 0;
    // Forgets that appearance once a theme was made of it.
    virtual void clearCustomThemeInfo() = 0;
    virtual QString chatBackgroundColor() const = 0;
    virtual QString chatBackgroundGradientColor() const = 0;
    virtual QString darkModeChatBackgroundColor() const = 0;
    // The id of the wallpaper chosen then (a row of the wallpaper table).
    virtual QString chatBackgroundId() const = 0;
    virtual int chatBackgroundBlur() const = 0;
    virtual int chatBackgroundGradientRotation() const = 0;
    virtual int chatShaderOpacity() const = 0;
};
