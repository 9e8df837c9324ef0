#pragma once

#include "settingmodel_global.h"

#include <QLoggingCategory>
#include <QVariantList>

SETTINGMODEL_EXPORT Q_DECLARE_LOGGING_CATEGORY(lcSettingModel)

// A JSON list the device stored itself. Damaged text (not JSON, or not a list) reads as an empty
// list and is named in a warning, so a lost list leaves a trace.
QVariantList readStoredList(const QByteArray& json, const char* what);
