#pragma once

#include "host/hostglobal.h"

#include <QByteArray>

// Per-account settings kept by the host. Reads are served from memory; writes persist in
// the background.
class HOST_EXPORT AccountSettingModel {
public:
    virtual ~AccountSettingModel();
    // The last privacy settings list, as serialised im::user::ListPrivacySettingsResp bytes.
    virtual QByteArray privacySettings() const = 0;
    virtual void savePrivacySettings(const QByteArray& bytes) = 0;
};
