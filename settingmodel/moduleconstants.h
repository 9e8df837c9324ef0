#pragma once

#include <QString>

// The key of a chat's ringtone in the shared preferences; %1 is the dialog id.
extern const QString kChatRingtoneKeyFormat;
