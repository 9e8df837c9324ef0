#pragma once

#include "settingmodel_global.h"

#include <QLoggingCategory>

SETTINGMODEL_EXPORT Q_DECLARE_LOGGING_CATEGORY(lcSettingModel)
