#include "logging.h"

Q_LOGGING_CATEGORY(lcSettingModel, "im.settingmodel")
