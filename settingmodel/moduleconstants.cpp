#include "moduleconstants.h"

const QString kChatRingtoneKeyFormat = QStringLiteral("ringtone_%1");
